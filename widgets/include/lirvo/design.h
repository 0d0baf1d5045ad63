// What the three windows share about turning their design into Qt widgets.
#pragma once

#include <string>

#include <QFont>
#include <QRect>
#include <QString>

class QWidget;

namespace lirvo::widgets {

// A rectangle given in twips, in pixels: 15 twips make one pixel at 96 dpi.
QRect Twips(int left, int top, int width, int height);

// The design's 8-point "MS Sans Serif" where it is installed; elsewhere a condensed sans serif a
// little smaller, so that every caption fits the control the design sized for it.
QFont DesignFont();

// Moves `window` so that its frame is centred on the primary screen (if there is one).
void CenterOnScreen(QWidget& window);

// `text`, read as UTF-8.
QString FromUtf8(const std::string& text);

}  // namespace lirvo::widgets

// What the three windows share: turning their design into Qt widgets, the application's title and
// the way they show messages.
#pragma once

#include <functional>
#include <string>

#include <QFont>
#include <QMessageBox>
#include <QRect>
#include <QString>

class QLabel;
class QPushButton;
class QWidget;

namespace lirvo::widgets {

// The title of message boxes that name none of their own.
inline constexpr const char* kApplicationTitle = "Project1";

// Shows a modal message box. Tests replace it to answer without a modal loop.
using MessageFn =
    std::function<void(QMessageBox::Icon icon, const QString& title, const QString& text)>;

// A MessageFn that shows a modal box with an OK button over `owner`.
MessageFn ModalMessages(QWidget& owner);

// A rectangle given in twips, in pixels: 15 twips make one pixel at 96 dpi.
QRect Twips(int left, int top, int width, int height);

// The design's 8-point "MS Sans Serif" where it is installed; elsewhere a condensed sans serif a
// little smaller, so that every caption fits the control the design sized for it.
QFont DesignFont();

// Moves `window` so that its frame is centred on the primary screen (if there is one).
void CenterOnScreen(QWidget& window);

// `text`, read as UTF-8.
QString FromUtf8(const std::string& text);

// A label or push button named `name` (the object name tests and the screenshot tool find it by)
// with `text`, placed at `geometry` in `parent`.
QLabel* AddLabel(QWidget* parent, const char* name, const char* text, QRect geometry);
QPushButton* AddButton(QWidget* parent, const char* name, const char* text, QRect geometry);

}  // namespace lirvo::widgets

#include "lirvo/design.h"

#include <cmath>

#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QWidget>

namespace lirvo::widgets {

MessageFn ModalMessages(QWidget& owner) {
  return [&owner](QMessageBox::Icon icon, const QString& title, const QString& text) {
    QMessageBox box(icon, title, text, QMessageBox::Ok, &owner);
    box.exec();
  };
}

QRect Twips(int left, int top, int width, int height) {
  const auto px = [](int twips) { return static_cast<int>(std::lround(twips / 15.0)); };
  return {px(left), px(top), px(width), px(height)};
}

QFont DesignFont() {
  if (QFontDatabase::hasFamily(QStringLiteral("MS Sans Serif"))) {
    return QFont(QStringLiteral("MS Sans Serif"), 8);
  }
  QFont font(QStringLiteral("DejaVu Sans Condensed"));
  font.setPointSizeF(7.5);
  return font;
}

void CenterOnScreen(QWidget& window) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) {
    return;
  }
  QRect frame = window.frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  window.move(frame.topLeft());
}

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QLabel* AddLabel(QWidget* parent, const char* name, const char* text, QRect geometry) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  label->setObjectName(QString::fromUtf8(name));
  label->setGeometry(geometry);
  return label;
}

QPushButton* AddButton(QWidget* parent, const char* name, const char* text, QRect geometry) {
  auto* button = new QPushButton(QString::fromUtf8(text), parent);
  button->setObjectName(QString::fromUtf8(name));
  button->setGeometry(geometry);
  return button;
}

}  // namespace lirvo::widgets

// lirvo-demo: start-up. Shows the demo window LirvoDemo (Refresh has run before it appears);
// --console shows the request console Form1, --export the export dialog dlgExport. Closing the
// window ends the application.
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include "Form1.h"
#include "LirvoDemo.h"
#include "dlgExport.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "usage: lirvo-demo [--console | --export] [--screenshot FILE [--click BUTTON]]\n"
    "\n"
    "Opens the Lirvo demo window: it checks the accounting server at http://127.0.0.1:9000 (or\n"
    "at $LIRVO_TALLY_URL when that is set), lists its open companies, and transfers the sales in\n"
    "SampleData.mdb beside this program into the current company.\n"
    "\n"
    "  --console          open the request console instead\n"
    "  --export           open the export selection dialog instead\n"
    "  --screenshot FILE  save a picture of the window as FILE (PNG) and quit; message boxes are\n"
    "                     printed on standard output instead of shown\n"
    "  --click BUTTON     with --screenshot: press the button with that name first\n"
    "  --help             show this help\n";

struct Options {
  enum class Window { kDemo, kConsole, kExport } window = Window::kDemo;
  std::string screenshot;
  std::string click;
};

// Parses the arguments before any display is needed, so --help works without one. Returns the
// exit status to end with, or -1 to go on.
int Parse(const std::vector<std::string_view>& arguments, Options& options) {
  bool windowChosen = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    if (argument == "--help" || argument == "-h") {
      std::cout << kUsage;
      return kExitOk;
    }
    if (argument == "--console" || argument == "--export") {
      if (windowChosen) {
        std::cerr << "lirvo-demo: choose one of --console and --export\n";
        return kExitUsage;
      }
      options.window =
          argument == "--console" ? Options::Window::kConsole : Options::Window::kExport;
      windowChosen = true;
    } else if (argument == "--screenshot" || argument == "--click") {
      if (i + 1 >= arguments.size()) {
        std::cerr << "lirvo-demo: " << argument << " needs a value\n";
        return kExitUsage;
      }
      (argument == "--screenshot" ? options.screenshot : options.click) = arguments[++i];
    } else {
      std::cerr << "lirvo-demo: unexpected argument \"" << argument << "\"\n" << kUsage;
      return kExitUsage;
    }
  }
  if (!options.click.empty() && options.screenshot.empty()) {
    std::cerr << "lirvo-demo: --click goes with --screenshot\n";
    return kExitUsage;
  }
  return -1;
}

// The window as a window manager would frame it: a caption bar holding the title above the
// client area. Screenshots are taken on a display without a window manager, so the caption is
// drawn here.
QImage Framed(QWidget& window) {
  const QPixmap client = window.grab();
  QFont captionFont = window.font();
  captionFont.setBold(true);
  captionFont.setPointSize(9);
  const int border = 1;
  const int captionHeight = QFontMetrics(captionFont).height() + 10;
  QImage image(client.width() + 2 * border, client.height() + captionHeight + border,
               QImage::Format_RGB32);
  image.fill(QColor(0x3A, 0x4A, 0x66));
  QPainter painter(&image);
  painter.setPen(Qt::white);
  painter.setFont(captionFont);
  painter.drawText(QRect(8, 0, image.width() - 16, captionHeight), Qt::AlignVCenter | Qt::AlignLeft,
                   window.windowTitle());
  painter.drawPixmap(border, captionHeight, client);
  painter.end();
  return image;
}

void PrintMessage(QMessageBox::Icon, const QString& title, const QString& text) {
  std::cout << "[" << title.toStdString() << "] " << text.toStdString() << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  const std::vector<std::string_view> arguments(argv + 1, argv + argc);
  if (const int status = Parse(arguments, options); status >= 0) {
    return status;
  }

  QApplication application(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(LirvoDemo::kApplicationTitle));
  const bool screenshot = !options.screenshot.empty();

  QWidget* window = nullptr;  // each window deletes itself when closed
  switch (options.window) {
    case Options::Window::kDemo: {
      auto* demo = new LirvoDemo;
      if (screenshot) {
        demo->showMessage = PrintMessage;
      }
      demo->Form_Load();
      window = demo;
      break;
    }
    case Options::Window::kConsole: {
      auto* console = new Form1;
      if (screenshot) {
        console->showMessage = PrintMessage;
      }
      console->Form_Load();
      window = console;
      break;
    }
    case Options::Window::kExport:
      window = new dlgExport;
      break;
  }
  window->show();
  if (!screenshot) {
    return QApplication::exec();
  }

  int status = kExitOk;
  QTimer::singleShot(0, window, [&] {
    if (!options.click.empty()) {
      auto* button = window->findChild<QPushButton*>(QString::fromStdString(options.click));
      if (button == nullptr) {
        std::cerr << "lirvo-demo: the window has no button named \"" << options.click << "\"\n";
        status = kExitUsage;
        window->close();
        return;
      }
      button->click();
    }
    if (!Framed(*window).save(QString::fromStdString(options.screenshot), "PNG")) {
      std::cerr << "lirvo-demo: cannot write the screenshot " << options.screenshot << '\n';
      status = kExitFailure;
    }
    window->close();
  });
  const int loopStatus = QApplication::exec();
  return status != kExitOk ? status : loopStatus;
}

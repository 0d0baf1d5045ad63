// lirvo-demo: start-up. Shows the demo window LirvoDemo, which then runs Refresh in view; --console
// shows the request console Form1, --export the export dialog dlgExport. Closing the window ends
// the application. Without a display it says what to run instead.
#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSettings>
#include <QTimer>

#include <lirvo/exit_status.h>

#include "Form1.h"
#include "LirvoDemo.h"
#include "dlgExport.h"

namespace {

using lirvo::kExitFailure;
using lirvo::kExitOk;
using lirvo::kExitUsage;

struct Options {
  bool console = false;
  bool exporter = false;
  std::string screenshot;
  std::string click;
  std::string source;
};

// Parses the arguments before any display is needed, so --help and --version work without one.
// Returns the exit status to end with, or -1 to go on.
int Parse(int argc, char** argv, Options& options) {
  CLI::App app(
      "Opens the Lirvo demo window: it checks the accounting server at http://127.0.0.1:9000 (or "
      "at $LIRVO_TALLY_URL when that is set), lists its open companies, and transfers the sales "
      "in SampleData.mdb beside this program into the current company.",
      "lirvo-demo");
  app.set_version_flag("--version", "lirvo-demo " PROJECT_VERSION, "Print the version and exit");
  CLI::Option* console =
      app.add_flag("--console", options.console, "Open the request console instead");
  CLI::Option* exporter =
      app.add_flag("--export", options.exporter, "Open the export selection dialog instead");
  console->excludes(exporter);
  app.add_option("--source", options.source,
                 "With --export: the source to move from (sqlite:PATH, odbc:CONNECTION-STRING or "
                 "access:PATH); remembered for the next --export without it")
      ->type_name("URI")
      ->needs(exporter);
  CLI::Option* screenshot =
      app.add_option(
             "--screenshot", options.screenshot,
             "Save a picture of the window as FILE (PNG) and quit; message boxes are printed on "
             "standard output instead of shown")
          ->type_name("FILE");
  app.add_option("--click", options.click,
                 "With --screenshot: press the button with that name first")
      ->type_name("BUTTON")
      ->needs(screenshot);
  app.footer(
      "Exit status: 0 done; 1 failure (no display, the screenshot could not be written); 2 usage "
      "error.");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
      return app.exit(error);
    }
    std::cerr << "lirvo-demo: " << error.what() << "\n(see lirvo-demo --help)\n";
    return kExitUsage;
  }
  return -1;
}

// Whether a window can be opened: a display is named, or the Qt platform chosen needs none.
bool HasDisplay() {
  const auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
  };
  if (set("DISPLAY") || set("WAYLAND_DISPLAY")) {
    return true;
  }
  const char* chosen = std::getenv("QT_QPA_PLATFORM");
  const std::string platform =
      chosen == nullptr ? "" : std::string(chosen).substr(0, std::string(chosen).find(':'));
  for (const char* withoutDisplay :
       {"offscreen", "minimal", "minimalegl", "linuxfb", "eglfs", "vnc", "vkkhrdisplay"}) {
    if (platform == withoutDisplay) {
      return true;
    }
  }
  return false;
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

// Presses the --click button, saves the framed picture and closes the window; gives the status.
int TakeScreenshot(QWidget& window, const Options& options) {
  int status = kExitOk;
  if (!options.click.empty()) {
    auto* button = window.findChild<QPushButton*>(QString::fromStdString(options.click));
    if (button == nullptr) {
      std::string names;
      for (const QPushButton* known : window.findChildren<QPushButton*>()) {
        if (!known->objectName().isEmpty()) {
          names += (names.empty() ? "" : ", ") + known->objectName().toStdString();
        }
      }
      std::cerr << "lirvo-demo: the window has no button named \"" << options.click
                << "\"; its buttons are " << names << '\n';
      window.close();
      return kExitUsage;
    }
    button->click();
  }
  QFile file(QString::fromStdString(options.screenshot));
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    std::cerr << "lirvo-demo: cannot write the screenshot " << options.screenshot << ": "
              << file.errorString().toStdString() << '\n';
    status = kExitFailure;
  } else if (!Framed(window).save(&file, "PNG") || !file.flush()) {
    std::cerr << "lirvo-demo: cannot write the screenshot " << options.screenshot << ": "
              << file.errorString().toStdString() << '\n';
    status = kExitFailure;
  }
  window.close();
  return status;
}

}  // namespace

// Long: the options read and each window started in turn, clearer whole.
int main(int argc, char** argv) {
  Options options;
  if (const int status = Parse(argc, argv, options); status >= 0) {
    return status;
  }
  if (!HasDisplay()) {
    std::cerr << "lirvo-demo: there is no display to open a window on ($DISPLAY and "
                 "$WAYLAND_DISPLAY are not set).\n"
                 "Run \"lirvo transfer\" to move the sample sales without a window, or take a "
                 "picture of the window under Xvfb: xvfb-run lirvo-demo --screenshot demo.png\n";
    return kExitFailure;
  }

  QApplication application(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(lirvo::widgets::kApplicationTitle));
  QApplication::setOrganizationName(QStringLiteral("Lirvo"));  // where QSettings keeps its file
  const bool screenshot = !options.screenshot.empty();

  // Each window deletes itself when closed. The window shows first; its load (the server queries,
  // each announced as it starts) runs from the event loop right after.
  QWidget* window = nullptr;
  std::function<void()> load = [] {};
  int status = kExitOk;
  bool deferred = false;  // the screenshot waits for the window's own work
  if (options.console) {
    auto* console = new Form1;
    if (screenshot) {
      console->showMessage = PrintMessage;
    }
    load = [console] { console->Form_Load(); };
    window = console;
  } else if (options.exporter) {
    auto* exporter = new dlgExport;
    if (screenshot) {
      exporter->showMessage = PrintMessage;
    }
    // The source given, else the last one used; without either the dialog only lays out.
    QSettings settings;
    const std::string source =
        options.source.empty()
            ? settings.value(QStringLiteral("export/source")).toString().toStdString()
            : options.source;
    if (!source.empty()) {
      exporter->setSource(source);
      if (!options.source.empty() && !exporter->sourceName().empty()) {
        settings.setValue(QStringLiteral("export/source"),
                          QString::fromStdString(exporter->sourceName()));
      }
      if (screenshot && exporter->logsInAtOnce()) {
        // The picture is taken after the login, with every kind the source holds ticked, and
        // with --click Command1 after the run.
        deferred = true;
        QObject::connect(exporter, &dlgExport::loginFinished, exporter, [&, exporter](bool ok) {
          for (QCheckBox* check : exporter->findChildren<QCheckBox*>()) {
            check->setChecked(check->isEnabled());
          }
          if (ok && options.click == "Command1") {
            exporter->findChild<QPushButton*>(QStringLiteral("Command1"))->click();
          } else {
            status = TakeScreenshot(*exporter, options);
          }
        });
        QObject::connect(exporter, &dlgExport::runFinished, exporter, [&, exporter] {
          Options after = options;
          after.click.clear();
          status = TakeScreenshot(*exporter, after);
        });
      }
    }
    window = exporter;
  } else {
    auto* demo = new LirvoDemo;
    if (screenshot) {
      demo->showMessage = PrintMessage;
    }
    load = [demo] { demo->Form_Load(); };
    window = demo;
  }
  window->show();
  QTimer::singleShot(0, window, [&] {
    load();
    if (screenshot && !deferred) {
      status = TakeScreenshot(*window, options);
    }
  });
  const int loopStatus = QApplication::exec();
  return status != kExitOk ? status : loopStatus;
}

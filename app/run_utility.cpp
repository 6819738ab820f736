#include "app/run_utility.h"

#include <QApplication>
#include <QTimer>

#include "app/main_window.h"
#include "app/splash.h"

namespace talkgate::app {

int runUtility(int argc, char** argv,
               const std::function<void(dorrin_usb_encoder::Form1&)>& prepare) {
  QApplication application(argc, argv);
  return runWindows(prepare);
}

int runWindows(const std::function<void(dorrin_usb_encoder::Form1&)>& prepare) {
  // The main window has no close box; "Exit" ends the program even with About windows open.
  QApplication::setQuitOnLastWindowClosed(false);

  int result = 0;
  {
    dorrin_usb_encoder::Form1 window;
    // "Exit" has already closed the other windows and the device: the loop simply ends.
    QObject::connect(
        &window, &dorrin_usb_encoder::Form1::exitRequested, qApp, [] { QApplication::exit(0); },
        Qt::QueuedConnection);
    if (prepare) prepare(window);

    // Widgets live on this thread only: the splash shows here and the main window follows it.
    auto* splash = new dorrin_usb_encoder::velkor_splash_form();
    splash->setAttribute(Qt::WA_DeleteOnClose);
    splash->show();
    QTimer::singleShot(dorrin_usb_encoder::velkor_splash_form::kShowTimeMs, &window,
                       [&window] { window.show(); });
    result = QApplication::exec();
    // Windows opened from the main window go with it, joining their workers, while the device
    // port is still there.
  }
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (top->parentWidget() == nullptr) delete top;
  }
  return result;
}

}  // namespace talkgate::app

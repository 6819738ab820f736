#include "app/run_utility.h"

#include <QApplication>
#include <QTimer>

#include "app/main_window.h"
#include "app/splash.h"

namespace talkgate::app {

int runUtility(int argc, char** argv,
               const std::function<void(dorrin_usb_encoder::Form1&)>& prepare) {
  QApplication application(argc, argv);
  // The main window has no close box; "Exit" ends the program even with About windows open.
  QApplication::setQuitOnLastWindowClosed(false);

  dorrin_usb_encoder::Form1 window;
  QObject::connect(&window, &dorrin_usb_encoder::Form1::exitRequested, &application,
                   &QApplication::quit, Qt::QueuedConnection);
  if (prepare) prepare(window);

  // Widgets live on this thread only: the splash shows here and the main window follows it.
  auto* splash = new dorrin_usb_encoder::velkor_splash_form();
  splash->setAttribute(Qt::WA_DeleteOnClose);
  splash->show();
  QTimer::singleShot(dorrin_usb_encoder::velkor_splash_form::kShowTimeMs, &window,
                     [&window] { window.show(); });
  application.exec();
  // Secondary windows go now, joining their workers, while the device port is still there.
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (top != &window && top->parentWidget() == nullptr) delete top;
  }
  return 0;
}

}  // namespace talkgate::app

// The windows as a window manager sees them: an X server of the test's own (Xvfb) with openbox,
// read back through a connection of its own, as xprop would. Skipped (exit 77, "skipped:")
// where Xvfb, openbox or xdotool is missing.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/about.h"
#include "devtest/self_test.h"
#include "firmware/firmware_upgrade.h"
#include "keycodes/my4way_layout.h"
#include "tests/app/app_fixture.h"
#include "tests/firmware_ui/upgrade_desk.h"

using dorrin_usb_encoder::Form1;

namespace {

constexpr int kWaitMs = 10000;
// _MOTIF_WM_HINTS: flags, functions, decorations, ...
constexpr std::uint32_t kMwmHintsFunctions = 1;
constexpr std::uint32_t kMwmFuncResize = 2, kMwmFuncMove = 4, kMwmFuncMinimize = 8,
                        kMwmFuncMaximize = 16, kMwmFuncClose = 32;

pid_t spawn(const std::vector<std::string>& command) {
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> args;
    for (const std::string& part : command) args.push_back(const_cast<char*>(part.c_str()));
    args.push_back(nullptr);
    std::freopen("/dev/null", "w", stdout);
    std::freopen(getenv("WMTEST_LOG") ? getenv("WMTEST_LOG") : "/dev/null", "a", stderr);
    execvp(args[0], args.data());
    _exit(127);
  }
  return pid;
}

void stop(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  pid = -1;
}

// An X server with openbox on it, for as long as the object lives.
class X11Session {
 public:
  X11Session() {
    for (const char* tool : {"Xvfb", "openbox", "xdotool"}) {
      if (QStandardPaths::findExecutable(tool).isEmpty()) {
        skipReason_ = std::string(tool) + " is not installed";
        return;
      }
    }
    // Xvfb picks a free display itself and names it on a pipe, so two runs of this test at
    // once never share a server (and its window manager).
    int named[2];
    if (pipe(named) == 0) {
      // -noreset: a server that resets when its last client leaves (the test's own check that
      // it is up) can take openbox down with it on a loaded machine.
      xvfb_ = spawn({"Xvfb", "-displayfd", std::to_string(named[1]), "-noreset", "-screen", "0",
                     "1280x1024x24", "-nolisten", "tcp"});
      close(named[1]);
      char number[16] = {};
      const ssize_t got = read(named[0], number, sizeof number - 1);
      close(named[0]);
      const std::string name = got > 0 ? ":" + std::string(number, strcspn(number, "\n")) : "";
      if (!name.empty() && waitForServer(name)) display_ = name;
      else stop(xvfb_);
    }
    if (display_.empty()) {
      skipReason_ = "no X display could be started";
      return;
    }
    setenv("DISPLAY", display_.c_str(), 1);
    // openbox now and then never takes over a fresh server; another one does.
    for (int attempt = 0; attempt < 3; ++attempt) {
      openbox_ = spawn({"openbox", "--sm-disable"});
      if (waitForWindowManager()) return;
      stop(openbox_);
    }
    skipReason_ = "openbox did not start on " + display_;
  }
  ~X11Session() {
    stop(openbox_);
    stop(xvfb_);
  }
  const std::string& skipReason() const { return skipReason_; }

 private:
  static bool waitForServer(const std::string& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
      xcb_connection_t* c = xcb_connect(name.c_str(), nullptr);
      const bool up = xcb_connection_has_error(c) == 0;
      xcb_disconnect(c);
      if (up) return true;
      usleep(50000);
    }
    return false;
  }
  bool waitForWindowManager() const;

  std::string display_;
  std::string skipReason_;
  pid_t xvfb_ = -1;
  pid_t openbox_ = -1;
};

// A client connection of the test's own: what the window manager and xprop read.
class XView {
 public:
  XView() : c_(xcb_connect(nullptr, nullptr)) {
    root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
  }
  ~XView() { xcb_disconnect(c_); }
  XView(const XView&) = delete;
  XView& operator=(const XView&) = delete;

  xcb_window_t root() const { return root_; }
  xcb_atom_t atom(const char* name) const {
    auto* reply = xcb_intern_atom_reply(
        c_, xcb_intern_atom(c_, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
  }
  std::string atomName(xcb_atom_t atom) const {
    auto* reply = xcb_get_atom_name_reply(c_, xcb_get_atom_name(c_, atom), nullptr);
    std::string name = reply ? std::string(xcb_get_atom_name_name(reply),
                                           static_cast<std::size_t>(
                                               xcb_get_atom_name_name_length(reply)))
                             : std::string();
    std::free(reply);
    return name;
  }
  // A property of 32-bit items (windows, atoms, cardinals); empty when the window has none.
  std::vector<std::uint32_t> property(xcb_window_t window, const char* name) const {
    return property(window, atom(name));
  }
  std::vector<std::uint32_t> property(xcb_window_t window, xcb_atom_t property) const {
    auto* reply = xcb_get_property_reply(
        c_, xcb_get_property(c_, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024),
        nullptr);
    std::vector<std::uint32_t> items;
    if (reply != nullptr && reply->format == 32) {
      const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
      items.assign(data, data + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return items;
  }
  // Where a point of a widget is on the screen, as the X server has the window placed now
  // (Qt learns of the window manager's moves later).
  QPoint onScreen(const QWidget* w, QPoint local) const {
    const QWidget* top = w->window();
    const QPoint inTop = w->mapTo(top, local);
    auto* reply = xcb_translate_coordinates_reply(
        c_,
        xcb_translate_coordinates(c_, static_cast<xcb_window_t>(top->winId()), root_,
                                  static_cast<std::int16_t>(inTop.x()),
                                  static_cast<std::int16_t>(inTop.y())),
        nullptr);
    const QPoint at = reply ? QPoint(reply->dst_x, reply->dst_y) : w->mapToGlobal(local);
    std::free(reply);
    return at;
  }
  QStringList atomNames(xcb_window_t window, const char* name) const {
    QStringList names;
    for (std::uint32_t a : property(window, name)) names << QString::fromStdString(atomName(a));
    return names;
  }

 private:
  xcb_connection_t* c_;
  xcb_window_t root_ = 0;
};

bool X11Session::waitForWindowManager() const {
  XView x;
  bool announced = false;
  for (int attempt = 0; attempt < 60 && !announced; ++attempt) {
    announced = !x.property(x.root(), "_NET_SUPPORTING_WM_CHECK").empty();
    if (!announced) usleep(50000);
  }
  if (!announced) return false;
  // openbox announces itself before its start-up is over, and a window mapped in that moment
  // is never managed (it stays unmapped for good). A window of the test's own, mapped again
  // until openbox takes it, proves that the program's windows will be handled.
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  const xcb_window_t probe = xcb_generate_id(c);
  xcb_create_window(c, XCB_COPY_FROM_PARENT, probe, screen->root, 0, 0, 10, 10, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
  bool handled = false;
  for (int attempt = 0; attempt < 200 && !handled; ++attempt) {
    if (attempt % 20 == 0) {
      xcb_unmap_window(c, probe);
      xcb_map_window(c, probe);
      xcb_flush(c);
    }
    usleep(50000);
    handled = !x.property(probe, "_NET_WM_ALLOWED_ACTIONS").empty();
  }
  xcb_destroy_window(c, probe);
  xcb_disconnect(c);
  return handled;
}

xcb_window_t xid(const QWidget* w) {
  return static_cast<xcb_window_t>(w->winId());
}

// True once openbox manages the window (it has told the window what it may do).
bool managed(const XView& x, const QWidget* w) {
  return QTest::qWaitFor(
      [&] { return !x.property(xid(w), "_NET_WM_ALLOWED_ACTIONS").empty(); }, kWaitMs);
}

// A real click through the X server, as the operator's mouse gives it.
void clickOnScreen(const QWidget* w, QPoint at) {
  const QPoint global = XView().onScreen(w, at);
  const pid_t pid = spawn({"xdotool", "mousemove", std::to_string(global.x()),
                           std::to_string(global.y()), "click", "1"});
  int status = 0;
  waitpid(pid, &status, 0);
  QCoreApplication::processEvents();
}

// Moves a window and waits until the window manager has placed it there.
bool moveAside(QWidget* window, QPoint to) {
  window->move(to);
  const bool moved = QTest::qWaitFor([&] { return window->pos() == to; }, kWaitMs);
  QTest::qWait(50);
  return moved;
}

template <typename Window>
Window* openWindow() {
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (auto* window = qobject_cast<Window*>(top); window && window->isVisible()) return window;
  }
  return nullptr;
}

// The main window's buttons and menu open each of the four secondary windows.
QWidget* openSecondary(Form1& w, const QString& which) {
  if (which == "about") {
    w.aboutAction->trigger();
    return openWindow<dorrin_usb_encoder::about>();
  }
  if (which == "editor") {
    w.button1->click();
    return openWindow<dorrin_usb_encoder::My4way_layout>();
  }
  if (which == "self test") {
    w.button2->click();
    return openWindow<dorrin_usb_encoder::self_test>();
  }
  w.btnLoadFirmware->click();
  return openWindow<dorrin_usb_encoder::firmware_upgrade>();
}

}  // namespace

class WindowManagerTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(userFolder_.isValid());
    apptest::isolateUserFolder(userFolder_);
  }
  void secondaryWindowsStayInFrontOfTheMainWindow_data();
  void secondaryWindowsStayInFrontOfTheMainWindow();
  void updateFirmwareBringsTheOpenUpgradeWindowForward();
  void closeClickedWhileWaitingForTheNewFirmwareIsAnswered();

 private:
  QTemporaryDir userFolder_;
};

void WindowManagerTest::secondaryWindowsStayInFrontOfTheMainWindow_data() {
  QTest::addColumn<QString>("which");
  // The functions each title bar asks the window manager for: move and resize always, close
  // where the window has a close box of its own.
  QTest::addColumn<std::uint32_t>("functions");
  QTest::newRow("about") << "about" << (kMwmFuncMove | kMwmFuncResize | kMwmFuncClose);
  QTest::newRow("editor") << "editor" << (kMwmFuncMove | kMwmFuncResize);
  QTest::newRow("self test") << "self test" << (kMwmFuncMove | kMwmFuncResize);
  QTest::newRow("upgrade") << "upgrade" << (kMwmFuncMove | kMwmFuncResize | kMwmFuncClose);
  QTest::newRow("main") << "main" << (kMwmFuncMove | kMwmFuncResize);
}

void WindowManagerTest::secondaryWindowsStayInFrontOfTheMainWindow() {
  QFETCH(QString, which);
  QFETCH(std::uint32_t, functions);
  XView x;
  apptest::Desk desk(apptest::deviceWith(5, 0, 1));  // the editor needs the customised table
  Form1& w = desk.start();
  QVERIFY(managed(x, &w));
  QWidget* window = which == "main" ? &w : openSecondary(w, which);
  QVERIFY(window != nullptr);
  QVERIFY(managed(x, window));

  const auto hints = x.property(xid(window), "_MOTIF_WM_HINTS");
  QVERIFY(hints.size() >= 3);
  QVERIFY(hints[0] & kMwmHintsFunctions);
  QCOMPARE(hints[1], functions);
  const QStringList allowed = x.atomNames(xid(window), "_NET_WM_ALLOWED_ACTIONS");
  // A window of fixed size is offered no maximise; openbox offers close and minimise whatever
  // a window asks (its own rule), so those are not looked at here.
  if (window->minimumSize() == window->maximumSize()) {
    QVERIFY2(!allowed.contains("_NET_WM_ACTION_MAXIMIZE_VERT"), qPrintable(allowed.join(' ')));
  }
  if (window == &w) return;

  // Owned: the window manager is told whose window it is ...
  QCOMPARE(x.property(xid(window), XCB_ATOM_WM_TRANSIENT_FOR),
           std::vector<std::uint32_t>{xid(&w)});
  // ... and keeps it in front when the operator clicks the main window (where it shows).
  QVERIFY(moveAside(window, w.pos() + QPoint(w.width() / 2, w.height() / 2)));
  clickOnScreen(&w, w.centralWidget()->pos() + QPoint(30, 30));
  QVERIFY(QTest::qWaitFor(
      [&] { return x.property(x.root(), "_NET_ACTIVE_WINDOW") == std::vector{xid(&w)}; },
      kWaitMs));
  QTest::qWait(100);
  const auto stacking = x.property(x.root(), "_NET_CLIENT_LIST_STACKING");
  const auto position = [&](xcb_window_t id) {
    return std::find(stacking.begin(), stacking.end(), id) - stacking.begin();
  };
  QVERIFY(position(xid(window)) < static_cast<long>(stacking.size()));
  QVERIFY2(position(xid(window)) > position(xid(&w)), "the main window came to the front");
}

void WindowManagerTest::updateFirmwareBringsTheOpenUpgradeWindowForward() {
  XView x;
  apptest::Desk desk(apptest::deviceWith(5, 0, 0));
  Form1& w = desk.start();
  QWidget* upgrade = openSecondary(w, "upgrade");
  QVERIFY(upgrade != nullptr && managed(x, upgrade));
  QVERIFY(moveAside(upgrade, w.pos() + QPoint(0, w.height() / 2)));  // the button stays free
  clickOnScreen(&w, w.centralWidget()->pos() + QPoint(30, 30));
  QVERIFY(QTest::qWaitFor(
      [&] { return x.property(x.root(), "_NET_ACTIVE_WINDOW") == std::vector{xid(&w)}; },
      kWaitMs));
  desk.dialogs.clear();

  clickOnScreen(&w, w.btnLoadFirmware->geometry().center() + w.centralWidget()->pos());
  QVERIFY(QTest::qWaitFor(
      [&] { return x.property(x.root(), "_NET_ACTIVE_WINDOW") == std::vector{xid(upgrade)}; },
      kWaitMs));
  int upgrades = 0;
  for (QWidget* top : QApplication::topLevelWidgets()) {
    upgrades += qobject_cast<dorrin_usb_encoder::firmware_upgrade*>(top) != nullptr;
  }
  QCOMPARE(upgrades, 1);
  // Idle, the open window takes the new upgrade: the usual question comes first.
  QVERIFY(desk.dialogs.texts().contains("Are you sure you want to upgrade the firmware?\n"));
}

void WindowManagerTest::closeClickedWhileWaitingForTheNewFirmwareIsAnswered() {
  fwuitest::resetWindowWideValues();
  fwuitest::Desk desk;
  desk.switchTalkgateToLoader();
  dorrin_usb_encoder::firmware_upgrade* window = desk.openWindow();
  XView x;
  QVERIFY(managed(x, window));
  QVERIFY(QTest::qWaitFor([&] { return window->btnBrowse->isEnabled(); }, kWaitMs));
  desk.dialogs.fileAnswers << QString::fromStdString(fwuitest::demoImagePath("1.1.0"));
  window->btnBrowse->click();
  desk.world.talkgate().clearRequests();

  // The window thread's sleeps before the Talkgate hears anything are the wait after "Done!":
  // at its start the operator clicks Close with the mouse.
  long long waitedMs = 0;
  long long waitedWhenAnswered = -1;
  bool clicked = false;
  desk.clock.onWindowThreadSleep = [&](std::chrono::milliseconds slept) {
    if (!desk.world.talkgate().requests().empty()) return;
    if (!clicked && window->statusLog().endsWith("Done!")) {
      clicked = true;
      // Through the X server, without running the program's event loop here: the wait's own
      // loop decides whether the click is heard.
      const QPoint at = x.onScreen(window->btnClose, window->btnClose->rect().center());
      int status = 0;
      waitpid(spawn({"xdotool", "mousemove", std::to_string(at.x()), std::to_string(at.y()),
                     "click", "1"}),
              &status, 0);
    } else if (clicked && waitedWhenAnswered < 0) {
      // The X server delivers the click in real time, later on a loaded machine: each slice
      // of the wait gives it 50 ms more, up to the wait's 6 s.
      usleep(50000);
    }
    waitedMs += slept.count();
  };
  desk.dialogs.whileOpen = [&] {
    if (waitedWhenAnswered < 0) waitedWhenAnswered = waitedMs;
  };
  QSignalSpy done(window, &dorrin_usb_encoder::firmware_upgrade::upgradeCompleted);
  window->btnUpgrade->click();
  QVERIFY(QTest::qWaitFor([&] { return done.count() == 1; }, 60000));
  desk.clock.onWindowThreadSleep = nullptr;

  QVERIFY(clicked);
  QCOMPARE(desk.dialogs.texts().value(0),
           QString(dorrin_usb_encoder::firmware_upgrade::kUpgradeRunningText) + '\n');
  QVERIFY2(waitedWhenAnswered >= 0 && waitedWhenAnswered < 6000,
           qPrintable(QString::number(waitedWhenAnswered)));
  QVERIFY(window->isVisible());
  fwuitest::resetWindowWideValues();
}

int main(int argc, char** argv) {
  X11Session session;
  if (!session.skipReason().empty()) {
    std::printf("skipped: %s\n", session.skipReason().c_str());
    return 77;
  }
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  QApplication application(argc, argv);
  WindowManagerTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "window_manager_test.moc"

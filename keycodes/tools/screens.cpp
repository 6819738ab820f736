// Takes the documentation screenshots of the key code editor (with a selection) and of the self
// test window, on the simulated Talkgate. Usage: talkgate_keys_screens OUTPUT_FOLDER
// (run under a display, e.g. xvfb-run).

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QKeyEvent>
#include <QPushButton>
#include <cstdio>

#include "device/transport.h"
#include "devtest/self_test.h"
#include "keycodes/my4way_layout.h"
#include "sim/sim_talkgate.h"
#include "sim/virtual_bus.h"

namespace {

void settle() {
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

bool save(QWidget* window, const QString& path) {
  settle();
  if (window->grab().save(path)) return true;
  std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: talkgate_keys_screens OUTPUT_FOLDER\n");
    return 2;
  }
  const QDir out(QDir(QString::fromLocal8Bit(argv[1])).absolutePath());
  QDir::setCurrent(QCoreApplication::applicationDirPath());  // where Lumesk.jpg is copied

  talkgate::sim::VirtualBus bus;
  talkgate::hid::setActivePort(&bus);
  talkgate::sim::TalkgateState state;
  state.working.keypadType = 1;
  state.working.symbolBrightness = 6;
  state.working.keyTable = {0x00, 0x6F, 0xE1, 0x70, 0x00, 0x71, 0xE0, 0x28, 0, 0, 0, 0};
  talkgate::sim::SimTalkgate talkgate(bus, state);
  char manufacturer[talkgate::kDeviceStringBuffer] = {};
  char product[talkgate::kDeviceStringBuffer] = {};
  talkgate::hid_handle = talkgate::ScanForUSBDevice_a(talkgate::kVendorId, talkgate::kProductId,
                                                      manufacturer, product);
  if (!talkgate::hid_handle) {
    std::fprintf(stderr, "the simulated Talkgate did not open\n");
    return 1;
  }

  bool ok = true;
  auto* editor = dorrin_usb_encoder::openKeyCodeEditor(nullptr);
  if (!editor) return 1;
  // Key 2 changed to Escape (aqua), keys 1 and 3 selected (orange) with the code list showing.
  editor->findChild<QPushButton*>("key2Btn")->click();
  emit editor->findChild<QComboBox*>("selectCodeCbox")->activated(0x29);
  editor->findChild<QPushButton*>("key1Btn")->click();
  editor->findChild<QPushButton*>("key3Btn")->click();
  ok = save(editor, out.filePath("key-code-editor.png")) && ok;
  delete editor;

  auto* test = new dorrin_usb_encoder::self_test();
  test->setPicture(QDir::currentPath() + "/Lumesk.jpg");
  test->show();
  QKeyEvent f20(QEvent::KeyPress, Qt::Key_F20, Qt::NoModifier);
  QApplication::sendEvent(test, &f20);
  ok = save(test, out.filePath("self-test.png")) && ok;
  delete test;  // puts the device's keypad type and brightness back

  talkgate::hid_exit_safely(talkgate::hid_handle);
  talkgate::hid_handle = nullptr;
  talkgate::hid::setActivePort(nullptr);
  return ok ? 0 : 1;
}

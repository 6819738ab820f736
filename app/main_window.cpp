// The main window's construction, connection, status lines and program end.

#include "app/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStringList>
#include <algorithm>

#include "app/about.h"
#include "app/linked_windows.h"
#include "app/process_state.h"
#include "app/setting_combo_box.h"
#include "app/status_lines.h"
#include "device/commands.h"
#include "device/transport.h"
#include "ui/dialogs.h"

namespace dorrin_usb_encoder {

using talkgate::app::LineStyle;
using talkgate::app::SettingComboBox;

namespace {

const QString kTitle = QStringLiteral("Talkgate Configuration Utility");
const QString kCaptionQds = QStringLiteral("Velkor QDS");
const QString kCaptionTalkgate = QStringLiteral("Velkor Talkgate");
// Shown beside the window's message boxes when the device is on the bus but cannot be opened;
// the usual cause on Linux is the missing udev rule, which talkgatectl names the same way.
const QString kPermissionHint = QStringLiteral(
    "Permission denied opening the Talkgate. Install the udev rule 70-talkgate.rules (the "
    "package puts it in /usr/lib/udev/rules.d; from a source build copy "
    "packaging/70-talkgate.rules to /etc/udev/rules.d), then unplug and replug the device.");

// Client area, and the window sizes the frame (16 by 39 on the reference desktop) is part of.
constexpr QSize kClientSize(891, 533);
constexpr QSize kFrameExtra(16, 39);
constexpr QSize kMinimumWindowSize(907, 500);
constexpr QSize kMaximumWindowSize(907, 1000);
constexpr QSize kStatusBoxSize(680, 68);
constexpr int kExitTop = 400;          // where "Exit" sits in a window of the usual height
constexpr int kExitBottomMargin = 12;  // the least room left below it in a shorter one

QStringList symbolBrightnessEntries() {
  QStringList entries;
  for (int level = 0; level <= talkgate::kMaxSymbolBrightness; ++level) {
    entries << QStringLiteral("Symbol LED Brightness - %1").arg(level);
  }
  return entries;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& text, QRect geometry) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QLatin1String(name));
  button->setGeometry(geometry);
  return button;
}

}  // namespace

Form1::Form1(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("Form1"));
  // No close, minimise or maximise box: the operator ends the program with "Exit".
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setWindowTitle(kTitle);
  buildMenus();
  buildControls();
  setMinimumSize(kMinimumWindowSize - kFrameExtra);
  setMaximumSize(kMaximumWindowSize - kFrameExtra);
  resize(kClientSize);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

Form1::~Form1() = default;

void Form1::buildMenus() {
  menuStrip1 = menuBar();
  menuStrip1->setObjectName(QStringLiteral("menuStrip1"));
  QMenu* file = menuStrip1->addMenu(QStringLiteral("File"));
  importCfgAction = file->addAction(QStringLiteral("Import Cfg File"));
  exportCfgAction = file->addAction(QStringLiteral("Export Cfg File"));
  exitAction = file->addAction(QStringLiteral("Exit"));
  QMenu* help = menuStrip1->addMenu(QStringLiteral("Help"));
  aboutAction = help->addAction(QStringLiteral("About Talkgate Configuration Utility"));

  connect(importCfgAction, &QAction::triggered, this,
          [this] { talkgate::app::importConfigFile(*this); });
  connect(exportCfgAction, &QAction::triggered, this,
          [this] { talkgate::app::exportConfigFile(*this); });
  connect(exitAction, &QAction::triggered, this, &Form1::exitProgram);
  connect(aboutAction, &QAction::triggered, this, &Form1::showAbout);

  statusStrip1 = statusBar();
  statusStrip1->setObjectName(QStringLiteral("statusStrip1"));
  statusStrip1->setSizeGripEnabled(false);
}

void Form1::buildControls() {
  auto* client = new QWidget(this);
  setCentralWidget(client);

  label1 = new QLabel(kTitle, client);
  label1->setObjectName(QStringLiteral("label1"));
  QFont heading = label1->font();
  heading.setPointSize(16);
  heading.setBold(true);
  label1->setFont(heading);
  label1->setAlignment(Qt::AlignCenter);
  label1->setGeometry(0, 10, kClientSize.width(), 40);

  button11 = makeButton(client, "button11", QStringLiteral("Scan For Device"), {24, 79, 150, 34});
  richTextBox1 = new QPlainTextEdit(client);
  richTextBox1->setObjectName(QStringLiteral("richTextBox1"));
  richTextBox1->setReadOnly(true);
  richTextBox1->setLineWrapMode(QPlainTextEdit::NoWrap);
  richTextBox1->setFocusPolicy(Qt::NoFocus);
  richTextBox1->setGeometry(QRect(QPoint(188, 62), kStatusBoxSize));

  constexpr int kColumn1 = 24, kColumn2 = 318, kColumn3 = 612, kColumnWidth = 256;
  constexpr int kListRow = 160, kButtonRow1 = 222, kButtonRow2 = 276, kRowHeight = 34;

  keypadTypeCbox =
      new SettingComboBox({QStringLiteral("Default Table"), QStringLiteral("Customise Table")},
                          QStringLiteral("Keypad Type - %1"), true, client);
  keypadTypeCbox->setObjectName(QStringLiteral("keypadTypeCbox"));
  keypadTypeCbox->setGeometry(kColumn1, kListRow, kColumnWidth, 30);
  keypadTypeCbox->setDisplayText(QStringLiteral("Module - Layout"));
  keypadTypeCbox->setEnabled(false);

  led1BrightnessJOCbox = new SettingComboBox(
      {QStringLiteral("Ambient Cfg - Disable"), QStringLiteral("Ambient Cfg - Enable")},
      QStringLiteral("Ambient Cfg - %1"), true, client);
  led1BrightnessJOCbox->setObjectName(QStringLiteral("led1BrightnessJOCbox"));
  led1BrightnessJOCbox->setGeometry(kColumn2, kListRow, kColumnWidth, 30);
  led1BrightnessJOCbox->setDisplayText(QStringLiteral("Ambient Cfg  - Disable"));
  led1BrightnessJOCbox->setEnabled(false);

  led2BrightnessJOCbox = new SettingComboBox(
      symbolBrightnessEntries(), QStringLiteral("Symbol LED Brightness - %1"), false, client);
  led2BrightnessJOCbox->setObjectName(QStringLiteral("led2BrightnessJOCbox"));
  led2BrightnessJOCbox->setGeometry(kColumn3, kListRow, kColumnWidth, 30);
  led2BrightnessJOCbox->selectEntry(0);

  button1 = makeButton(client, "button1", QStringLiteral("Customise Code Table"),
                       {kColumn1, kButtonRow1, kColumnWidth, kRowHeight});
  button2 = makeButton(client, "button2", QStringLiteral("Test"),
                       {kColumn2, kButtonRow1, kColumnWidth, kRowHeight});
  button3 = makeButton(client, "button3", QStringLiteral("Reset From Configuration File"),
                       {kColumn3, kButtonRow1, kColumnWidth, kRowHeight});
  button8 = makeButton(client, "button8", QStringLiteral("Save Changes"),
                       {kColumn1, kButtonRow2, kColumnWidth, kRowHeight});
  button9 = makeButton(client, "button9", QStringLiteral("Reset To Factory Default"),
                       {kColumn2, kButtonRow2, kColumnWidth, kRowHeight});
  btnLoadFirmware = makeButton(client, "btnLoadFirmware", QStringLiteral("Update Firmware"),
                               {kColumn3, kButtonRow2, kColumnWidth, kRowHeight});
  // Reacts to the mouse only.
  btnLoadFirmware->setFocusPolicy(Qt::NoFocus);
  button10 = makeButton(client, "button10", QStringLiteral("Exit"),
                        {kColumn3 + kColumnWidth - 150, kExitTop, 150, kRowHeight});
  client->installEventFilter(this);
  button1->setEnabled(false);
  button2->setEnabled(false);
  button8->setEnabled(false);
  button9->setEnabled(false);

  connect(button11, &QPushButton::clicked, this, &Form1::scanForDevice);
  connect(button10, &QPushButton::clicked, this, &Form1::exitProgram);
  connect(led2BrightnessJOCbox, &QComboBox::activated, this, &Form1::changeSymbolBrightness);
  connect(led1BrightnessJOCbox, &QComboBox::activated, this, &Form1::changeAmbientConfig);
  connect(keypadTypeCbox, &QComboBox::activated, this, &Form1::changeKeypadType);
  connect(button8, &QPushButton::clicked, this, &Form1::saveChanges);
  connect(button9, &QPushButton::clicked, this, &Form1::resetToFactoryDefault);
  connect(button3, &QPushButton::clicked, this, &Form1::resetFromConfigFile);
  connect(button1, &QPushButton::clicked, this, &Form1::customiseCodeTable);
  connect(button2, &QPushButton::clicked, this, &Form1::openSelfTest);
  connect(btnLoadFirmware, &QPushButton::clicked, this, &Form1::updateFirmware);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == centralWidget() && event->type() == QEvent::Resize) placeExitButton();
  return QMainWindow::eventFilter(watched, event);
}

void Form1::placeExitButton() {
  const int room = centralWidget()->height() - button10->height() - kExitBottomMargin;
  button10->move(button10->x(), std::min(kExitTop, room));
}

void Form1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!loaded_) {
    loaded_ = true;
    loadWindow();
  }
}

void Form1::closeEvent(QCloseEvent* event) {
  // The window has no close box, but a window manager may still close it: end as "Exit" does
  // so the device is not left open, or stay when "Exit" would.
  if (!exiting_) exitProgram();
  if (!exiting_) {
    event->ignore();
    return;
  }
  event->accept();
}

std::int8_t Form1::GetDeviceStatusMessage() {
  talkgate::DeviceStatus status;
  if (talkgate::hid_handle == nullptr || talkgate::readStatus(talkgate::hid_handle, status) != 0) {
    return -1;
  }
  prev_symbolBrightness_index = status.symbolBrightness;
  prev_ambient_cfg_index = status.ambientConfig;
  prev_keypadType_index = status.keypadType;
  std::copy(status.keyTable.begin(), status.keyTable.end(), keyCodeArray.begin());
  firmwareVersion = QString::fromLatin1(status.firmwareVersion);
  serialNumber = QString::fromLatin1(status.serialNumber);
  temperature = QString::fromLatin1(status.temperature);
  return 0;
}

void Form1::EnableDisableFunctionButtons(bool enable) {
  for (QWidget* control :
       {static_cast<QWidget*>(led1BrightnessJOCbox), static_cast<QWidget*>(led2BrightnessJOCbox),
        static_cast<QWidget*>(keypadTypeCbox), static_cast<QWidget*>(button1),
        static_cast<QWidget*>(button8), static_cast<QWidget*>(button9),
        static_cast<QWidget*>(button2), static_cast<QWidget*>(button3)}) {
    control->setEnabled(enable);
  }
}

void Form1::reopenDevice() {
  if (talkgate::hid_handle != nullptr) {
    talkgate::hid_exit_safely(talkgate::hid_handle);
    talkgate::hid_handle = nullptr;
  }
  char manufacturer[talkgate::kDeviceStringBuffer] = {};
  char product[talkgate::kDeviceStringBuffer] = {};
  talkgate::hid::OpenError openError = talkgate::hid::OpenError::None;
  talkgate::hid_handle =
      talkgate::ScanForUSBDevice_a(talkgate::kVendorId, talkgate::kProductId, manufacturer, product,
                                   talkgate::kDeviceStringBuffer, &openError);
  // The hint stays until an open succeeds or the device is no longer seen at all.
  if (openError == talkgate::hid::OpenError::PermissionDenied) {
    statusStrip1->showMessage(kPermissionHint);
  } else {
    statusStrip1->clearMessage();
  }
}

void Form1::loadWindow() {
  talkgate::app::locateConfigFile();
  reopenDevice();
  if (talkgate::hid_handle == nullptr) {
    warn(QStringLiteral("Velkor QDS not connected.."), kCaptionQds);
  }
  if (GetDeviceStatusMessage() == 0) {
    EnableDisableFunctionButtons(true);
    selectRememberedEntries();
    showConnectedLines(LineStyle::Normal);
  } else {
    keypadTypeCbox->setDisplayText(QStringLiteral("Keypad - Layout"));
    led1BrightnessJOCbox->setDisplayText(QStringLiteral("LED Brightness"));
    showDisconnectedLine();
    EnableDisableFunctionButtons(false);
  }
}

void Form1::scanForDevice() {
  reopenDevice();
  if (talkgate::hid_handle == nullptr) {
    warn(QStringLiteral("Velkor Talkgate not connected.."), kCaptionTalkgate);
  }
  if (GetDeviceStatusMessage() == 0) {
    // Written back so the symbol LED shows the level the window is about to display.
    if (talkgate::setSymbolBrightness(
            talkgate::hid_handle, static_cast<std::uint8_t>(prev_symbolBrightness_index)) != 0) {
      warn(QStringLiteral("Unable to set the SYMBOL_LEDs.."), kCaptionTalkgate);
    }
    EnableDisableFunctionButtons(true);
    selectRememberedEntries();
    showConnectedLines(LineStyle::Normal);
  } else {
    warn(QStringLiteral("Unable to Get Device Status.."), kCaptionTalkgate);
    keypadTypeCbox->setDisplayText(QStringLiteral("Keypad - Layout"));
    led1BrightnessJOCbox->setDisplayText(QStringLiteral("LED1 Brightness"));
    led2BrightnessJOCbox->setDisplayText(QStringLiteral("LED2 Brightness"));
    showDisconnectedLine();
    EnableDisableFunctionButtons(false);
  }
}

void Form1::exitProgram() {
  if (exiting_) return;
  // Leaving now would strand the device half-programmed in its loader.
  if (talkgate::app::upgradeRunning(*this)) {
    warn(talkgate::app::upgradeRunningText(), kCaptionTalkgate);
    return;
  }
  // The other windows first, while the device is still open: the self test puts the device's
  // keypad type and brightness back as it closes.
  if (!talkgate::app::closeSecondaryWindows(*this)) return;
  exiting_ = true;
  if (talkgate::hid_handle != nullptr) {
    talkgate::hid_exit_safely(talkgate::hid_handle);
    talkgate::hid_handle = nullptr;
  }
  emit exitRequested();
}

void Form1::showAbout() {
  auto* window = new about(this);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->move(pos());
  window->show();
}

void Form1::selectRememberedEntries() {
  led1BrightnessJOCbox->selectEntry(prev_ambient_cfg_index);
  led2BrightnessJOCbox->selectEntry(prev_symbolBrightness_index);
  keypadTypeCbox->selectEntry(prev_keypadType_index);
}

void Form1::showConnectedLines(LineStyle style) {
  configArray[0] = talkgate::app::connectedLine1(firmwareVersion, style);
  configArray[1] =
      talkgate::app::codeTableLine(keypadTypeCbox->textForValue(prev_keypadType_index));
  configArray[2] = talkgate::app::serialNumberLine(serialNumber, style);
  refreshStatusBox();
}

void Form1::showDisconnectedLine() {
  configArray[0] = talkgate::app::disconnectedLine1();
  refreshStatusBox();
}

void Form1::refreshStatusBox() {
  QStringList lines;
  for (const QString& line : configArray) lines << line;
  richTextBox1->setPlainText(lines.join(QLatin1Char('\n')));
}

void Form1::warn(const QString& text, const QString& caption) {
  talkgate::ui::dialogs().message(this, text + QLatin1Char('\n'), caption,
                                  talkgate::ui::Buttons::Ok, talkgate::ui::Icon::Warning);
}

}  // namespace dorrin_usb_encoder

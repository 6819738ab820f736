#include "firmware/firmware_upgrade.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFont>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStringList>
#include <QTextCursor>
#include <algorithm>
#include <charconv>
#include <exception>
#include <string>
#include <vector>

#include "config/ini_file.h"
#include "config/utility_config.h"
#include "device/clock.h"
#include "device/hid_port.h"
#include "device/return_wait.h"
#include "device/transport.h"
#include "firmware/bsl_wire.h"
#include "firmware/firmware_resources.h"
#include "firmware/loader_images.h"
#include "firmware/programming_sequence.h"
#include "ui/dialogs.h"

namespace dorrin_usb_encoder {
namespace {

using talkgate::ui::Answer;
using talkgate::ui::Buttons;
using talkgate::ui::Icon;

constexpr int kClientWidth = 500;
constexpr int kClientHeight = 320;
constexpr double kLargeFontPoints = 19.8;
const QString kCaptionQds = QStringLiteral("Velkor QDS");
const QString kCaptionTabrin = QStringLiteral("Velkor Tabrin");

// Every open upgrade window that wants device notifications; touched on the GUI thread only.
std::vector<firmware_upgrade*>& registeredWindows() {
  static std::vector<firmware_upgrade*> windows;
  return windows;
}

firmware_upgrade::NotificationFunctions& notificationFunctions() {
  static firmware_upgrade::NotificationFunctions functions;
  return functions;
}

int subscribe(talkgate::firmware::DeviceNotification notify) {
  const auto& f = notificationFunctions();
  return f.subscribe ? f.subscribe(std::move(notify))
                     : talkgate::firmware::BSL_RegisterUSBDeviceNotification(std::move(notify));
}

void unsubscribe() {
  const auto& f = notificationFunctions();
  if (f.unsubscribe) {
    f.unsubscribe();
  } else {
    talkgate::firmware::BSL_UnRegisterUSBDeviceNotification();
  }
}

// Runs on whatever thread noticed the change (the watcher's, or the one that changed the
// bus); only posts to the GUI thread, where the windows are looked up afresh, so a window
// closed in the meantime is never touched.
void deliverNotification(bool arrived) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return;
  QMetaObject::invokeMethod(
      app,
      [arrived] {
        const std::vector<firmware_upgrade*> windows = registeredWindows();
        for (firmware_upgrade* window : windows) {
          const auto& live = registeredWindows();
          if (std::find(live.begin(), live.end(), window) == live.end()) continue;
          window->ParseMessages(WM_DEVICECHANGE,
                                arrived ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE);
        }
      },
      Qt::QueuedConnection);
}

// "0x2047" -> 0x2047; false for anything but "0x" and one to four hex digits.
bool parseHexId(const std::string& text, std::uint16_t& out) {
  if (text.size() < 3 || text.size() > 6 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) {
    return false;
  }
  const char* first = text.data() + 2;
  const char* last = text.data() + text.size();
  const auto [end, error] = std::from_chars(first, last, out, 16);
  return error == std::errc() && end == last;
}

QString deviceCountText(std::uint32_t count) {
  if (count == 0) return QStringLiteral("No device connected");
  return QStringLiteral("Found ") + QString::number(count) +
         (count == 1 ? QStringLiteral(" device") : QStringLiteral(" devices"));
}

// The log keeps "\r\n" as reported; the text box shows plain line breaks.
QString shownText(QString text) {
  return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

}  // namespace

QString qtFileFilter(const QString& windowsFilter) {
  const QStringList parts = windowsFilter.split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString description = parts[i].trimmed();
    QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& p : patterns) p = p.trimmed();
    const QString qtPatterns = patterns.join(QLatin1Char(' '));
    // Qt takes the patterns from the last parentheses; a description already naming them is
    // kept as it is.
    if (description.endsWith(QLatin1Char('(') + qtPatterns + QLatin1Char(')'))) {
      filters << description;
    } else {
      filters << description + QStringLiteral(" (") + qtPatterns + QLatin1Char(')');
    }
  }
  return filters.join(QStringLiteral(";;"));
}

firmware_upgrade::firmware_upgrade(QWidget* parent)
    // Dialog-type, so that the window manager keeps it (and a running upgrade's progress) in
    // front of its owner.
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("Velkor Quillet Firmware Upgrade"));
  setFixedSize(kClientWidth, kClientHeight);
  buildControls();
  InitializeVidPidFirmware();
  InitializeBackgroundWorker();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

firmware_upgrade::~firmware_upgrade() {
  UnRegisterUSBDevice();
  // Their reports queued for this window die with it.
  if (checkWorker_.joinable()) checkWorker_.join();
  if (programmingWorker_.joinable()) programmingWorker_.join();
}

void firmware_upgrade::buildControls() {
  QFont large(QStringLiteral("Microsoft Sans Serif"));
  large.setStyleHint(QFont::SansSerif);
  large.setPointSizeF(kLargeFontPoints);

  groupBox1 = new QGroupBox(QStringLiteral("Select which firmware to download"), this);
  groupBox1->setGeometry(12, 8, 476, 92);
  fileLabel = new QLabel(QStringLiteral("File to download"), groupBox1);
  fileLabel->setGeometry(12, 26, 110, 24);
  filenameTextBox = new QLineEdit(groupBox1);
  filenameTextBox->setReadOnly(true);
  filenameTextBox->setGeometry(126, 26, 338, 24);
  selectLabel = new QLabel(QStringLiteral("Select Firmware"), groupBox1);
  selectLabel->setGeometry(12, 58, 110, 26);
  btnBrowse = new QPushButton(QStringLiteral("&Browse"), groupBox1);
  btnBrowse->setGeometry(126, 58, 96, 26);
  btnBrowse->setEnabled(false);

  vidTitle = new QLabel(QStringLiteral("VID"), this);
  vidTitle->setGeometry(16, 106, 28, 20);
  vidLbl = new QLabel(this);
  vidLbl->setGeometry(46, 106, 64, 20);
  pidTitle = new QLabel(QStringLiteral("PID"), this);
  pidTitle->setGeometry(124, 106, 28, 20);
  pidLbl = new QLabel(this);
  pidLbl->setGeometry(154, 106, 64, 20);
  labelNumOfDevices = new QLabel(QStringLiteral("Searching for devices"), this);
  labelNumOfDevices->setGeometry(236, 106, 252, 20);

  btnUpgrade = new QPushButton(QStringLiteral("Upgrade Firmware"), this);
  btnUpgrade->setFont(large);
  btnUpgrade->setGeometry(12, 132, 300, 50);
  btnUpgrade->setEnabled(false);
  btnClose = new QPushButton(QStringLiteral("&Close"), this);
  btnClose->setFont(large);
  btnClose->setGeometry(324, 132, 164, 50);

  progressBar = new QProgressBar(this);
  progressBar->setRange(0, 100);
  progressBar->setValue(0);
  progressBar->setTextVisible(false);
  progressBar->setGeometry(12, 192, 476, 20);

  statusBox = new QPlainTextEdit(this);
  statusBox->setReadOnly(true);
  statusBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  statusBox->setGeometry(12, 220, 476, 88);

  connect(btnBrowse, &QPushButton::clicked, this, &firmware_upgrade::btnBrowse_Click);
  connect(btnUpgrade, &QPushButton::clicked, this, &firmware_upgrade::btnUpgrade_MouseClick);
  connect(btnClose, &QPushButton::clicked, this, &firmware_upgrade::btnClose_MouseClick);
}

void firmware_upgrade::InitializeVidPidFirmware() {
  const std::string vid = talkgate::firmware::firmwareResource("VID").value_or(std::string());
  const std::string pid = talkgate::firmware::firmwareResource("PID").value_or(std::string());
  myVID = QString::fromStdString(talkgate::firmware::padHexStringValue(vid));
  myPID = QString::fromStdString(talkgate::firmware::padHexStringValue(pid));
  vidLbl->setText(myVID);
  pidLbl->setText(myPID);
}

void firmware_upgrade::InitializeBackgroundWorker() {
  connect(this, &firmware_upgrade::deviceCountChecked, this,
          &firmware_upgrade::backgroundWorkerCheckDevice_RunWorkerCompleted, Qt::QueuedConnection);
  connect(this, &firmware_upgrade::programmingProgress, this,
          &firmware_upgrade::backgroundWorker1_ProgressChanged, Qt::QueuedConnection);
  connect(this, &firmware_upgrade::programmingDone, this,
          &firmware_upgrade::backgroundWorker1_RunWorkerCompleted, Qt::QueuedConnection);
}

void firmware_upgrade::setSettingsSnapshot(int keypadTypeIndex, const talkgate::KeyTable& keyCodes,
                                           const QString& serial, int symbolBrightnessIndex,
                                           int ambientConfigIndex) {
  keypadType = keypadTypeIndex;
  std::copy(keyCodes.begin(), keyCodes.end(), key_codes.begin());
  serialNumber = serial;
  led2Brightness_jo = symbolBrightnessIndex;
  led1Brightness_jo = ambientConfigIndex;
  snapshotTaken = true;
}

void firmware_upgrade::setNotificationFunctions(NotificationFunctions functions) {
  notificationFunctions() = std::move(functions);
}

void firmware_upgrade::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (handleCreated_) return;
  handleCreated_ = true;
  OnHandleCreated();
}

void firmware_upgrade::OnHandleCreated() {
  if (RegisterUSBDevice()) {
    requestCountCheck();
  } else {
    labelNumOfDevices->setText(QStringLiteral("ERROR: Unable to register device"));
  }
}

bool firmware_upgrade::RegisterUSBDevice() {
  // The loader library serves one subscriber; the open windows share it.
  auto& windows = registeredWindows();
  if (windows.empty() && subscribe(&deliverNotification) != 0) return false;
  windows.push_back(this);
  registered_ = true;
  return true;
}

void firmware_upgrade::UnRegisterUSBDevice() {
  if (!registered_) return;
  registered_ = false;
  auto& windows = registeredWindows();
  windows.erase(std::remove(windows.begin(), windows.end(), this), windows.end());
  if (windows.empty()) unsubscribe();
}

void firmware_upgrade::ParseMessages(std::uint32_t message, std::uintptr_t wParam) {
  if (message != WM_DEVICECHANGE) return;
  if (wParam != DBT_DEVICEARRIVAL && wParam != DBT_DEVICEREMOVECOMPLETE) return;
  requestCountCheck();
}

bool firmware_upgrade::workerBusy() const {
  return checkBusy_ || programmingBusy_ || restoring_;
}

void firmware_upgrade::requestCountCheck() {
  if (workerBusy()) {
    scanDeviceAgain = true;
  } else {
    startCountCheck();
  }
}

void firmware_upgrade::startCountCheck() {
  if (checkWorker_.joinable()) checkWorker_.join();
  checkBusy_ = true;
  const std::string vid = myVID.toStdString();
  const std::string pid = myPID.toStdString();
  checkWorker_ = std::thread([this, vid, pid] {
    quint32 count = 0;
    bool failed = false;
    try {
      std::uint16_t vendorId = 0;
      std::uint16_t productId = 0;
      if (parseHexId(vid, vendorId) && parseHexId(pid, productId)) {
        count = talkgate::firmware::BSL_NumOfUSBDevices(vendorId, productId);
      } else {
        failed = true;
      }
    } catch (...) {
      failed = true;
    }
    emit deviceCountChecked(count, failed);
  });
}

void firmware_upgrade::backgroundWorkerCheckDevice_RunWorkerCompleted(quint32 count, bool failed) {
  if (checkWorker_.joinable()) checkWorker_.join();
  checkBusy_ = false;
  if (!failed) {
    numberOfUSBDevicesConnected = count;
    labelNumOfDevices->setText(deviceCountText(count));
    // Never offer a second upgrade while one is running.
    btnUpgrade->setEnabled(count > 0 && !programmingBusy_ && !restoring_);
    btnBrowse->setEnabled(count > 0);
  }
  // Changes seen during an upgrade wait for its end.
  if (scanDeviceAgain && !programmingBusy_ && !restoring_) {
    scanDeviceAgain = false;
    startCountCheck();
  }
  emit countCheckCompleted();
}

void firmware_upgrade::btnBrowse_Click() {
  const QString path = talkgate::ui::dialogs().openFile(this, QStringLiteral("Open"), browseFolder,
                                                        qtFileFilter(kFirmwareFilter));
  if (path.isEmpty()) return;
  filenameTextBox->setText(path);
  const std::string& configFile = talkgate::config::FileName;
  if (configFile.empty()) return;
  try {
    // Only remembered; the program never reads it back, so a failed write is not reported.
    // A file name may hold control characters; they would break the file's lines.
    talkgate::config::CIniFile::SetValue(
        talkgate::config::kKeyFirmwareFile,
        talkgate::config::withoutControlCharacters(
            QFileInfo(path).fileName().toLocal8Bit().toStdString()),
        talkgate::config::kSection, configFile);
  } catch (const std::exception&) {
    // A damaged configuration file does not stop the upgrade.
  }
}

void firmware_upgrade::btnUpgrade_MouseClick() {
  if (programmingBusy_ || restoring_) return;
  talkgate::firmware::ProgrammerSettings settings;
  // Told here, before the worker sends anything to the loader; the programmer would refuse too.
  const std::string refusal =
      talkgate::firmware::loaderImagesRefusal(talkgate::hid::activePort(), settings.loaderImages);
  if (!refusal.empty()) {
    setStatusLog(QString::fromStdString(refusal) + QStringLiteral("\r\n"));
    warn(QString::fromStdString(refusal));
    return;
  }
  // The opener's word holds for the window it opened or brought forward.
  if (openerStartedLoader) talkgateLocation_ = openerTalkgateLocation;
  loaderStartedHere_ = loaderStartedHere_ || openerStartedLoader;
  openerStartedLoader = false;
  if (!loaderStartedHere_) {
    const Answer answer = talkgate::ui::dialogs().message(
        this, QString::fromLatin1(kLoneLoaderQuestion) + QLatin1Char('\n'),
        QStringLiteral("Firmware Upgrade"), Buttons::YesNo, Icon::Question);
    if (answer != Answer::Yes) return;
    loaderStartedHere_ = true;
    talkgateLocation_.clear();  // a loader found waiting: no Talkgate's port to hold it to
  }
  btnUpgrade->setEnabled(false);
  setStatusLog(QStringLiteral("Starting\r\n"));
  programmingBusy_ = true;
  if (programmingWorker_.joinable()) programmingWorker_.join();

  const std::string path = filenameTextBox->text().toLocal8Bit().toStdString();
  settings.vid = myVID.toStdString();
  settings.pid = myPID.toStdString();
  settings.deviceIndex = myDeviceIndex.toStdString();
  settings.talkgateLocation = talkgateLocation_;
  programmingWorker_ = std::thread([this, path, settings] {
    bool upgraded = false;
    bool failed = false;
    try {
      if (path.empty()) {
        emit programmingProgress(0, QStringLiteral("No file specified\r\n"));
      } else {
        talkgate::firmware::FirmwareProgrammer programmer(settings);
        upgraded = programmer.CustomSelectedFirmware(
            path, [this](int percent, const std::string& message) {
              emit programmingProgress(percent, QString::fromLocal8Bit(message));
            });
      }
    } catch (...) {
      failed = true;
    }
    emit programmingDone(upgraded, failed);
  });
}

void firmware_upgrade::backgroundWorker1_ProgressChanged(int percent, const QString& message) {
  progressBar->setValue(percent);
  if (!message.isEmpty()) appendStatusLog(message);
}

void firmware_upgrade::backgroundWorker1_RunWorkerCompleted(bool upgraded, bool failed) {
  // A box still open (the operator's Close, say) is answered first: the completion's own
  // messages and question never stack over it. The upgrade counts as running until then.
  if (talkgate::ui::openMessageBoxes() > 0) {
    talkgate::ui::whenNoMessageBoxIsOpen(
        this, [this, upgraded, failed] { backgroundWorker1_RunWorkerCompleted(upgraded, failed); });
    return;
  }
  if (programmingWorker_.joinable()) programmingWorker_.join();
  programmingBusy_ = false;
  if (failed) {
    emit upgradeCompleted(false);
    return;
  }
  if (!upgraded) {
    requestCountCheck();
    emit upgradeCompleted(false);
    return;
  }
  restoring_ = true;
  reconnectAndRestore();
  restoring_ = false;
  // The loader left the bus during the upgrade; now the labels may follow.
  if (scanDeviceAgain) {
    scanDeviceAgain = false;
    requestCountCheck();
  }
  emit upgradeCompleted(true);
}

void firmware_upgrade::waitForNewFirmware() {
  talkgate::hid::Port& port = talkgate::hid::activePort();
  const auto listed = [&port](std::uint16_t vendorId, std::uint16_t productId) {
    return port.init() == 0 && !port.enumerate(vendorId, productId).empty();
  };
  talkgate::ReturnPoll poll;
  poll.timeout = std::chrono::milliseconds(kRebootWaitMs);
  poll.interval = std::chrono::milliseconds(kPaintSliceMs);
  poll.gone = [&listed] {
    return !listed(talkgate::firmware::bsl::kLoaderVendorId,
                   talkgate::firmware::bsl::kLoaderProductId);
  };
  poll.back = [&listed] { return listed(talkgate::kVendorId, talkgate::kProductId); };
  poll.pause = [this](std::chrono::milliseconds step) {
    waitKeepingWindowAlive(static_cast<int>(step.count()));
  };
  // Not back in time: the scan below tells the operator.
  talkgate::waitForReturn(poll);
}

void firmware_upgrade::reconnectAndRestore() {
  waitForNewFirmware();

  if (talkgate::hid_handle != nullptr) {
    talkgate::hid_exit_safely(talkgate::hid_handle);
    talkgate::hid_handle = nullptr;
  }
  char manufacturer[talkgate::kDeviceStringBuffer] = {};
  char product[talkgate::kDeviceStringBuffer] = {};
  talkgate::hid_handle = talkgate::ScanForUSBDevice_a(talkgate::kVendorId, talkgate::kProductId,
                                                      manufacturer, product);
  if (talkgate::hid_handle == nullptr) {
    warn(QStringLiteral("Velkor QDS not connected.."));
    return;
  }

  talkgate::firmware::UpgradeSettings settings;
  settings.keypadType = keypadType;
  settings.key_codes = key_codes;
  settings.serialNumber = serialNumber.toLatin1().toStdString();
  settings.led2Brightness_jo = led2Brightness_jo;
  settings.led1Brightness_jo = led1Brightness_jo;

  if (talkgate::firmware::serialNumberIsRestored(settings) &&
      talkgate::firmware::restoreSerialNumber(talkgate::hid_handle, settings) != talkgate::kOk) {
    warn(QString::fromLatin1(talkgate::firmware::kSerialNumberFailure));
    return;
  }

  if (!snapshotTaken) {
    // No settings were ever read from the device, so there is nothing to put back.
    appendStatusLog(
        QStringLiteral("No earlier settings to load: the device keeps its new ones\r\n"));
    return;
  }

  const Answer answer = talkgate::ui::dialogs().message(
      this, QStringLiteral("Do you want to load previous setting..\n"), kCaptionQds, Buttons::YesNo,
      Icon::Warning);
  if (answer != Answer::Yes) return;

  const auto outcome = talkgate::firmware::restoreSettings(talkgate::hid_handle, settings);
  if (outcome.failedIndex >= 0) {
    const auto requests = talkgate::firmware::restoreRequests(settings);
    warn(QString::fromLatin1(
        requests[static_cast<std::size_t>(outcome.failedIndex)].failureMessage));
  }
}

void firmware_upgrade::waitKeepingWindowAlive(int milliseconds) {
  talkgate::Clock& clock = talkgate::activeClock();
  const std::chrono::milliseconds end = clock.now() + std::chrono::milliseconds(milliseconds);
  // Paints, device notifications, clicks and keys go on: "Close" and the main window's "Exit"
  // say that the upgrade is still running instead of doing nothing until the wait is over.
  while (clock.now() < end) {
    QCoreApplication::processEvents();
    clock.sleepFor(std::min(end - clock.now(), std::chrono::milliseconds(kPaintSliceMs)));
  }
  QCoreApplication::processEvents();
}

void firmware_upgrade::btnClose_MouseClick() {
  if (upgradeRunning()) {
    tellUpgradeRunning();
    return;
  }
  talkgate::ui::dialogs().message(this, QStringLiteral("Please Click on Scan for.\n"),
                                  kCaptionTabrin, Buttons::Ok, Icon::Warning);
  close();
}

void firmware_upgrade::closeEvent(QCloseEvent* event) {
  // Leaving half-way would strand the worker and the device in its loader.
  if (upgradeRunning()) {
    tellUpgradeRunning();
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

void firmware_upgrade::tellUpgradeRunning() {
  talkgate::ui::dialogs().message(this, QString::fromLatin1(kUpgradeRunningText) + '\n',
                                  kCaptionTabrin, Buttons::Ok, Icon::Warning);
}

void firmware_upgrade::setStatusLog(const QString& text) {
  statusLog_ = text;
  statusBox->setPlainText(shownText(text));
}

void firmware_upgrade::appendStatusLog(const QString& text) {
  // Every message starts a line of its own, also after one that ends without a line break
  // ("Done!").
  if (!statusLog_.isEmpty() && !statusLog_.endsWith(QLatin1Char('\n'))) {
    statusLog_ += QStringLiteral("\r\n");
  }
  statusLog_ += text;
  statusBox->setPlainText(shownText(statusLog_));
  statusBox->moveCursor(QTextCursor::End);
  statusBox->ensureCursorVisible();
}

void firmware_upgrade::warn(const QString& text) {
  talkgate::ui::dialogs().message(this, text + QLatin1Char('\n'), kCaptionQds, Buttons::Ok,
                                  Icon::Warning);
}

}  // namespace dorrin_usb_encoder

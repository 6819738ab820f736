#pragma once
// The firmware upgrade window: shows the loader's identifiers and how many loader devices are
// on the bus, lets the operator pick a TI-TXT image and programs it on a worker thread with a
// progress bar and a log, then reconnects to the Talkgate and writes its settings back.

#include <QString>
#include <QWidget>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "device/commands.h"
#include "firmware/bsl430.h"
#include "firmware/firmware_upgrade_restore.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace dorrin_usb_encoder {

// Window messages the loader's device notifications are delivered as.
inline constexpr std::uint32_t WM_DEVICECHANGE = 0x0219;
inline constexpr std::uintptr_t DBT_DEVICEARRIVAL = 0x8000;
inline constexpr std::uintptr_t DBT_DEVICEREMOVECOMPLETE = 0x8004;

// "(*.txt)|*.txt|All files (*.*)|*.*" as a Qt file dialog filter, descriptions kept.
QString qtFileFilter(const QString& windowsFilter);

class firmware_upgrade : public QWidget {
  Q_OBJECT

 public:
  // Subscribes to and unsubscribes from loader arrivals and removals; the loader library's
  // BSL_RegisterUSBDeviceNotification and BSL_UnRegisterUSBDeviceNotification by default.
  struct NotificationFunctions {
    std::function<int(talkgate::firmware::DeviceNotification)> subscribe;
    std::function<int()> unsubscribe;
  };

  // The longest wait for the new firmware to enumerate once the loader has left; the window
  // looks for it every paint slice and goes on as soon as it is there.
  static constexpr int kRebootWaitMs = 6000;
  static constexpr int kPaintSliceMs = 50;    // the window repaints this often meanwhile
  static constexpr const char* kFirmwareFilter = "(*.txt)|*.txt|All files (*.*)|*.*";
  // Told when the operator tries to leave while programming or the write-back runs.
  static constexpr const char* kUpgradeRunningText =
      "Please wait until the firmware upgrade has finished..";

  // Builds the window and reads the loader identifiers. Deletes itself when closed.
  explicit firmware_upgrade(QWidget* parent = nullptr);
  ~firmware_upgrade() override;

  // Window-wide values, shared by every instance.
  static inline QString myVID;
  static inline QString myPID;
  static inline QString myDeviceIndex = QStringLiteral("0");
  static inline std::uint32_t numberOfUSBDevicesConnected = 0;
  static inline bool scanDeviceAgain = false;
  // The folder Browse opens in; empty: the file dialog's own choice (the current folder). The
  // demo points it at its firmware images.
  static inline QString browseFolder;
  // The settings snapshot written back after a successful upgrade.
  static inline int keypadType = 0;
  static inline std::array<std::uint8_t, talkgate::firmware::kSnapshotKeyCodeBytes> key_codes{};
  static inline QString serialNumber;
  static inline int led2Brightness_jo = 0;
  static inline int led1Brightness_jo = 0;
  // False until a snapshot has been read from a device: an all-zero snapshot must never be
  // written over the device's settings.
  static inline bool snapshotTaken = false;
  // Set by the opener when it has just asked a Talkgate it talks to to start its loader; the
  // next Upgrade click takes it over. A loader the window did not see started is programmed only
  // after the operator has been told the risk and said yes.
  static inline bool openerStartedLoader = false;
  // The USB port of the Talkgate the opener switched ("": not known); a loader that then appears
  // on another port is not programmed.
  static inline std::string openerTalkgateLocation;
  // Asked before a loader this window did not see started is programmed.
  static constexpr const char* kLoneLoaderQuestion =
      "A bootstrap loader (2047:0200) is waiting on the bus that this program did not start. It "
      "may be a Talkgate whose upgrade was interrupted, or another device, which Talkgate "
      "firmware would ruin.\nProgram it with Talkgate firmware?";

  // The main window's "Update Firmware" hands over the settings it has just read.
  static void setSettingsSnapshot(int keypadTypeIndex, const talkgate::KeyTable& keyCodes,
                                  const QString& serial, int symbolBrightnessIndex,
                                  int ambientConfigIndex);
  // Replaces how the window subscribes to device notifications (empty functions restore the
  // loader library's).
  static void setNotificationFunctions(NotificationFunctions functions);

  // Handles one window message; only device arrivals and removals matter here.
  void ParseMessages(std::uint32_t message, std::uintptr_t wParam);

  // True while a count check or the programming (with its reconnection) is under way.
  bool workerBusy() const;
  // True from the Upgrade click until the programming completion (write-back included) is over.
  bool upgradeRunning() const { return programmingBusy_ || restoring_; }
  // The log as reported, line breaks "\r\n" included.
  const QString& statusLog() const { return statusLog_; }

  QGroupBox* groupBox1 = nullptr;
  QLabel* fileLabel = nullptr;
  QLabel* selectLabel = nullptr;
  QLineEdit* filenameTextBox = nullptr;
  QPushButton* btnBrowse = nullptr;
  QPushButton* btnUpgrade = nullptr;
  QPushButton* btnClose = nullptr;
  QProgressBar* progressBar = nullptr;
  QPlainTextEdit* statusBox = nullptr;
  QLabel* vidTitle = nullptr;
  QLabel* vidLbl = nullptr;
  QLabel* pidTitle = nullptr;
  QLabel* pidLbl = nullptr;
  QLabel* labelNumOfDevices = nullptr;

 signals:
  // From the workers to the window thread (queued).
  void deviceCountChecked(quint32 count, bool failed);
  void programmingProgress(int percent, const QString& message);
  void programmingDone(bool upgraded, bool failed);
  // On the window thread once a count check's completion has run.
  void countCheckCompleted();
  // On the window thread once the programming completion (reconnection included) has run.
  void upgradeCompleted(bool upgraded);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private slots:
  void btnBrowse_Click();
  void btnUpgrade_MouseClick();
  void btnClose_MouseClick();
  void backgroundWorkerCheckDevice_RunWorkerCompleted(quint32 count, bool failed);
  void backgroundWorker1_ProgressChanged(int percent, const QString& message);
  void backgroundWorker1_RunWorkerCompleted(bool upgraded, bool failed);

 private:
  void buildControls();
  void InitializeVidPidFirmware();
  void InitializeBackgroundWorker();
  void OnHandleCreated();
  bool RegisterUSBDevice();
  void UnRegisterUSBDevice();
  // Starts the count check unless a worker is busy, in which case it is remembered.
  void requestCountCheck();
  void startCountCheck();
  void setStatusLog(const QString& text);
  void appendStatusLog(const QString& text);
  // Waits on the active clock while the window keeps painting.
  void waitKeepingWindowAlive(int milliseconds);
  // After a verified upgrade: reconnect, serial number, settings.
  void reconnectAndRestore();
  // Until the loader has left the bus and the Talkgate is on it, at most kRebootWaitMs.
  void waitForNewFirmware();
  void warn(const QString& text);
  // The one message while an upgrade runs; the window stays open.
  void tellUpgradeRunning();

  bool handleCreated_ = false;
  bool registered_ = false;
  bool checkBusy_ = false;
  bool programmingBusy_ = false;
  bool loaderStartedHere_ = false;  // the opener started it, or the operator accepted it
  std::string talkgateLocation_;    // the port of the Talkgate the opener switched
  bool restoring_ = false;
  QString statusLog_;
  std::thread checkWorker_;
  std::thread programmingWorker_;
};

}  // namespace dorrin_usb_encoder

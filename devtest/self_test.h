#pragma once
// The interactive self test: the device runs its default key code table while the window is
// open, F20 and F21 switch the symbol LED and an indicator, and closing puts the device's own
// keypad type and symbol LED brightness back.

#include <QWidget>
#include <atomic>
#include <thread>

class QLabel;
class QPushButton;

namespace dorrin_usb_encoder {

class self_test : public QWidget {
  Q_OBJECT

 public:
  // Builds the window, then starts the test (status read and worker). Deletes itself on close.
  explicit self_test(QWidget* parent = nullptr);
  ~self_test() override;

  // Loads the device picture; a file that cannot be read leaves the picture area empty.
  void setPicture(const QString& path);

  // True while the worker runs (the device is on its default table).
  bool testRunning() const { return workerRunning_; }
  // Whether the indicator shows the symbol LED as lit.
  bool indicatorLit() const { return indicatorLit_; }

 signals:
  // Emitted from the worker when it has seen the close flag.
  void workerFinished();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool focusNextPrevChild(bool next) override;
  void closeEvent(QCloseEvent* event) override;

 private slots:
  void endBtn_MouseClick_1();
  void onWorkerFinished();

 private:
  void buildControls();
  void InitializeSelfTest();
  int GetDeviceStatusMessage();
  int SetSymbolLed(int on_off);
  int setKeyboardTable(int table);
  // Sees every key the window receives before normal processing; returns nothing.
  void ProcessCmdKey(const QKeyEvent* event);
  void setIndicator(bool lit);
  void stopWorker();
  // Stops the worker and puts the device's keypad type and symbol LED brightness back.
  void finishTest();

  std::atomic<int> closeForm{0};
  int keypadType_index = 0;
  int prev_symbolBrightness_index = 0;
  bool workerRunning_ = false;
  bool indicatorLit_ = false;
  std::thread worker_;

  QLabel* label3_ = nullptr;
  QLabel* pictureBox1_ = nullptr;
  QPushButton* button1_ = nullptr;
  QPushButton* endBtn_ = nullptr;
};

}  // namespace dorrin_usb_encoder

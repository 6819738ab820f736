// The Windows HID port on the real system calls (run under wine here): no Talkgate is listed on
// a machine without one, a missing path is told apart, and the overlapped I/O keeps one read
// outstanding, pads writes and notices a device that has gone. A named pipe stands in for the
// HID interface: it takes the same CreateFileW, ReadFile and WriteFile calls.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "device/win_hid_port.h"

namespace talkgate::hid {
namespace {

TEST(WindowsHidPort, ListsNoTalkgateWhereThereIsNoneAndTellsAMissingPathApart) {
  Port& port = systemPort();
  ASSERT_EQ(port.init(), 0);
  EXPECT_TRUE(port.enumerate(0x2047, 0x0301).empty());
  EXPECT_TRUE(port.enumerate(0x2047, 0x0200).empty());
  for (const DeviceInfo& info : port.enumerate(0, 0)) EXPECT_FALSE(info.path.empty());
  OpenError error = OpenError::None;
  EXPECT_EQ(port.open("\\\\?\\hid#vid_2047&pid_0301&mi_01#gone#{4d1e55b2}", &error), nullptr);
  EXPECT_EQ(error, OpenError::NotFound);
  EXPECT_EQ(&activePort(), &port);
  EXPECT_EQ(port.exit(), 0);
}

class PipeDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    name = "\\\\.\\pipe\\talkgate-hid-" + std::to_string(::GetCurrentProcessId());
    server = ::CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX,
                                PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096,
                                4096, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    OpenError error = OpenError::Other;
    device = port->open(name, &error);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(error, OpenError::None);
  }
  void TearDown() override {
    device.reset();
    if (server != INVALID_HANDLE_VALUE) ::CloseHandle(server);
  }
  void serverWrite(const std::string& bytes) {
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(server, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                            nullptr));
  }

  std::string name;
  HANDLE server = INVALID_HANDLE_VALUE;
  std::unique_ptr<Port> port = win::makePort(win::systemCalls());
  std::unique_ptr<Device> device;
};

TEST_F(PipeDevice, NonBlockingReadReturnsAtOnceAndTheReportStillArrives) {
  std::uint8_t data[64] = {};
  ASSERT_EQ(device->setNonBlocking(true), 0);
  EXPECT_EQ(device->read(data, sizeof data), 0) << "nothing sent yet";
  EXPECT_EQ(device->read(data, sizeof data), 0);

  std::string report(65, '\0');
  report[0] = 0x3F;
  report[1] = 0x02;
  report[64] = 0x03;
  serverWrite(report);
  ASSERT_EQ(device->setNonBlocking(false), 0);
  ASSERT_EQ(device->read(data, sizeof data), 64) << "the outstanding read got the report";
  EXPECT_EQ(data[0], 0x3F);
  EXPECT_EQ(data[1], 0x02);
  EXPECT_EQ(data[63], 0x00) << "cut to the caller's 64 bytes";
}

TEST_F(PipeDevice, WritesArePaddedAndAGoneDeviceFailsTheRead) {
  const std::uint8_t request[] = {0x3F, 0x02, 0x30, 0x31};
  EXPECT_EQ(device->write(request, sizeof request), 65);
  char got[128] = {};
  DWORD read = 0;
  ASSERT_TRUE(::ReadFile(server, got, sizeof got, &read, nullptr));
  ASSERT_EQ(read, 65u);
  EXPECT_EQ(std::string(got, 4), std::string("\x3F\x02\x30\x31", 4));
  EXPECT_EQ(std::string(got + 4, 61), std::string(61, '\0'));

  std::uint8_t data[64] = {};
  device->setNonBlocking(true);
  EXPECT_EQ(device->read(data, sizeof data), 0);
  ::DisconnectNamedPipe(server);
  device->setNonBlocking(false);
  EXPECT_EQ(device->read(data, sizeof data), -1);
}

}  // namespace
}  // namespace talkgate::hid

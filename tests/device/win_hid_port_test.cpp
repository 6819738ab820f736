// The Windows HID port's logic over a scripted set of system calls (runs on every system):
// which interfaces enumeration lists, one read kept outstanding, padded writes, the report
// identifier as hidapi gives it, and removal.

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <optional>

#include "device/win_hid_port.h"

namespace talkgate::hid::win {
namespace {

constexpr char kConfigPath[] = "\\\\?\\hid#vid_2047&pid_0301&mi_01#8&2b4f&0&0000#{4d1e55b2}";
constexpr char kKeyboardPath[] = "\\\\?\\hid#vid_2047&pid_0301&mi_00#8&1a3e&0&0000#{4d1e55b2}";
constexpr char kMousePath[] = "\\\\?\\hid#vid_046d&pid_c077#7&3c1f&0&0000#{4d1e55b2}";
constexpr char kPort2[] = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)";

// A scripted bus: interfaces by path, each with its attributes, strings and report lengths;
// reads complete when the test says so.
struct Interface {
  std::uint16_t vendorId = 0x2047;
  std::uint16_t productId = 0x0301;
  std::wstring product = L"Talkgate";
  std::size_t input = 65;
  std::size_t output = 65;
  bool held = false;  // another program has it open: only Access::None opens succeed
};

struct TreeNode {  // a node of the scripted device tree
  std::string id;
  Calls::Node parent = 0;
  std::vector<std::string> paths;
  std::string information;
};

class ScriptedCalls : public Calls {
 public:
  std::map<std::string, Interface> interfaces;
  std::map<std::string, Node> interfaceNodes;
  std::map<Node, TreeNode> tree;
  std::vector<std::string> order;
  std::map<Handle, std::string> open_;
  Handle next = 100;
  std::vector<Access> opens;

  // The read side: what the outstanding read completes with.
  std::deque<std::vector<std::uint8_t>> reports;
  bool removed = false;
  int reads = 0;
  std::vector<int> timeouts;
  int cancels = 0;
  std::uint8_t* buffer = nullptr;
  std::size_t bufferSize = 0;
  std::vector<std::vector<std::uint8_t>> written;
  bool writeFails = false;

  void add(const std::string& path, Interface interface = {}) {
    interfaces[path] = interface;
    order.push_back(path);
  }

  std::vector<std::string> interfacePaths() override { return order; }
  Handle open(const std::string& path, Access access, OpenError& error) override {
    opens.push_back(access);
    const auto it = interfaces.find(path);
    if (it == interfaces.end()) {
      error = OpenError::NotFound;
      return kNoHandle;
    }
    if (it->second.held && access != Access::None) {
      error = OpenError::PermissionDenied;
      return kNoHandle;
    }
    open_[next] = path;
    return next++;
  }
  void close(Handle handle) override { EXPECT_EQ(open_.erase(handle), 1u) << "closed twice"; }
  bool attributes(Handle handle, std::uint16_t& vendorId, std::uint16_t& productId) override {
    const Interface& i = interfaces.at(open_.at(handle));
    vendorId = i.vendorId;
    productId = i.productId;
    return true;
  }
  bool reportLengths(Handle handle, std::size_t& input, std::size_t& output) override {
    const Interface& i = interfaces.at(open_.at(handle));
    input = i.input;
    output = i.output;
    return i.input != 0;
  }
  bool text(Handle handle, Text which, std::wstring& out) override {
    if (which != Text::Product) return false;
    out = interfaces.at(open_.at(handle)).product;
    return true;
  }
  Io startRead(Handle, std::uint8_t* into, std::size_t size, std::size_t& got) override {
    EXPECT_EQ(buffer, nullptr) << "a second read started while one was outstanding";
    ++reads;
    buffer = into;
    bufferSize = size;
    return complete(got);
  }
  Io finishRead(Handle, int timeoutMs, std::size_t& got) override {
    EXPECT_NE(buffer, nullptr) << "waited for no read";
    timeouts.push_back(timeoutMs);
    return complete(got);
  }
  void cancelRead(Handle) override {
    ++cancels;
    buffer = nullptr;
  }
  bool write(Handle, const std::uint8_t* data, std::size_t length, std::size_t& done) override {
    if (writeFails) return false;
    written.emplace_back(data, data + length);
    done = length;
    return true;
  }
  Node interfaceNode(const std::string& path) override {
    const auto it = interfaceNodes.find(path);
    return it == interfaceNodes.end() ? 0 : it->second;
  }
  Node parent(Node node) override { return tree.at(node).parent; }
  std::string instanceId(Node node) override { return tree.at(node).id; }
  std::vector<std::string> locationPaths(Node node) override { return tree.at(node).paths; }
  std::string locationInformation(Node node) override { return tree.at(node).information; }

 private:
  Io complete(std::size_t& got) {
    if (removed) {
      buffer = nullptr;
      return Io::Failed;
    }
    if (reports.empty()) return Io::Pending;
    const std::vector<std::uint8_t> report = reports.front();
    reports.pop_front();
    got = std::min(report.size(), bufferSize);
    std::copy(report.begin(), report.begin() + static_cast<std::ptrdiff_t>(got), buffer);
    buffer = nullptr;
    return Io::Done;
  }
};

TEST(WinHidPort, InterfaceNumberFromThePath) {
  const std::vector<std::pair<std::string, int>> table{
      {kConfigPath, 1},
      {kKeyboardPath, 0},
      {"\\\\?\\HID#VID_2047&PID_0301&MI_0A#x", 10},
      {kMousePath, -1},
      {"\\\\?\\hid#vid_2047&pid_0301&mi_0g#x", -1},
      {"\\\\?\\hid#vid_2047&mi_1", -1},
  };
  for (const auto& [path, number] : table) EXPECT_EQ(interfaceNumberFromPath(path), number) << path;
}

// The port's location: the USB device node above the interface, past a composite device's
// interface node, whose first location path (else its location information) names the port.
TEST(WinHidPort, LocationIsTheUsbDeviceNodesPort) {
  const TreeNode hub{"USB\\ROOT_HUB30\\4&1", 0, {"PCIROOT(0)#PCI(1400)#USBROOT(0)"}, ""};
  const TreeNode loader{"HID\\VID_2047&PID_0200\\7&3", 0, {}, ""};
  const std::vector<std::pair<std::vector<TreeNode>, std::string>> table{
      {{{"HID\\VID_2047&PID_0922&MI_01\\7&1", 0, {}, ""},
        {"USB\\VID_2047&PID_0922&MI_01\\6&2", 0, {"NOT-THIS#USB(9)"}, ""},
        {"USB\\VID_2047&PID_0922\\TG260001", 0, {kPort2, "ACPI(_SB_)#USB(2)"}, "Port_#0002"},
        hub},
       kPort2},
      {{loader, {"usb\\vid_2047&pid_0200\\5&4", 0, {kPort2}, ""}, hub}, kPort2},
      {{loader, {"USB\\VID_2047&PID_0200\\5&4", 0, {""}, "Port_#0002.Hub_#0001"}, hub},
       "Port_#0002.Hub_#0001"},
      {{loader, {"USB\\VID_2047&PID_0200\\5&4", 0, {}, ""}, hub}, ""},
      {{{"HID\\{00001124}_VID&0002046D\\9&5", 0, {"BTH"}, "Bluetooth"},
        {"BTHENUM\\{00001124}\\8&6", 0, {"BTH"}, "Bluetooth"}},
       ""},
      {{}, ""},
  };
  for (const auto& [chain, expected] : table) {
    ScriptedCalls calls;
    if (!chain.empty()) calls.interfaceNodes[kConfigPath] = 10;
    for (std::size_t i = 0; i < chain.size(); ++i) {
      calls.tree[static_cast<Calls::Node>(10 + i)] = chain[i];
      calls.tree[static_cast<Calls::Node>(10 + i)].parent =
          i + 1 < chain.size() ? static_cast<Calls::Node>(11 + i) : 0;
    }
    EXPECT_EQ(usbLocation(calls, kConfigPath), expected) << chain.size();
  }
}

class WinHidPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    calls.add(kKeyboardPath);
    calls.add(kConfigPath);
    calls.add(kMousePath, {0x046d, 0xc077, L"Mouse", 8, 0, false});
  }
  std::unique_ptr<Device> openConfig() {
    OpenError error = OpenError::Other;
    auto device = port->open(kConfigPath, &error);
    EXPECT_EQ(error, OpenError::None);
    return device;
  }
  static std::vector<std::uint8_t> report(std::uint8_t id, std::uint8_t first) {
    std::vector<std::uint8_t> bytes(65, 0);
    bytes[0] = id;
    bytes[1] = first;
    return bytes;
  }

  ScriptedCalls calls;
  std::unique_ptr<Port> port = makePort(calls);
};

TEST_F(WinHidPortTest, EnumerationMatchesIdentifiersReadsStringsOfAHeldDeviceAndClosesAll) {
  calls.interfaces[kConfigPath].held = true;
  calls.interfaceNodes[kConfigPath] = 1;
  calls.tree[1] = {"HID\\VID_2047&PID_0301&MI_01\\7&1", 2, {}, ""};
  calls.tree[2] = {"USB\\VID_2047&PID_0301\\TG260001", 0, {kPort2}, ""};
  const auto all = port->enumerate(0, 0);
  ASSERT_EQ(all.size(), 3u);
  const auto talkgate = port->enumerate(0x2047, 0x0301);
  ASSERT_EQ(talkgate.size(), 2u);
  EXPECT_EQ(talkgate[1].path, kConfigPath);
  EXPECT_EQ(talkgate[1].interfaceNumber, 1);
  EXPECT_EQ(talkgate[1].product, L"Talkgate") << "read although another program holds it";
  EXPECT_EQ(talkgate[0].interfaceNumber, 0);
  EXPECT_EQ(talkgate[1].location, kPort2);
  EXPECT_EQ(talkgate[0].location, "") << "a node the tree does not know has no location";
  EXPECT_TRUE(port->enumerate(0x2047, 0x0200).empty());
  for (Access access : calls.opens) EXPECT_EQ(access, Access::None);
  EXPECT_TRUE(calls.open_.empty()) << "every handle enumeration opened is closed";

  OpenError error = OpenError::None;
  EXPECT_EQ(port->open(kConfigPath, &error), nullptr);
  EXPECT_EQ(error, OpenError::PermissionDenied);
  EXPECT_EQ(port->open("\\\\?\\hid#gone", &error), nullptr);
  EXPECT_EQ(error, OpenError::NotFound);
}

TEST_F(WinHidPortTest, NonBlockingReadKeepsOneReadOutstandingAndLosesNoReport) {
  auto device = openConfig();
  ASSERT_NE(device, nullptr);
  std::uint8_t data[64] = {};
  ASSERT_EQ(device->setNonBlocking(true), 0);
  EXPECT_EQ(device->read(data, sizeof data), 0);
  EXPECT_EQ(device->read(data, sizeof data), 0);
  EXPECT_EQ(calls.reads, 1) << "the pending read is waited on, not started again";
  EXPECT_EQ(calls.timeouts, (std::vector<int>{0, 0}));

  // The report arrives between two calls: the next one delivers it, report identifier first,
  // cut to the caller's buffer.
  calls.reports.push_back(report(0x3F, 0x02));
  EXPECT_EQ(device->read(data, sizeof data), 64);
  EXPECT_EQ(data[0], 0x3F);
  EXPECT_EQ(data[1], 0x02);

  // A device without numbered reports: the 0 is left out, as hidapi does.
  calls.reports.push_back(report(0x00, 0x07));
  ASSERT_EQ(device->setNonBlocking(false), 0);
  EXPECT_EQ(device->read(data, sizeof data), 64);
  EXPECT_EQ(data[0], 0x07);
  EXPECT_EQ(calls.reads, 2);

  // A blocking read waits on the outstanding read without end.
  calls.timeouts.clear();
  ASSERT_EQ(device->setNonBlocking(true), 0);
  EXPECT_EQ(device->read(data, sizeof data), 0);
  calls.reports.push_back(report(0x3F, 0x05));
  ASSERT_EQ(device->setNonBlocking(false), 0);
  EXPECT_EQ(device->read(data, sizeof data), 64);
  EXPECT_EQ(data[1], 0x05);
  EXPECT_EQ(calls.timeouts, (std::vector<int>{0, -1}));
}

TEST_F(WinHidPortTest, RemovalFailsTheReadAndClosingCancelsTheOutstandingOne) {
  auto device = openConfig();
  std::uint8_t data[64] = {};
  device->setNonBlocking(true);
  EXPECT_EQ(device->read(data, sizeof data), 0);
  calls.removed = true;
  EXPECT_EQ(device->read(data, sizeof data), -1);
  EXPECT_EQ(device->read(data, sizeof data), -1) << "a new read fails at once too";

  calls.removed = false;
  auto other = openConfig();
  other->setNonBlocking(true);
  EXPECT_EQ(other->read(data, sizeof data), 0);
  const std::size_t handles = calls.open_.size();
  other.reset();
  EXPECT_EQ(calls.cancels, 1) << "the buffer is not freed under a running read";
  EXPECT_EQ(calls.open_.size(), handles - 1);
}

TEST_F(WinHidPortTest, WritesArePaddedToTheOutputReportLengthWithTheIdentifierInByteZero) {
  auto device = openConfig();
  const std::uint8_t request[] = {0x3F, 0x02, 0x30, 0x31};
  EXPECT_EQ(device->write(request, sizeof request), 65);
  ASSERT_EQ(calls.written.size(), 1u);
  std::vector<std::uint8_t> expected(65, 0);
  std::copy(std::begin(request), std::end(request), expected.begin());
  EXPECT_EQ(calls.written[0], expected);

  calls.writeFails = true;
  EXPECT_EQ(device->write(request, sizeof request), -1);
  EXPECT_EQ(device->write(nullptr, 0), -1);
}

TEST_F(WinHidPortTest, AnInterfaceWithoutCapabilitiesGetsTheTalkgatesReportLengths) {
  calls.interfaces[kConfigPath].input = 0;
  auto device = openConfig();
  std::uint8_t data[64] = {};
  calls.reports.push_back(report(0x3F, 0x09));
  EXPECT_EQ(device->read(data, sizeof data), 64);
  EXPECT_EQ(calls.bufferSize, 65u);
  const std::uint8_t request[] = {0x3F};
  EXPECT_EQ(device->write(request, 1), 65);
}

}  // namespace
}  // namespace talkgate::hid::win

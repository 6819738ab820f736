// The Windows HID port's system calls: SetupAPI for the interfaces present, the HID class
// driver's HidD_/HidP_ calls, and overlapped ReadFile/WriteFile with one event each per open
// device. The logic over them is in win_hid_port.cpp.

#include <windows.h>
// clang-format off
#include <setupapi.h>
#include <cfgmgr32.h>
extern "C" {  // mingw-w64's HID headers declare C functions without saying so
#include <hidsdi.h>
#include <hidpi.h>
}
// clang-format on

#include <algorithm>
#include <cwchar>
#include <mutex>

#include "device/win_hid_port.h"
#include "files/utf8_path.h"

namespace talkgate::hid::win {
namespace {

constexpr DWORD kWriteTimeoutMs = 1000;
constexpr std::size_t kMaxTextChars = 256;  // USB string descriptors hold at most 126
constexpr ULONG kMaxPropertyBytes = 4096;

std::string utf8(const wchar_t* text) {
  return files::utf8Of(std::filesystem::path(std::wstring(text)));
}

// A string or string-list property of a device node as its strings; empty when it has none.
std::vector<std::string> nodeStrings(DEVINST node, ULONG property) {
  std::vector<wchar_t> buffer(kMaxPropertyBytes / sizeof(wchar_t) + 2, L'\0');
  ULONG bytes = kMaxPropertyBytes;
  ULONG type = 0;
  std::vector<std::string> strings;
  if (::CM_Get_DevNode_Registry_PropertyW(node, property, &type, buffer.data(), &bytes, 0) !=
          CR_SUCCESS ||
      (type != REG_SZ && type != REG_MULTI_SZ)) {
    return strings;
  }
  // Two terminators past what was read end the list however the value ended.
  const std::size_t chars = std::min<std::size_t>(bytes / sizeof(wchar_t), buffer.size() - 2);
  buffer[chars] = L'\0';
  buffer[chars + 1] = L'\0';
  for (const wchar_t* at = buffer.data(); *at != L'\0'; at += std::wcslen(at) + 1) {
    strings.push_back(utf8(at));
    if (type == REG_SZ) break;
  }
  return strings;
}

// One open interface: its file handle and the events of its read and its writes.
struct OpenInterface {
  HANDLE file = INVALID_HANDLE_VALUE;
  HANDLE readEvent = nullptr;
  HANDLE writeEvent = nullptr;
  OVERLAPPED read{};
};

OpenInterface* from(Handle handle) {
  return reinterpret_cast<OpenInterface*>(handle);
}

OpenError openErrorOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEVICE_NOT_CONNECTED:
      return OpenError::NotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return OpenError::PermissionDenied;
    default:
      return OpenError::Other;
  }
}

class SystemCalls : public Calls {
 public:
  std::vector<std::string> interfacePaths() override {
    std::vector<std::string> paths;
    GUID hidClass{};
    ::HidD_GetHidGuid(&hidClass);
    const HDEVINFO set =
        ::SetupDiGetClassDevsW(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return paths;
    for (DWORD index = 0;; ++index) {
      SP_DEVICE_INTERFACE_DATA data{};
      data.cbSize = sizeof data;
      if (!::SetupDiEnumDeviceInterfaces(set, nullptr, &hidClass, index, &data)) break;
      DWORD size = 0;
      ::SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
      if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;
      std::vector<unsigned char> buffer(size);
      auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
      detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
      if (::SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr)) {
        paths.push_back(files::utf8Of(std::filesystem::path(detail->DevicePath)));
      }
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return paths;
  }

  Handle open(const std::string& path, Access access, OpenError& error) override {
    const DWORD rights = access == Access::None ? 0 : GENERIC_READ | GENERIC_WRITE;
    const HANDLE file = ::CreateFileW(files::pathFromUtf8(path).wstring().c_str(), rights,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      error = openErrorOf(::GetLastError());
      return kNoHandle;
    }
    auto* open = new OpenInterface;
    open->file = file;
    open->readEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    open->writeEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (open->readEvent == nullptr || open->writeEvent == nullptr) {
      close(reinterpret_cast<Handle>(open));
      error = OpenError::Other;
      return kNoHandle;
    }
    error = OpenError::None;
    return reinterpret_cast<Handle>(open);
  }

  void close(Handle handle) override {
    OpenInterface* open = from(handle);
    if (open == nullptr) return;
    if (open->readEvent) ::CloseHandle(open->readEvent);
    if (open->writeEvent) ::CloseHandle(open->writeEvent);
    ::CloseHandle(open->file);
    delete open;
  }

  bool attributes(Handle handle, std::uint16_t& vendorId, std::uint16_t& productId) override {
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    if (!::HidD_GetAttributes(from(handle)->file, &attributes)) return false;
    vendorId = attributes.VendorID;
    productId = attributes.ProductID;
    return true;
  }

  bool reportLengths(Handle handle, std::size_t& input, std::size_t& output) override {
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!::HidD_GetPreparsedData(from(handle)->file, &preparsed)) return false;
    HIDP_CAPS caps{};
    const bool ok = ::HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
    ::HidD_FreePreparsedData(preparsed);
    if (!ok) return false;
    input = caps.InputReportByteLength;
    output = caps.OutputReportByteLength;
    return true;
  }

  bool text(Handle handle, Text which, std::wstring& out) override {
    wchar_t buffer[kMaxTextChars] = {};
    const HANDLE file = from(handle)->file;
    const ULONG bytes = sizeof buffer - sizeof(wchar_t);  // room for the terminator
    BOOLEAN ok = FALSE;
    switch (which) {
      case Text::Manufacturer:
        ok = ::HidD_GetManufacturerString(file, buffer, bytes);
        break;
      case Text::Product:
        ok = ::HidD_GetProductString(file, buffer, bytes);
        break;
      case Text::Serial:
        ok = ::HidD_GetSerialNumberString(file, buffer, bytes);
        break;
    }
    if (!ok) return false;
    buffer[kMaxTextChars - 1] = L'\0';
    out.assign(buffer);
    return true;
  }

  Io startRead(Handle handle, std::uint8_t* buffer, std::size_t size, std::size_t& got) override {
    OpenInterface* open = from(handle);
    ::ResetEvent(open->readEvent);
    open->read = OVERLAPPED{};
    open->read.hEvent = open->readEvent;
    DWORD bytes = 0;
    if (::ReadFile(open->file, buffer, static_cast<DWORD>(size), &bytes, &open->read)) {
      got = bytes;
      return Io::Done;
    }
    return ::GetLastError() == ERROR_IO_PENDING ? Io::Pending : Io::Failed;
  }

  Io finishRead(Handle handle, int timeoutMs, std::size_t& got) override {
    OpenInterface* open = from(handle);
    if (timeoutMs >= 0 &&
        ::WaitForSingleObject(open->readEvent, static_cast<DWORD>(timeoutMs)) == WAIT_TIMEOUT) {
      return Io::Pending;
    }
    DWORD bytes = 0;
    if (!::GetOverlappedResult(open->file, &open->read, &bytes, TRUE)) return Io::Failed;
    got = bytes;
    return Io::Done;
  }

  void cancelRead(Handle handle) override {
    OpenInterface* open = from(handle);
    ::CancelIo(open->file);
    DWORD bytes = 0;
    ::GetOverlappedResult(open->file, &open->read, &bytes, TRUE);
  }

  bool write(Handle handle, const std::uint8_t* data, std::size_t length,
             std::size_t& written) override {
    OpenInterface* open = from(handle);
    ::ResetEvent(open->writeEvent);
    OVERLAPPED overlapped{};
    overlapped.hEvent = open->writeEvent;
    DWORD bytes = 0;
    if (!::WriteFile(open->file, data, static_cast<DWORD>(length), &bytes, &overlapped)) {
      if (::GetLastError() != ERROR_IO_PENDING) return false;
      if (::WaitForSingleObject(open->writeEvent, kWriteTimeoutMs) != WAIT_OBJECT_0) {
        ::CancelIo(open->file);
        ::GetOverlappedResult(open->file, &overlapped, &bytes, TRUE);
        return false;
      }
      if (!::GetOverlappedResult(open->file, &overlapped, &bytes, FALSE)) return false;
    }
    written = bytes;
    return true;
  }

  Node interfaceNode(const std::string& path) override {
    const HDEVINFO set = ::SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE) return 0;
    Node node = 0;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (::SetupDiOpenDeviceInterfaceW(set, files::pathFromUtf8(path).wstring().c_str(), 0,
                                      &data)) {
      SP_DEVINFO_DATA device{};
      device.cbSize = sizeof device;
      DWORD size = 0;
      // Asked without a detail buffer: fails for want of room, but fills in the device.
      ::SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, &device);
      node = device.DevInst;
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return node;
  }

  Node parent(Node node) override {
    DEVINST up = 0;
    return ::CM_Get_Parent(&up, node, 0) == CR_SUCCESS ? up : 0;
  }

  std::string instanceId(Node node) override {
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    if (::CM_Get_Device_IDW(node, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) return {};
    return utf8(id);
  }

  std::vector<std::string> locationPaths(Node node) override {
    return nodeStrings(node, CM_DRP_LOCATION_PATHS);
  }

  std::string locationInformation(Node node) override {
    const std::vector<std::string> strings = nodeStrings(node, CM_DRP_LOCATION_INFORMATION);
    return strings.empty() ? std::string() : strings.front();
  }
};

}  // namespace

Calls& systemCalls() {
  static SystemCalls calls;
  return calls;
}

}  // namespace talkgate::hid::win

namespace talkgate::hid {

Port& systemPort() {
  static const std::unique_ptr<Port> port = win::makePort(win::systemCalls());
  return *port;
}

}  // namespace talkgate::hid

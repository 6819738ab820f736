#pragma once
// Our loader library for the MSP430 USB bootstrap loader (BSL), with the operations the
// firmware upgrade relies on. It speaks the BSL protocol itself over the active HID port
// (device/hid_port.h), so it runs against real hardware and the simulated loader alike.
// Like the vendor library it replaces, it holds one process-wide connection; programming
// calls come from one worker thread at a time.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "device/hid_port.h"
#include "firmware/data_block.h"
#include "firmware/ti_txt.h"

namespace talkgate::firmware {

// Results of the operations below. Device operations may also return the loader's own
// message byte (1 to 8, bsl::kMsg...), for instance 5 for a refused password.
inline constexpr int kBslOk = 0;
inline constexpr int kBslDeviceAbsent = 1;      // BSL_initialize_BSL: nothing to connect to
inline constexpr int kBslIoError = -1;          // a report could not be written or read
inline constexpr int kBslCannotOpen = -2;       // a file cannot be read
inline constexpr int kBslBadImage = -3;         // malformed TI-TXT; BSL_lastError() says why
inline constexpr int kBslInvalidArgument = -4;  // refused before anything was sent
inline constexpr int kBslNotConnected = -5;     // no loader connection is open
inline constexpr int kBslTimeout = -6;          // no reply in time
inline constexpr int kBslBadReply = -13;        // malformed or unexpected reply
inline constexpr int kBslStopped = -7;          // a stop was asked for; nothing was sent

// Codes for BSL_setFamily and BSL_setCom; the only ones this library speaks.
inline constexpr int kFamilyF5xxUsb = 3;
inline constexpr int kComUsbHid = 2;
// Flags of BSL_RX_TXT and BSL_RX_TXT_File.
inline constexpr int kRxAcknowledged = 0;  // RX Data Block, each block answered
inline constexpr int kRxFast = 1;          // RX Data Block Fast, no answers

inline constexpr int kReplyTimeoutMs = 3000;
inline constexpr int kPasswordReplyTimeoutMs = 5000;  // a refused password mass-erases first
inline constexpr int kReplyPollMs = 1;

// Called with true on a loader arrival and false on a removal, on the watcher's thread or on
// the thread that changed the virtual bus, which may be the programming worker in the middle
// of a loader call: hand the news to another thread and call no BSL_ operation from here
// (BSL_NumOfUSBDevices excepted).
using DeviceNotification = std::function<void(bool arrived)>;

// Starts reporting loader (0x2047:0x0200) arrivals and removals; 0 when registered.
int BSL_RegisterUSBDeviceNotification(DeviceNotification notify);
// Stops the reports started above. Always 0.
int BSL_UnRegisterUSBDeviceNotification();
// Number of HID interfaces with these identifiers on the active port.
std::uint32_t BSL_NumOfUSBDevices(std::uint16_t vendorId, std::uint16_t productId);

// Selects the device family (kFamilyF5xxUsb). 0, or kBslInvalidArgument for another code.
int BSL_setFamily(int family);
// Selects the communication interface (kComUsbHid). 0, or kBslInvalidArgument.
int BSL_setCom(int com);
// Connects to the loader named by "PID=0x0200,VID=0x2047,DEVICEINDEX=0" (any order).
// 0 connected; kBslDeviceAbsent when no such device can be opened or the text or the selected
// family and interface are not ones this library serves.
int BSL_initialize_BSL(std::string_view connection);
// Ends the connection. Always 0.
int BSL_close_BSL();
// The loader interface the open connection was made to (empty path when none is open).
hid::DeviceInfo BSL_connectedDevice();

// The first block (at most maxBytes) of a TI-TXT text; 0 bytes when the text is malformed.
DataBlock_ BSL_readTI_Text(std::string_view text, int maxBytes);
// The password of an erased device: 32 bytes of 0xFF for 0xFFE0-0xFFFF.
DataBlock_ BSL_getDefaultPass();
// Sends the 32-byte password. 0 accepted; 5 refused (the device has mass-erased itself);
// kBslInvalidArgument (nothing sent) unless the block holds exactly 32 bytes at 0xFFE0;
// kBslTimeout (treat as refused) or kBslIoError / kBslNotConnected.
int BSL_RX_Password(const DataBlock_& password);
// Parses a TI-TXT text completely and writes it; nothing is sent when it is malformed.
int BSL_RX_TXT(std::string_view text, int flag);
// Reads a TI-TXT file completely and writes it; nothing is sent when it cannot be read.
int BSL_RX_TXT_File(const std::string& path, int flag);
// Writes a parsed image: kFastBlockBytes per report, word aligned (odd tails padded 0xFF).
int BSL_RX_Image(const TiTxtImage& image, int flag);
// Starts code at address. The loader does not answer; only a failed write is reported.
int BSL_LoadPC(std::uint32_t address);
// "Vendor 00, CI 0x06 API 0x05 PI 0x34" (version digits at positions 16, 25 and 33), or
// "ERROR" when the loader does not answer with a version.
std::string BSL_TX_BSL_Version_String();
// Asks the loader's version: 0 with the four bytes (vendor, command interpreter, API,
// peripheral interface) in version, the loader's message (kMsgUnknownCommand from a loader
// that does not know the request), or a negative result.
int BSL_TX_BSL_Version(std::uint8_t (&version)[4]);
// Reads length (1 to 52) bytes from address into out: 0, the loader's message, or negative.
int BSL_TX_DataBlock(std::uint32_t address, std::uint32_t length, std::uint8_t* out);
// Erases the flash segment holding address. 0, the loader's message, or a negative result.
int BSL_eraseSegment(std::uint32_t address);
// Erases all main flash. 0, the loader's message, or a negative result.
int BSL_massErase();
// Asks the loader for the CRC of length bytes from address; 0 when it answered, the CRC is
// then in BSL_get_RX_Buffer() bytes 5 (low) and 6 (high).
int BSL_CRC_Check(std::uint32_t address, std::uint32_t length);
// The record of the last reply (zeros after a failed request).
dataBuffer BSL_get_RX_Buffer();

// Reads and parses a TI-TXT file for block reading. 0; kBslCannotOpen; kBslBadImage.
int BSL_openTI_TextForRead(const std::string& path);
// Non-zero while blocks of the open file remain.
int BSL_moreDataToRead_TextFile();
// The next block of the open file, at most maxBytes consecutive bytes.
DataBlock_ BSL_readTI_TextFile(int maxBytes);
// Asked before every report is written. Once it answers true, that report and every later
// one stay unsent and the operations return kBslStopped, until a check is set again; the
// device is left between two reports. An empty function never stops.
void BSL_setStopCheck(std::function<bool()> stopWanted);
// While held, a stop asked for is remembered but no report is held back: the reports that
// must go together (a segment, its proof and its erase) all go. Releasing lets it take effect.
// Holding fails (false) when a stop has already taken effect.
bool BSL_holdStops(bool hold);

// Closes the open file. Always 0.
int BSL_closeTI_Text();

// True when the last report could not even be written: the loader never got it.
bool BSL_lastReportUnsent();

// Why the last text, file or password was refused ("line 3: bad hex digit 'G'").
std::string BSL_lastError();

// True when the last request that waits for a reply got none in time since the connection was
// opened: the loader stopped answering (what failed after it is a consequence, not a refusal).
bool BSL_lastRequestUnanswered();

}  // namespace talkgate::firmware

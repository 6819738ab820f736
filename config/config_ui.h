#pragma once
// The configuration file as the windows use it: start-up location, settings access, Save
// Changes, restore, import and export, each showing its own messages through ui::dialogs().
// Nothing here throws.

#include <QString>
#include <functional>
#include <string>

#include "device/commands.h"
#include "device/transport.h"

class QWidget;

namespace talkgate::config {

inline constexpr char kCaptionTalkgate[] = "Velkor Talkgate";
inline constexpr char kCaptionQds[] = "Velkor QDS";

// Start-up: sets FileName under the user's local data folder + "VelkorInterface" and creates the
// file on first use. Never stops start-up; on failure FileName may stay empty.
void locateAndCreateConfigFile();

// Writes key = value into "appSettings"; on failure shows
// "Failed to update USBTalkgateUtilityCfg.ini file." and returns false.
bool SetSettings(const std::string& key, const std::string& value);

// The value of key in "appSettings" as text; "" when the key, section or file is missing.
QString GetSettings(const std::string& key);

// Save Changes: reads the status through readStatus (0 on success; "Unable to Save Config
// file." otherwise), writes the six values beside the file, lets storeDefaults (when given; 0 on
// success) make the device keep its settings, then puts the file in place. A file that cannot
// be written leaves the device as it was; a refused store ("Unable to Write Default..") leaves
// the file as it was.
void SaveToConfigFile(QWidget* parent, const std::function<int(DeviceStatus&)>& readStatus,
                      const std::function<int()>& storeDefaults = {});

// Restores the device from the file (commands 11, 6 when customised, 4, 3) and shows any
// failure. True only when every request succeeded; the caller then reads the status.
bool restoreFromConfigFile(QWidget* parent, DeviceHandle device);

// File menu "Import Cfg File": choose a file, check it and copy it over FileName.
void importConfigFile(QWidget* parent);

// File menu "Export Cfg File": choose a folder and copy FileName into it.
void exportConfigFile(QWidget* parent);

}  // namespace talkgate::config

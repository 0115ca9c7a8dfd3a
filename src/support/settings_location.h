// Finding and opening the settings file.
//
// omsIniFile(N) takes the first of these that exists as a regular file:
//   1. "./" + N, in the process's current directory;
//   2. the directory of the file holding this code (the extension library, or
//      the executable when the code is linked into it) + "/" + N;
//   3. SystemConfigDir() + "/" + N;
//   4. otherwise "./omsurl.ini", after trying to download the settings page
//      (GetINILocation); it is taken whether or not the download worked.
// A name that holds a '/' (a directory part) is never looked for in steps 1
// to 3 and goes straight to step 4. The search runs afresh on every call: a file that
// appears, disappears or changes between two calls is seen by the next one
// (within a RequestScope, by the next request: file_watch.h).
#ifndef MORVANE_SUPPORT_SETTINGS_LOCATION_H_
#define MORVANE_SUPPORT_SETTINGS_LOCATION_H_

#include <memory>
#include <string>

#include "support/ini_file.h"

namespace morvane {

inline constexpr const char* kSettingsFileName = "oms.ini";
// Where the downloaded settings page is kept, relative to the current
// directory.
inline constexpr const char* kDownloadedSettingsPath = "./omsurl.ini";
// The host asked for the settings page when the registry names none.
inline constexpr const char* kDefaultDownloadHost = "morvane-settings";
inline constexpr const char* kSettingsPageName = "omsini.htm";

// The system configuration directory (the stand-in for the Windows
// directory): $MORVANE_SYSCONFDIR when set and non-empty, else
// "/etc/morvane". Read afresh on every call.
std::string SystemConfigDir();

// Opens the settings file (name empty) or the file `name`, found as above.
// Raises EInOutError when the lookup falls back to the download and the
// download cannot be carried out (see SaveDownloadFile). Safe for concurrent
// use. A found file is parsed once and kept while it stays unchanged
// (ini_file_cache.h); a downloaded one is read afresh every time.
std::shared_ptr<const TIniFile> omsIniFile(const std::string& name = "");

// The file that steps 1 to 3 above find, or "" when omsIniFile would
// download the page. Looks only; never downloads.
std::string FindLocalSettingsFile(const std::string& name = "");

// The settings-page address built from the registry values (see registry.h):
// "http://" + (iniServer, or kDefaultDownloadHost when empty) + "/", then
// each of iniFirm, iniRole, iniCustom that is non-empty followed by "/", in
// that order, then "omsini.htm".
std::string SettingsPageAddress();

// Downloads SettingsPageAddress() into kDownloadedSettingsPath and returns
// that path, whether or not the download worked. Raises as SaveDownloadFile.
std::string GetINILocation();

// One GET of `address`. When the server answers with a 2xx status, writes
// the body followed by CR LF to `path` (through a temporary file in the same
// directory and a rename, so no reader ever sees a half-written file) and
// returns true. Any other status is a failed download: returns false and
// leaves an earlier file at `path` in place. Raises EInOutError when no
// answer arrives at all (host unknown or unreachable, broken connection,
// timeout) or when the file cannot be written. Safe for concurrent use, also
// on the same path.
bool SaveDownloadFile(const std::string& address, const std::string& path);

}  // namespace morvane

#endif  // MORVANE_SUPPORT_SETTINGS_LOCATION_H_

// File and folder helpers.
#pragma once

#include <string>

namespace support {

// Folder of the running executable, without a trailing slash.
std::string getAppDir();
// part "prefix": name without extension; "dir": folder part; "name": name with extension.
std::string getFileName(const std::string& path, const std::string& part);
// 0 when the path names an existing regular file, 1 for a folder, -1 when missing.
int getFileType(const std::string& path);
// Creates the folder and its missing parents; true when it exists afterwards.
bool mkdir(const std::string& path);
// Removes a folder with its contents; true when it is gone afterwards.
bool rmdir(const std::string& path);
// MD5 of the file's contents as 32 lower-case hex digits; false when unreadable.
bool getMd5(const std::string& path, std::string& digest);
// Writes `data` to `path` through a temporary file and a rename, with fsync.
bool writeFileAtomic(const std::string& path, const std::string& data);
bool readFile(const std::string& path, std::string& out);

// Per-user folders: $XDG_RUNTIME_DIR (else /tmp/lumacro3-<uid>, created 0700),
// $XDG_CONFIG_HOME (else ~/.config). Created when missing. Empty when no
// safe folder is available.
std::string runtimeDir();
std::string configDir();

}  // namespace support

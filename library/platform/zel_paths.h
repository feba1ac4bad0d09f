// Files, directories and the configuration lookup.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace zel {

// Directory of the running executable (/proc/self/exe), with trailing '/'.
std::string ExecutableDirectory();
// Directory of the loaded libzelcomm.so (dladdr), with trailing '/'; empty when
// the library code is linked statically into the executable (tests).
std::string LibraryDirectory();
// Full path of the loaded libzelcomm.so, empty when linked statically.
std::string LibraryPath();

// Looks for a file in a directory, matching its name without regard to case
// (ASCII). An empty directory is the current one. Returns the directory joined
// with the name found, or empty. An exact match is preferred; among several
// other matches the one first in byte order is taken. Directories with a
// matching name are skipped.
std::string FindFileNoCase(const std::string& directory, const std::string& name);

// The configuration file: $ZELCOMM_INI when set and not empty (used as it is,
// even if the file does not exist); otherwise ZELCOMM.INI (any case) in the
// library's directory, then in the executable's directory. When none exists,
// ZELCOMM.INI in the library's directory (the executable's when the library is
// linked statically). Decided once and cached; ResetConfigPath forgets it
// (tests; a reference obtained earlier must not be used after the reset).
const std::string& ConfigPath();
void ResetConfigPath();

// The directory for Protocol.dat / Protocol.bak: $ZELCOMM_PROTOCOL_DIR (with a
// trailing '/' added) or the executable's directory.
std::string ProtocolDirectory();

// The failing calls below store errno with SetLastError.
// True when the path names anything that exists (symbolic links followed).
bool FileExists(const std::string& path);
// True for a character device (symbolic links followed: /dev/serial/by-id).
bool IsCharacterDevice(const std::string& path);
bool DeleteFile(const std::string& path);
// Renames within a file system; an existing target is replaced (unlike the
// Windows call, which fails): delete the target first where that matters.
bool MoveFile(const std::string& from, const std::string& to);
// Modification time of a file; false when it cannot be read.
bool FileModificationTime(const std::string& path, std::time_t& out);

// Serial ports: [Ports] COM1..COM8 of the configuration map a port number to a
// device path; without a key COMn is /dev/ttyS<n-1>. A value may also be
// tcp://host:port. port is 1..8; anything else gives an empty path. The
// mapping is read from ConfigPath() once and cached.
std::string PortDevicePath(int port);
// Forgets the cached [Ports] mapping (tests, after changing ZELCOMM_INI).
void ResetPortMapping();
// A port is present when its path exists and is a character device, or is a
// tcp:// address.
bool PortPresent(int port);

}  // namespace zel

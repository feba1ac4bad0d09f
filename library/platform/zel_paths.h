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

// Looks for a file in a directory, matching its name without regard to case.
// Returns the full path of the first match, or empty.
std::string FindFileNoCase(const std::string& directory, const std::string& name);

// The configuration file: $ZELCOMM_INI when set; otherwise ZELCOMM.INI (any
// case) in the library's directory, then in the executable's directory. When
// none exists, the path in the first candidate directory. Decided once and
// cached; ResetConfigPath forgets it (tests).
const std::string& ConfigPath();
void ResetConfigPath();

// The directory for Protocol.dat / Protocol.bak: $ZELCOMM_PROTOCOL_DIR (with a
// trailing '/' added) or the executable's directory.
std::string ProtocolDirectory();

bool FileExists(const std::string& path);
bool IsCharacterDevice(const std::string& path);
bool DeleteFile(const std::string& path);
bool MoveFile(const std::string& from, const std::string& to);
// Modification time of a file; false when it cannot be read.
bool FileModificationTime(const std::string& path, std::time_t& out);

// Serial ports: [Ports] COM1..COM8 of the configuration map a port number to a
// device path; without a key COMn is /dev/ttyS<n-1>. A value may also be
// tcp://host:port. port is 1..8; anything else gives an empty path.
std::string PortDevicePath(int port);
// Forgets the cached [Ports] mapping (tests, after changing ZELCOMM_INI).
void ResetPortMapping();
// A port is present when its path exists and is a character device, or is a
// tcp:// address.
bool PortPresent(int port);

}  // namespace zel

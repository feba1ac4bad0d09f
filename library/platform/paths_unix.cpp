// Files, directories, the configuration file lookup and the port mapping.
#include "platform/zel_paths.h"

#include "platform/zel_profile.h"
#include "platform/zel_system.h"

#include <zelcomm/zelcomm.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include <dirent.h>
#include <dlfcn.h>
#include <link.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zel {

namespace {

// An object inside this library: dladdr on its address names the file the
// library code was loaded from.
const char kLibraryAnchor = 0;

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return std::string();
    return path.substr(0, slash + 1);
}

std::string ReadExecutablePath() {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", &buffer[0], buffer.size());
        if (n < 0) {
            SetLastError(errno);
            return std::string();
        }
        if (static_cast<size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<size_t>(n));
            return buffer;
        }
        if (buffer.size() >= 65536) return std::string();
        buffer.resize(buffer.size() * 2);  // may have been cut: try again larger
    }
}

std::string ResolveLibraryPath() {
    Dl_info info{};
    struct link_map* map = nullptr;
    if (::dladdr1(&kLibraryAnchor, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 ||
        !info.dli_fname) {
        return std::string();
    }
    // The main program's link map has an empty name: the library code is
    // linked into the executable itself.
    if (!map || !map->l_name || map->l_name[0] == '\0' || info.dli_fname[0] == '\0') {
        return std::string();
    }
    char resolved[PATH_MAX];
    if (::realpath(info.dli_fname, resolved)) return resolved;
    return info.dli_fname;
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Join(const std::string& directory, const std::string& name) {
    if (directory.empty()) return name;
    if (directory.back() == '/') return directory + name;
    return directory + "/" + name;
}

std::mutex& PathMutex() {
    static std::mutex* const mutex = new std::mutex;
    return *mutex;
}

// Guarded by PathMutex(); never destroyed, as ZelConfigPath hands out its text.
struct CachedPaths {
    bool configKnown = false;
    std::string config;
    bool portsKnown = false;
    std::array<std::string, 8> ports;
};

CachedPaths& Cache() {
    static CachedPaths* const cache = new CachedPaths;
    return *cache;
}

const char* NonEmptyEnv(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

std::string LookUpConfigPath() {
    if (const char* named = NonEmptyEnv("ZELCOMM_INI")) return named;
    const std::string libraryDir = LibraryDirectory();
    const std::string executableDir = ExecutableDirectory();
    for (const std::string* dir : {&libraryDir, &executableDir}) {
        if (dir->empty()) continue;
        std::string found = FindFileNoCase(*dir, "ZELCOMM.INI");
        if (!found.empty()) return found;
    }
    return (libraryDir.empty() ? executableDir : libraryDir) + "ZELCOMM.INI";
}

}  // namespace

std::string ExecutableDirectory() {
    static const std::string directory = DirectoryOf(ReadExecutablePath());
    return directory;
}

std::string LibraryPath() {
    static const std::string path = ResolveLibraryPath();
    return path;
}

std::string LibraryDirectory() { return DirectoryOf(LibraryPath()); }

std::string FindFileNoCase(const std::string& directory, const std::string& name) {
    if (name.empty()) return std::string();
    DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str());
    if (!dir) {
        SetLastError(errno);
        return std::string();
    }
    std::string best;
    bool exact = false;
    while (const dirent* entry = ::readdir(dir)) {
        const char* candidate = entry->d_name;
        if (::strcasecmp(candidate, name.c_str()) != 0) continue;
        if (IsDirectory(Join(directory, candidate))) continue;
        if (name == candidate) {
            best = candidate;
            exact = true;
            break;
        }
        if (!exact && (best.empty() || best > std::string(candidate))) best = candidate;
    }
    ::closedir(dir);
    return best.empty() ? std::string() : Join(directory, best);
}

const std::string& ConfigPath() {
    std::lock_guard<std::mutex> lock(PathMutex());
    CachedPaths& cache = Cache();
    if (!cache.configKnown) {
        cache.config = LookUpConfigPath();
        cache.configKnown = true;
    }
    return cache.config;
}

void ResetConfigPath() {
    std::lock_guard<std::mutex> lock(PathMutex());
    CachedPaths& cache = Cache();
    cache.configKnown = false;
    cache.config.clear();
}

std::string ProtocolDirectory() {
    if (const char* named = NonEmptyEnv("ZELCOMM_PROTOCOL_DIR")) {
        std::string directory = named;
        if (directory.back() != '/') directory += '/';
        return directory;
    }
    return ExecutableDirectory();
}

bool FileExists(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) return true;
    SetLastError(errno);
    return false;
}

bool IsCharacterDevice(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        SetLastError(errno);
        return false;
    }
    return S_ISCHR(st.st_mode);
}

bool DeleteFile(const std::string& path) {
    if (::unlink(path.c_str()) == 0) return true;
    SetLastError(errno);
    return false;
}

bool MoveFile(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    SetLastError(errno);
    return false;
}

bool FileModificationTime(const std::string& path, std::time_t& out) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        SetLastError(errno);
        return false;
    }
    out = st.st_mtime;
    return true;
}

std::string PortDevicePath(int port) {
    if (port < 1 || port > 8) return std::string();
    const std::string config = ConfigPath();  // takes the lock itself
    std::lock_guard<std::mutex> lock(PathMutex());
    CachedPaths& cache = Cache();
    if (!cache.portsKnown) {
        const Profile profile = Profile::Load(config);
        for (int n = 1; n <= 8; ++n) {
            const std::string key = "COM" + std::to_string(n);
            std::string path = profile.ReadString("Ports", key, "");
            if (path.empty()) path = "/dev/ttyS" + std::to_string(n - 1);
            cache.ports[static_cast<size_t>(n - 1)] = path;
        }
        cache.portsKnown = true;
    }
    return cache.ports[static_cast<size_t>(port - 1)];
}

void ResetPortMapping() {
    std::lock_guard<std::mutex> lock(PathMutex());
    CachedPaths& cache = Cache();
    cache.portsKnown = false;
    for (std::string& path : cache.ports) path.clear();
}

bool PortPresent(int port) {
    const std::string path = PortDevicePath(port);
    if (path.empty()) return false;
    if (path.size() >= 6 && ::strncasecmp(path.c_str(), "tcp://", 6) == 0) return true;
    return IsCharacterDevice(path);
}

}  // namespace zel

// ---- Exported calls -------------------------------------------------------

const char* ZelConfigPath(void) {
    try {
        return zel::ConfigPath().c_str();
    } catch (...) {
        return "";
    }
}

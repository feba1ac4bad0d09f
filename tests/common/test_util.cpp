#include "common/test_util.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <ftw.h>
#include <langinfo.h>
#include <locale.h>

namespace zeltest {

namespace {
int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }
}  // namespace

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/zelcomm-test-XXXXXX";
    if (!::mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

TempDir::~TempDir() { ::nftw(path_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS); }

std::string TempDir::File(const std::string& name) const { return path_ + "/" + name; }

std::string TempDir::Write(const std::string& name, const std::string& content) const {
    std::string full = File(name);
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out << content;
    return full;
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) { hadOld_ = true; old_ = old; }
    if (value) ::setenv(name, value, 1); else ::unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
    if (hadOld_) ::setenv(name_.c_str(), old_.c_str(), 1); else ::unsetenv(name_.c_str());
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool PathExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string CommaLocale() {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8",
                             "de_DE", "fr_FR", "es_ES.UTF-8", "it_IT.UTF-8", "nl_NL.UTF-8"}) {
        locale_t loc = ::newlocale(LC_NUMERIC_MASK, name, static_cast<locale_t>(0));
        if (!loc) continue;
        const bool comma = ::nl_langinfo_l(RADIXCHAR, loc)[0] == ',';
        ::freelocale(loc);
        if (comma) return name;
    }
    return std::string();
}

}  // namespace zeltest

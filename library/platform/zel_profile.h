// Reading configuration files with the Windows profile rules: section and
// key names without regard to case, blanks around values trimmed, ';'
// comment lines, an integer is its leading decimal digits with an optional
// sign (anything else gives 0), a missing file, section or key gives the
// default. Lines of any length and binary bytes never fault.
//
// Details: lines end with LF or CR LF; white space around section names,
// keys and values are trimmed; one pair of matching double or single quotes
// around a value is removed; a line without '=' inside a section and lines
// before the first section are ignored. As on Windows the first section of a
// name is the one read (keys under a repeated section header are not seen)
// and within it the first line of a key wins.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace zel {

class Profile {
public:
    // Only the first kMaxFileSize bytes of a larger file are read.
    static constexpr size_t kMaxFileSize = 16u * 1024u * 1024u;

    // Reads the whole file; a missing or unreadable file is an empty profile.
    static Profile Load(const std::string& path);
    static Profile FromText(const std::string& text);

    bool Loaded() const { return loaded_; }
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const;
    // ProfileInteger of the value; the default when the key is missing or its
    // value is empty (as GetPrivateProfileInt).
    int ReadInteger(const std::string& section, const std::string& key, int defaultValue) const;
    bool HasKey(const std::string& section, const std::string& key) const;

private:
    struct Section {
        std::string name;
        std::vector<std::pair<std::string, std::string>> keys;  // key, value
    };
    const std::string* Find(const std::string& section, const std::string& key) const;

    std::vector<Section> sections_;
    bool loaded_ = false;
};

// GetPrivateProfileInt's conversion: leading blanks skipped, optional sign,
// decimal digits up to the first other character; "abc" and "0x10" give 0;
// overflow saturates at INT_MAX / INT_MIN.
int ProfileInteger(const std::string& value);

}  // namespace zel

// Reading configuration files with the Windows profile rules: section and
// key names without regard to case, blanks around values trimmed, ';'
// comment lines, an integer is its leading decimal digits with an optional
// sign (anything else gives 0), a missing file, section or key gives the
// default. Lines of any length and binary bytes never fault.
#pragma once

#include <string>
#include <vector>

namespace zel {

class Profile {
public:
    // Reads the whole file; a missing or unreadable file is an empty profile.
    static Profile Load(const std::string& path);
    static Profile FromText(const std::string& text);

    bool Loaded() const { return loaded_; }
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const;
    int ReadInteger(const std::string& section, const std::string& key, int defaultValue) const;
    bool HasKey(const std::string& section, const std::string& key) const;

private:
    struct Entry { std::string section, key, value; };
    std::vector<Entry> entries_;
    bool loaded_ = false;
};

// GetPrivateProfileInt's conversion: leading blanks skipped, optional sign,
// decimal digits; "abc" gives 0; overflow saturates.
int ProfileInteger(const std::string& value);

}  // namespace zel

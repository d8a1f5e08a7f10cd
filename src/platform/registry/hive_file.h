// The keys of one user, and the text file that holds them.
#pragma once

#include "registry_api.h"

#include <functional>
#include <string>
#include <vector>

struct HiveValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;

    bool operator==(const HiveValue&) const = default;
};

// Key and value names compare without regard to (ASCII) case, as Windows does.
struct HiveKey {
    std::string path;
    std::vector<std::pair<std::string, HiveValue>> values;

    const HiveValue* find(const std::string& name) const;
    void set(const std::string& name, const HiveValue& value);

    bool operator==(const HiveKey&) const = default;
};

struct Hive {
    std::vector<HiveKey> keys;

    HiveKey* findKey(const std::string& path);
    bool ensureKey(const std::string& path);  // true when it had to be created

    bool operator==(const Hive&) const = default;  // names and paths exactly, in order
};

namespace registry_file {

// A larger file reads as one that cannot be parsed; it is never read whole.
constexpr std::size_t maxFileSize = std::size_t{1} << 20;

// The text of the registry editor's export format, and back. format() writes
// UTF-8 under the version 5.00 header; parse() also reads the editor's own
// exports (UTF-16LE with a byte-order mark, or REGEDIT4 in 8-bit text). parse()
// is false for bytes it cannot read, and never throws.
std::string format(const Hive& hive);
bool parse(const std::string& bytes, Hive& hive);

// Reads the hive; a missing file is an empty hive, and so is one that cannot
// be parsed. An unreadable file is ERROR_ACCESS_DENIED.
LONG read(const std::string& file, Hive& hive);

// Reads, changes and writes the hive under the file's lock; `change` returns
// whether there is anything to write. The file is replaced atomically.
LONG update(const std::string& file, const std::function<bool(Hive&)>& change);

}  // namespace registry_file

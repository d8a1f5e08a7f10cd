#include "hive_file.h"

#include "file_util.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <new>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace {

constexpr const char* kHeader = "Windows Registry Editor Version 5.00";
constexpr const char* kOldHeader = "REGEDIT4";
int crashAtStep = 0;

bool sameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x != y && !(x < 128 && y < 128 && std::tolower(x) == std::tolower(y))) return false;
    }
    return true;
}

void checkpoint(int step) {
    if (crashAtStep == step) ::_exit(0);
}

// ---- The text format ----------------------------------------------------------

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + '"';
}

bool validUtf8(const BYTE* bytes, std::size_t end) {
    for (std::size_t i = 0; i < end;) {
        const BYTE c = bytes[i];
        const int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        if (extra < 0 || i + static_cast<std::size_t>(extra) >= end) return false;
        for (int k = 1; k <= extra; ++k)
            if ((bytes[i + static_cast<std::size_t>(k)] & 0xC0) != 0x80) return false;
        i += static_cast<std::size_t>(extra) + 1;
    }
    return true;
}

// A text value is written as text only when that gives back the same bytes.
bool plainText(const HiveValue& v) {
    if (v.type != REG_SZ || v.data.empty() || v.data.back() != 0) return false;
    const std::size_t end = v.data.size() - 1;
    for (std::size_t i = 0; i < end; ++i)
        if (v.data[i] == 0 || v.data[i] == '\n' || v.data[i] == '\r') return false;
    return validUtf8(v.data.data(), end);
}

std::string formatValue(const HiveValue& v) {
    if (plainText(v)) return quoted(std::string(v.data.begin(), v.data.end() - 1));
    char buffer[16];
    if (v.type == REG_DWORD && v.data.size() == 4) {
        const DWORD d = v.data[0] | v.data[1] << 8 | v.data[2] << 16 | static_cast<DWORD>(v.data[3]) << 24;
        std::snprintf(buffer, sizeof buffer, "dword:%08x", d);
        return buffer;
    }
    std::string out = v.type == REG_BINARY ? "hex:" : (std::snprintf(buffer, sizeof buffer, "hex(%x):", v.type), buffer);
    for (std::size_t i = 0; i < v.data.size(); ++i) {
        std::snprintf(buffer, sizeof buffer, i ? ",%02x" : "%02x", v.data[i]);
        out += buffer;
    }
    return out;
}

// Reads a quoted text at `at`, moving past it.
bool readQuoted(const std::string& line, std::size_t& at, std::string& text) {
    if (at >= line.size() || line[at] != '"') return false;
    text.clear();
    for (++at; at < line.size(); ++at) {
        if (line[at] == '"') {
            ++at;
            return true;
        }
        if (line[at] == '\\' && ++at >= line.size()) return false;
        text += line[at];
    }
    return false;
}

// Hex digits only (no sign, prefix or blanks), within the type's range.
template <typename Number>
bool hexNumber(std::string_view digits, Number& value) {
    const char* end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, value, 16);
    return error == std::errc() && stop == end;
}

bool readHexBytes(std::string_view list, std::vector<BYTE>& bytes) {
    bytes.reserve(list.size() / 3 + 1);
    std::size_t at = 0;
    while (at < list.size()) {
        unsigned byte = 0;
        if (at + 2 > list.size() || !hexNumber(list.substr(at, 2), byte)) return false;
        bytes.push_back(static_cast<BYTE>(byte));
        at += 2;
        if (at < list.size() && list[at++] != ',') return false;
    }
    return true;
}

bool parseValue(const std::string& data, HiveValue& v) {
    if (!data.empty() && data.front() == '"') {
        std::size_t at = 0;
        std::string text;
        if (!readQuoted(data, at, text) || at != data.size()) return false;
        v = {REG_SZ, std::vector<BYTE>(text.begin(), text.end())};
        v.data.push_back(0);
        return true;
    }
    if (data.rfind("dword:", 0) == 0) {
        DWORD d = 0;
        if (data.size() != 6 + 8 || !hexNumber(std::string_view(data).substr(6), d)) return false;
        v = {REG_DWORD, {static_cast<BYTE>(d), static_cast<BYTE>(d >> 8), static_cast<BYTE>(d >> 16), static_cast<BYTE>(d >> 24)}};
        return true;
    }
    std::size_t colon = data.find(':');
    if (colon == std::string::npos) return false;
    const std::string_view kind = std::string_view(data).substr(0, colon);
    if (kind == "hex") {
        v.type = REG_BINARY;
    } else if (kind.size() > 5 && kind.substr(0, 4) == "hex(" && kind.back() == ')') {
        // A type beyond 32 bits is no type at all, not a truncated one.
        if (!hexNumber(kind.substr(4, kind.size() - 5), v.type)) return false;
    } else {
        return false;
    }
    v.data.clear();
    return readHexBytes(std::string_view(data).substr(colon + 1), v.data);
}

std::string trimmed(const std::string& s) {
    const std::size_t first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The registry editor's own exports: UTF-16LE behind a byte-order mark. A lone
// surrogate becomes U+FFFD; an odd number of bytes is no such file.
bool fromUtf16(const std::string& bytes, std::string& text) {
    if (bytes.size() % 2 != 0) return false;
    auto unit = [&bytes](std::size_t i) -> char32_t {
        return static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8;
    };
    text.clear();
    text.reserve(bytes.size());
    for (std::size_t i = 2; i < bytes.size(); i += 2) {
        char32_t c = unit(i);
        if (c >= 0xD800 && c < 0xDC00 && i + 2 < bytes.size() && unit(i + 2) >= 0xDC00 && unit(i + 2) < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        appendUtf8(text, c);
    }
    return true;
}

// REGEDIT4 files are in the Windows code page; we take the Western one
// (1252: Latin-1 but for 0x80..0x9F, its gaps mapped to C1 controls as Windows does).
std::string fromCodePage1252(const std::string& bytes) {
    static constexpr char16_t high[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    std::string text;
    text.reserve(bytes.size());
    for (const char b : bytes) {
        const auto c = static_cast<unsigned char>(b);
        appendUtf8(text, c >= 0x80 && c < 0xA0 ? high[c - 0x80] : c);
    }
    return text;
}

// Key and value names as lookup keys: ASCII letters folded, as sameName() compares.
std::string folded(std::string name) {
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 128) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

// The lines of `text`, after the encoding has been settled. Lookups go through
// hash tables: with linear ones 1 MiB of short keys took over a minute.
bool parseText(const std::string& text, Hive& hive) {
    std::size_t next = 0;
    auto readLine = [&](std::string& line) {
        if (next >= text.size()) return false;
        std::size_t end = text.find('\n', next);
        if (end == std::string::npos) end = text.size();
        line.assign(text, next, end - next);
        next = end + 1;
        return true;
    };
    std::unordered_map<std::string, std::size_t> keyAt;
    std::vector<std::unordered_map<std::string, std::size_t>> valueAt;
    std::size_t key = std::string::npos;
    bool header = false, ansi = false;
    std::string line;
    while (readLine(line)) {
        line = trimmed(line);
        // Long hex lists go on over lines ending in a backslash.
        if (line.find("=hex") != std::string::npos) {
            while (!line.empty() && line.back() == '\\') {
                std::string more;
                if (!readLine(more)) return false;
                line.pop_back();
                line += trimmed(more);
            }
        }
        if (line.empty() || line[0] == ';') continue;
        if (!header) {
            if (line != kHeader && line != kOldHeader) return false;
            header = true;
            // An old-style file that is valid UTF-8 was written as UTF-8 (by hand, say).
            ansi = line == kOldHeader && !validUtf8(reinterpret_cast<const BYTE*>(text.data()), text.size());
            continue;
        }
        if (ansi) line = fromCodePage1252(line);
        if (line.front() == '[') {
            if (line.back() != ']' || line.size() < 3 || line[1] == '-') return false;
            std::string path = line.substr(1, line.size() - 2);
            const auto [at, added] = keyAt.try_emplace(folded(path), hive.keys.size());
            if (added) {
                hive.keys.push_back({std::move(path), {}});
                valueAt.emplace_back();
            }
            key = at->second;
            continue;
        }
        if (key == std::string::npos) return false;
        std::size_t at = 0;
        std::string name;
        if (line[0] == '@') {
            at = 1;
        } else if (!readQuoted(line, at, name)) {
            return false;
        }
        if (at >= line.size() || line[at] != '=') return false;
        HiveValue value;
        if (!parseValue(line.substr(at + 1), value)) return false;
        auto& values = hive.keys[key].values;
        const auto [where, added] = valueAt[key].try_emplace(folded(name), values.size());
        if (added) {
            values.emplace_back(std::move(name), std::move(value));
        } else {
            values[where->second].second = std::move(value);
        }
    }
    return header;
}

// ---- The file -----------------------------------------------------------------

class LockFile {
public:
    explicit LockFile(const std::string& file) : fd_(::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~LockFile() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    bool held() const { return fd_ >= 0; }

private:
    int fd_;
};

bool makeFolders(const std::string& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    if (!makeFolders(files::folderOf(folder))) return false;
    return ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

// Reads the file's text, but no more than one byte beyond the size parse()
// accepts; false when it exists but cannot be read.
bool slurp(const std::string& file, std::string& text, bool& exists) {
    text.clear();
    // Non-blocking, so that a pipe put in the file's place cannot stall a start.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    exists = fd >= 0 || errno != ENOENT;
    if (fd < 0) return !exists;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    char buffer[8192];
    ssize_t n = 0;
    while (text.size() <= registry_file::maxFileSize && (n = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    return n >= 0;
}

// Temporary files of saves that were killed half-way; only called under the
// lock, when no other save can be under way.
void removeLeftovers(const std::string& file) {
    const std::string folder = files::folderOf(file);
    const std::string prefix = files::nameOf(file) + ".tmp-";
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = ::readdir(dir))
        if (std::string(entry->d_name).rfind(prefix, 0) == 0) ::unlink((folder + '/' + entry->d_name).c_str());
    ::closedir(dir);
}

// A file we could not parse is renamed aside, never overwritten.
bool keepAside(const std::string& file) {
    for (int n = 1; n < 1000; ++n) {
        const std::string aside = file + ".corrupt-" + std::to_string(n);
        if (::access(aside.c_str(), F_OK) == 0) continue;
        return std::rename(file.c_str(), aside.c_str()) == 0;
    }
    return false;
}

}  // namespace

// Declared in test_hooks.h, which needs Qt; this library does not.
void registryCrashAtSaveStep(int step);
void registryCrashAtSaveStep(int step) { crashAtStep = step; }

const HiveValue* HiveKey::find(const std::string& name) const {
    for (const auto& [n, v] : values)
        if (sameName(n, name)) return &v;
    return nullptr;
}

void HiveKey::set(const std::string& name, const HiveValue& value) {
    for (auto& [n, v] : values) {
        if (sameName(n, name)) {
            v = value;
            return;
        }
    }
    values.emplace_back(name, value);
}

HiveKey* Hive::findKey(const std::string& path) {
    for (HiveKey& key : keys)
        if (sameName(key.path, path)) return &key;
    return nullptr;
}

bool Hive::ensureKey(const std::string& path) {
    if (findKey(path)) return false;
    keys.push_back({path, {}});
    return true;
}

namespace registry_file {

std::string format(const Hive& hive) {
    std::string out = std::string(kHeader) + "\n\n";
    for (const HiveKey& key : hive.keys) {
        out += '[' + key.path + "]\n";
        for (const auto& [name, value] : key.values)
            out += (name.empty() ? std::string("@") : quoted(name)) + '=' + formatValue(value) + '\n';
        out += '\n';
    }
    return out;
}

bool parse(const std::string& bytes, Hive& hive) {
    hive = Hive{};
    if (bytes.size() > maxFileSize) return false;
    try {
        std::string text;
        if (bytes.rfind("\xFF\xFE", 0) != 0) {
            text = bytes;
        } else if (!fromUtf16(bytes, text)) {
            return false;
        }
        if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
        if (parseText(text, hive)) return true;
    } catch (const std::bad_alloc&) {
        // A file too big for the memory left reads as one we cannot parse.
    }
    hive = Hive{};
    return false;
}

LONG read(const std::string& file, Hive& hive) {
    std::string text;
    bool exists = false;
    if (!slurp(file, text, exists)) return ERROR_ACCESS_DENIED;
    if (!exists || !parse(text, hive)) hive = Hive{};
    return ERROR_SUCCESS;
}

LONG update(const std::string& file, const std::function<bool(Hive&)>& change) {
    if (!makeFolders(files::folderOf(file))) return ERROR_ACCESS_DENIED;
    const LockFile lock(file);
    if (!lock.held()) return ERROR_ACCESS_DENIED;
    std::string text;
    bool exists = false;
    if (!slurp(file, text, exists)) return ERROR_ACCESS_DENIED;
    Hive hive;
    const bool corrupt = exists && !parse(text, hive);
    if (corrupt) hive = Hive{};
    if (!change(hive)) return ERROR_SUCCESS;
    const std::string written = format(hive);
    if (written.size() > maxFileSize) return ERROR_OUTOFMEMORY;  // we would not read it back
    if (corrupt && !keepAside(file)) return ERROR_ACCESS_DENIED;
    removeLeftovers(file);
    return files::replaceFile(file, written, 0600, checkpoint) ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

}  // namespace registry_file

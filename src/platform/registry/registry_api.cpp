#include "registry_api.h"

#include "hive_file.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

namespace {

struct OpenKey {
    std::string path;  // full path, e.g. HKEY_CURRENT_USER\Software\Corvane
    REGSAM access;
};

std::mutex handlesLock;
std::set<OpenKey*>& handles() {
    static std::set<OpenKey*> open;
    return open;
}

OpenKey* lookUp(HKEY key) {
    const std::lock_guard<std::mutex> lock(handlesLock);
    auto* open = reinterpret_cast<OpenKey*>(key);
    return handles().count(open) ? open : nullptr;
}

HKEY hand(std::string path, REGSAM access) {
    auto* open = new OpenKey{std::move(path), access};
    const std::lock_guard<std::mutex> lock(handlesLock);
    handles().insert(open);
    return reinterpret_cast<HKEY>(open);
}

// The full path of `sub` below `parent`, or false for an unknown parent.
bool fullPath(HKEY parent, LPCSTR sub, std::string& path) {
    if (parent == HKEY_CURRENT_USER) {
        path = "HKEY_CURRENT_USER";
    } else if (const OpenKey* open = lookUp(parent)) {
        path = open->path;
    } else {
        return false;
    }
    std::string part;
    for (const char* p = sub ? sub : "";; ++p) {
        if (*p == '\\' || *p == '\0') {
            if (!part.empty()) path += '\\' + part;
            part.clear();
            if (*p == '\0') break;
        } else {
            part += *p;
        }
    }
    return true;
}

}  // namespace

std::string registryFilePath() {
    if (const char* file = std::getenv("PELLICOR_REGISTRY_FILE"); file && *file) return file;
    std::string config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
        config = xdg;
    } else {
        const char* home = std::getenv("HOME");
        config = std::string(home && *home ? home : ".") + "/.config";
    }
    return config + "/pellicor/registry.reg";
}

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM samDesired, const SECURITY_ATTRIBUTES*,
                     PHKEY phkResult, LPDWORD lpdwDisposition) {
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    std::string path;
    if (!fullPath(hKey, lpSubKey, path)) return ERROR_INVALID_HANDLE;
    bool created = false;
    const LONG rc = registry_file::update(registryFilePath(), [&](Hive& hive) {
        // Every missing key along the path is created (the root itself is no key of the file).
        for (std::size_t at = path.find('\\', path.find('\\') + 1); at != std::string::npos; at = path.find('\\', at + 1))
            created |= hive.ensureKey(path.substr(0, at));
        created |= hive.ensureKey(path);
        return created;
    });
    if (rc != ERROR_SUCCESS) return rc;
    *phkResult = hand(path, samDesired);
    if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    std::string path;
    if (!fullPath(hKey, lpSubKey, path)) return ERROR_INVALID_HANDLE;
    Hive hive;
    if (LONG rc = registry_file::read(registryFilePath(), hive)) return rc;
    if (path != "HKEY_CURRENT_USER" && hive.findKey(path) == nullptr) return ERROR_FILE_NOT_FOUND;
    *phkResult = hand(path, samDesired);
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
    const OpenKey* open = lookUp(hKey);
    if (open == nullptr) return ERROR_INVALID_HANDLE;
    if ((open->access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
    if (lpData == nullptr && cbData != 0) return ERROR_INVALID_PARAMETER;
    HiveValue value{dwType, std::vector<BYTE>(lpData, lpData + cbData)};
    const std::string name = lpValueName ? lpValueName : "";
    return registry_file::update(registryFilePath(), [&](Hive& hive) {
        hive.ensureKey(open->path);
        hive.findKey(open->path)->set(name, value);
        return true;
    });
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    const OpenKey* open = lookUp(hKey);
    if (open == nullptr) return ERROR_INVALID_HANDLE;
    if ((open->access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
    if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
    Hive hive;
    if (LONG rc = registry_file::read(registryFilePath(), hive)) return rc;
    const HiveKey* key = hive.findKey(open->path);
    const HiveValue* value = key ? key->find(lpValueName ? lpValueName : "") : nullptr;
    if (value == nullptr) return ERROR_FILE_NOT_FOUND;
    if (lpType) *lpType = value->type;
    const auto size = static_cast<DWORD>(value->data.size());
    if (lpData == nullptr) {
        if (lpcbData) *lpcbData = size;
        return ERROR_SUCCESS;
    }
    if (*lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (size > 0) std::memcpy(lpData, value->data.data(), size);
    *lpcbData = size;
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey) {
    if (hKey == HKEY_CURRENT_USER) return ERROR_SUCCESS;
    auto* open = reinterpret_cast<OpenKey*>(hKey);
    {
        const std::lock_guard<std::mutex> lock(handlesLock);
        if (handles().erase(open) == 0) return ERROR_INVALID_HANDLE;
    }
    delete open;
    return ERROR_SUCCESS;
}

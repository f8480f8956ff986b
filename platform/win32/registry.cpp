#include "platform/win32/registry.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

namespace {
// Open keys are tracked, so a closed or foreign handle is refused.
std::mutex keyMutex;
std::set<HKEY> openKeys;
ULONG_PTR nextKey = 0x1000;

bool IsOpenKey(HKEY key) {
    std::lock_guard<std::mutex> lock(keyMutex);
    return openKeys.count(key) != 0;
}

bool IsPredefinedKey(HKEY key) {
    ULONG_PTR v = reinterpret_cast<ULONG_PTR>(key);
    return v >= 0x80000000u && v <= 0x80000006u;
}

// Parses a whole decimal or 0x-hex number that fits 32 bits.
bool ParseDword(const char* text, DWORD& out) {
    if (!text || !*text) return false;
    const char* p = text;
    int base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    }
    // Digits only: strtoull would also take a sign, spaces or a second "0x".
    if (!*p) return false;
    for (const char* c = p; *c; ++c)
        if (!(base == 16 ? std::isxdigit(static_cast<unsigned char>(*c)) : std::isdigit(static_cast<unsigned char>(*c))))
            return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(p, &end, base);
    if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull) return false;
    out = static_cast<DWORD>(v);
    return true;
}
}  // namespace

LONG RegOpenKeyExA(HKEY key, LPCSTR, DWORD, REGSAM, PHKEY result) {
    if (!result) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    *result = nullptr;
    if (!IsPredefinedKey(key) && !IsOpenKey(key)) return static_cast<LONG>(ERROR_INVALID_HANDLE);
    std::lock_guard<std::mutex> lock(keyMutex);
    HKEY opened = reinterpret_cast<HKEY>(nextKey);
    nextKey += 0x10;
    openKeys.insert(opened);
    *result = opened;
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data,
                      LPDWORD dataSize) {
    if (!IsOpenKey(key) && !IsPredefinedKey(key)) return static_cast<LONG>(ERROR_INVALID_HANDLE);
    if (data && !dataSize) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    std::string variable = "VINTREL_REG_";
    for (const char* p = valueName ? valueName : ""; *p; ++p)
        variable += static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    const char* text = std::getenv(variable.c_str());
    if (!text) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);

    DWORD number = 0;
    bool isDword = ParseDword(text, number);
    DWORD needed = isDword ? 4 : static_cast<DWORD>(std::strlen(text) + 1);
    if (type) *type = isDword ? REG_DWORD : REG_SZ;
    if (!data) {
        if (dataSize) *dataSize = needed;
        return ERROR_SUCCESS;
    }
    if (*dataSize < needed) {
        *dataSize = needed;
        return static_cast<LONG>(ERROR_MORE_DATA);
    }
    if (isDword)
        std::memcpy(data, &number, 4);
    else
        std::memcpy(data, text, needed);
    *dataSize = needed;
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    if (IsPredefinedKey(key)) return ERROR_SUCCESS;
    std::lock_guard<std::mutex> lock(keyMutex);
    if (openKeys.erase(key) == 0) return static_cast<LONG>(ERROR_INVALID_HANDLE);
    return ERROR_SUCCESS;
}

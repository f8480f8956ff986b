#include "platform/win32/resource.h"

#include <strings.h>

#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>

#include "platform/win32/error.h"
#include "platform/win32/module.h"

namespace {
constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

struct Key {
    bool isId;
    WORD id;
    std::string text;
};

struct Entry {
    Key type, name;
    const void* data;
    DWORD size;
};

std::mutex tableMutex;
std::deque<Entry> entries;  // stable addresses: an HRSRC points at its entry

Key MakeKey(LPCSTR p) {
    if (IS_INTRESOURCE(p)) return {true, LOWORD(reinterpret_cast<ULONG_PTR>(p)), {}};
    if (p[0] == '#') {
        char* end = nullptr;
        unsigned long v = std::strtoul(p + 1, &end, 10);
        if (end != p + 1 && *end == '\0' && v <= 0xFFFF) return {true, static_cast<WORD>(v), {}};
    }
    return {false, 0, p};
}

bool Same(const Key& a, const Key& b) {
    if (a.isId != b.isId) return false;
    return a.isId ? a.id == b.id : strcasecmp(a.text.c_str(), b.text.c_str()) == 0;
}

bool IsExecutable(HMODULE module) { return !module || module == GetModuleHandleA(nullptr); }
}  // namespace

void RegisterResources(const ResourceRecord* records, std::size_t count) {
    std::lock_guard<std::mutex> lock(tableMutex);
    for (std::size_t i = 0; i < count; ++i)
        entries.push_front(
            {MakeKey(records[i].type), MakeKey(records[i].name), records[i].data, records[i].size});
}

void ClearResourcesForTesting() {
    std::lock_guard<std::mutex> lock(tableMutex);
    entries.clear();
}

HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
    if (!name || !type) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!IsExecutable(module)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    Key typeKey = MakeKey(type), nameKey = MakeKey(name);
    std::lock_guard<std::mutex> lock(tableMutex);
    bool typeSeen = false;
    for (Entry& e : entries) {
        if (!Same(e.type, typeKey)) continue;
        typeSeen = true;
        if (Same(e.name, nameKey)) return reinterpret_cast<HRSRC>(&e);
    }
    SetLastError(typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
    if (!resource) return nullptr;
    return const_cast<void*>(reinterpret_cast<Entry*>(resource)->data);
}

DWORD SizeofResource(HMODULE, HRSRC resource) {
    if (!resource) return 0;
    return reinterpret_cast<Entry*>(resource)->size;
}

// Resource data is already in memory: the handle is the address.
LPVOID LockResource(HGLOBAL data) { return data; }
BOOL FreeResource(HGLOBAL) { return FALSE; }

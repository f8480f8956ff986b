#include "platform/win32/module.h"

#include <dlfcn.h>
#include <limits.h>
#include <strings.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win32/error.h"

namespace {
struct Module {
    std::string name;          // lower case, with its extension
    void* library = nullptr;   // dlopen handle, null for built-in modules
    std::map<std::string, void*> exports;
    int loads = 0;
};

struct ModuleTable {
    std::mutex mutex;
    std::vector<std::unique_ptr<Module>> modules;
};

ModuleTable& Table() {
    static ModuleTable* table = new ModuleTable;  // outlives static destructors
    return *table;
}

// The executable's own handle: any unique non-null address.
char executableModule;

std::string Lower(const char* s) {
    std::string out;
    for (; *s; ++s) out += static_cast<char>(std::tolower(static_cast<unsigned char>(*s)));
    return out;
}

// "foo" and "foo.dll" name the same module.
std::string Canonical(const char* name) {
    std::string n = Lower(name);
    size_t slash = n.find_last_of("/\\");
    if (slash != std::string::npos) n = n.substr(slash + 1);
    if (n.find('.') == std::string::npos) n += ".dll";
    return n;
}

Module* Find(const std::string& name) {
    for (auto& m : Table().modules)
        if (m->name == name) return m.get();
    return nullptr;
}

Module* FindHandle(HMODULE handle) {
    for (auto& m : Table().modules)
        if (reinterpret_cast<HMODULE>(m.get()) == handle) return m.get();
    return nullptr;
}

std::string ExecutableDirectory() {
    char path[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    path[n] = '\0';
    std::string p(path);
    size_t slash = p.find_last_of('/');
    return slash == std::string::npos ? std::string() : p.substr(0, slash);
}

void* OpenSharedLibrary(const std::string& canonical) {
    std::string stem = canonical.substr(0, canonical.find('.'));
    const std::string candidates[] = {"lib" + stem + ".so", "libvintrel-" + stem + ".so"};
    std::string dir = ExecutableDirectory();
    for (const std::string& file : candidates) {
        if (!dir.empty()) {
            std::string beside = dir + "/" + file;
            if (::access(beside.c_str(), F_OK) == 0)
                if (void* h = ::dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
        }
    }
    for (const std::string& file : candidates)
        if (void* h = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
    return nullptr;
}
}  // namespace

void RegisterBuiltinModule(const char* name, std::initializer_list<BuiltinExport> exports) {
    ModuleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    std::string canonical = Canonical(name);
    Module* module = Find(canonical);
    if (!module) {
        table.modules.push_back(std::make_unique<Module>());
        module = table.modules.back().get();
        module->name = canonical;
    }
    module->exports.clear();
    for (const auto& [exportName, address] : exports) module->exports[exportName] = address;
}

HMODULE LoadLibraryA(LPCSTR name) {
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    ModuleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    std::string canonical = Canonical(name);
    if (Module* module = Find(canonical)) {
        ++module->loads;
        return reinterpret_cast<HMODULE>(module);
    }
    void* library = OpenSharedLibrary(canonical);
    if (!library) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    table.modules.push_back(std::make_unique<Module>());
    Module* module = table.modules.back().get();
    module->name = canonical;
    module->library = library;
    module->loads = 1;
    return reinterpret_cast<HMODULE>(module);
}

BOOL FreeLibrary(HMODULE handle) {
    ModuleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    Module* module = FindHandle(handle);
    if (!module) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (module->library && module->loads > 0 && --module->loads == 0) {
        ::dlclose(module->library);
        for (auto it = table.modules.begin(); it != table.modules.end(); ++it)
            if (it->get() == module) {
                table.modules.erase(it);
                break;
            }
    } else if (!module->library && module->loads > 0) {
        --module->loads;
    }
    return TRUE;
}

HMODULE GetModuleHandleA(LPCSTR name) {
    if (!name) return reinterpret_cast<HMODULE>(&executableModule);
    ModuleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    if (Module* module = Find(Canonical(name))) return reinterpret_cast<HMODULE>(module);
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

FARPROC GetProcAddress(HMODULE handle, LPCSTR procName) {
    if (!procName || IS_INTRESOURCE(procName)) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    ModuleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    Module* module = FindHandle(handle);
    if (!module) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* address = nullptr;
    if (module->library) {
        address = ::dlsym(module->library, procName);
    } else {
        auto it = module->exports.find(procName);
        if (it != module->exports.end()) address = it->second;
    }
    if (!address) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(address);
}

DWORD GetModuleFileNameA(HMODULE handle, LPSTR buffer, DWORD size) {
    if (!buffer || size == 0) return 0;
    std::string path;
    if (!handle || handle == reinterpret_cast<HMODULE>(&executableModule)) {
        char exe[PATH_MAX];
        ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n > 0) path.assign(exe, static_cast<size_t>(n));
    } else {
        ModuleTable& table = Table();
        std::lock_guard<std::mutex> lock(table.mutex);
        Module* module = FindHandle(handle);
        if (!module) {
            SetLastError(ERROR_INVALID_HANDLE);
            return 0;
        }
        path = module->name;
    }
    if (path.empty()) return 0;
    size_t n = path.size() < size - 1 ? path.size() : size - 1;
    std::memcpy(buffer, path.data(), n);
    buffer[n] = '\0';
    return static_cast<DWORD>(n);
}

// Modules. Built-in modules (such as "d3d9.dll") are tables of exports
// registered by the code that provides them; any other name "stem.dll" is a
// shared library, libstem.so or libvintrel-stem.so, looked for beside the
// executable first and then on the library path. Names ignore case.
#pragma once

#include <initializer_list>
#include <utility>

#include "platform/win32/types.h"

HMODULE LoadLibraryA(LPCSTR name);
BOOL FreeLibrary(HMODULE module);
// Null: the executable itself. Finds built-in modules and loaded libraries.
HMODULE GetModuleHandleA(LPCSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
// Path of the module's file (the executable for null); 0 on failure.
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);

// Registers (or replaces) a built-in module. Providers call it from a static
// initialiser in the same file as their exports, so that linking an export
// also registers its module.
using BuiltinExport = std::pair<const char*, void*>;
void RegisterBuiltinModule(const char* name, std::initializer_list<BuiltinExport> exports);

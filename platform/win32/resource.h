// Module resources: typed, named blocks of bytes compiled into the program
// as tables and looked up the way Windows looks them up. Names and types are
// integer ids (MAKEINTRESOURCE) or strings compared without case; a string
// "#123" means the id 123.
#pragma once

#include <cstddef>

#include "platform/win32/types.h"

#define RT_CURSOR MAKEINTRESOURCEA(1)
#define RT_BITMAP MAKEINTRESOURCEA(2)
#define RT_ICON MAKEINTRESOURCEA(3)
#define RT_MENU MAKEINTRESOURCEA(4)
#define RT_DIALOG MAKEINTRESOURCEA(5)
#define RT_STRING MAKEINTRESOURCEA(6)
#define RT_ACCELERATOR MAKEINTRESOURCEA(9)
#define RT_RCDATA MAKEINTRESOURCEA(10)
#define RT_GROUP_CURSOR MAKEINTRESOURCEA(12)
#define RT_GROUP_ICON MAKEINTRESOURCEA(14)

struct ResourceRecord {
    LPCSTR type;       // MAKEINTRESOURCE id or string
    LPCSTR name;       // MAKEINTRESOURCE id or string
    const void* data;  // must stay valid for the whole run
    DWORD size;
};

// Adds records to the executable's resources (GetModuleHandleA(nullptr) or a
// null module). Later records of the same type and name win. The records are
// copied; the bytes they point to are not.
void RegisterResources(const ResourceRecord* records, std::size_t count);
// Removes every registered resource (tests).
void ClearResourcesForTesting();

HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
DWORD SizeofResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL data);
BOOL FreeResource(HGLOBAL data);

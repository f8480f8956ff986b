// Files and read-only file mapping over POSIX open and mmap.
#pragma once

#include "platform/win32/types.h"

constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_FLAG_RANDOM_ACCESS = 0x10000000;
constexpr DWORD FILE_FLAG_SEQUENTIAL_SCAN = 0x08000000;
constexpr DWORD PAGE_READONLY = 0x02;
constexpr DWORD FILE_MAP_READ = 0x0004;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;

struct SECURITY_ATTRIBUTES;

// Returns INVALID_HANDLE_VALUE on failure, with the last error set.
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode, SECURITY_ATTRIBUTES* security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
// Low 32 bits of the size; the high half through `sizeHigh` when given.
DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, void* overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, void* overlapped);
// Only read-only mappings of the whole file. A zero-length file maps with
// a null view (MapViewOfFile returns null with ERROR_SUCCESS).
HANDLE CreateFileMappingA(HANDLE file, SECURITY_ATTRIBUTES* security, DWORD protect,
                          DWORD sizeHigh, DWORD sizeLow, LPCSTR name);
LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow,
                     SIZE_T bytes);
BOOL UnmapViewOfFile(LPCVOID view);
BOOL CloseHandle(HANDLE handle);

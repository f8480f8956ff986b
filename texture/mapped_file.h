// A read-only mapping of a whole file.
#pragma once

#include "platform/win32/types.h"

class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile() { Close(); }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Maps `path` (UTF-8). A zero-length file opens with a null base and
    // size 0. Returns false, with nothing held, when the file cannot be
    // opened or mapped.
    bool Open(const char* path);
    // Unmaps the view and closes both handles; safe to call twice.
    void Close();

    const BYTE* Data() const { return base_; }
    SIZE_T Size() const { return size_; }

private:
    HANDLE file_ = nullptr;
    HANDLE mapping_ = nullptr;
    const BYTE* base_ = nullptr;
    SIZE_T size_ = 0;
};

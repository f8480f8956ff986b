#include "texture/mapped_file.h"

#include "platform/win32/file.h"

bool MappedFile::Open(const char* path) {
    Close();
    if (!path) return false;
    file_ = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_RANDOM_ACCESS,
                        nullptr);
    if (file_ == INVALID_HANDLE_VALUE) {
        file_ = nullptr;
        return false;
    }
    mapping_ = CreateFileMappingA(file_, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!mapping_) {
        Close();
        return false;
    }
    DWORD high = 0;
    DWORD low = GetFileSize(file_, &high);
    size_ = (SIZE_T(high) << 32) | low;
    if (size_ == 0) return true;  // an empty file has no view: null base, size 0
    base_ = static_cast<const BYTE*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0));
    if (!base_) {
        Close();
        return false;
    }
    return true;
}

void MappedFile::Close() {
    if (base_) UnmapViewOfFile(base_);
    if (mapping_) CloseHandle(mapping_);
    if (file_) CloseHandle(file_);
    base_ = nullptr;
    mapping_ = nullptr;
    file_ = nullptr;
    size_ = 0;
}

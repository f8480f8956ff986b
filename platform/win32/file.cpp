#include "platform/win32/file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <set>

#include "platform/win32/error.h"

namespace {
struct KernelObject {
    enum class Kind { File, Mapping } kind;
    int fd = -1;
    ULONGLONG size = 0;  // mappings: the size of the file when mapped
};

std::mutex objectMutex;
std::set<KernelObject*> objects;
std::map<const void*, size_t> views;

KernelObject* Lookup(HANDLE handle, KernelObject::Kind kind) {
    auto* object = static_cast<KernelObject*>(handle);
    std::lock_guard<std::mutex> lock(objectMutex);
    if (!objects.count(object) || object->kind != kind) return nullptr;
    return object;
}

HANDLE Track(KernelObject* object) {
    std::lock_guard<std::mutex> lock(objectMutex);
    objects.insert(object);
    return object;
}

DWORD ErrorFromErrno(int e) {
    switch (e) {
        case ENOENT: return ERROR_FILE_NOT_FOUND;
        case ENOTDIR: return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM: return ERROR_ACCESS_DENIED;
        case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
        default: return ERROR_FILE_INVALID;
    }
}
}  // namespace

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD, SECURITY_ATTRIBUTES*, DWORD disposition,
                   DWORD, HANDLE) {
    if (!path || !*path) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    int flags = 0;
    bool reads = access & GENERIC_READ, writes = access & GENERIC_WRITE;
    flags = reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
    switch (disposition) {
        case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
        case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
        case OPEN_EXISTING: break;
        case OPEN_ALWAYS: flags |= O_CREAT; break;
        case TRUNCATE_EXISTING: flags |= O_TRUNC; break;
        default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
    }
    int fd = ::open(path, flags | O_CLOEXEC, 0644);
    if (fd < 0) {
        SetLastError(ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return Track(new KernelObject{KernelObject::Kind::File, fd, 0});
}

DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh) {
    KernelObject* object = Lookup(file, KernelObject::Kind::File);
    struct stat st;
    if (!object || ::fstat(object->fd, &st) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    ULONGLONG size = static_cast<ULONGLONG>(st.st_size);
    if (sizeHigh) *sizeHigh = static_cast<DWORD>(size >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, void*) {
    if (read) *read = 0;
    KernelObject* object = Lookup(file, KernelObject::Kind::File);
    if (!object || (!buffer && toRead)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    size_t done = 0;
    while (done < toRead) {
        ssize_t n = ::read(object->fd, static_cast<char*>(buffer) + done, toRead - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            SetLastError(ErrorFromErrno(errno));
            if (read) *read = static_cast<DWORD>(done);
            return FALSE;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    if (read) *read = static_cast<DWORD>(done);
    return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, void*) {
    if (written) *written = 0;
    KernelObject* object = Lookup(file, KernelObject::Kind::File);
    if (!object || (!buffer && toWrite)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    size_t done = 0;
    while (done < toWrite) {
        ssize_t n = ::write(object->fd, static_cast<const char*>(buffer) + done, toWrite - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            SetLastError(ErrorFromErrno(errno));
            if (written) *written = static_cast<DWORD>(done);
            return FALSE;
        }
        done += static_cast<size_t>(n);
    }
    if (written) *written = static_cast<DWORD>(done);
    return TRUE;
}

HANDLE CreateFileMappingA(HANDLE file, SECURITY_ATTRIBUTES*, DWORD protect, DWORD sizeHigh,
                          DWORD sizeLow, LPCSTR) {
    KernelObject* object = Lookup(file, KernelObject::Kind::File);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (protect != PAGE_READONLY || sizeHigh != 0 || sizeLow != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    struct stat st;
    int fd = ::fcntl(object->fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0) ::close(fd);
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return Track(new KernelObject{KernelObject::Kind::Mapping, fd,
                                  static_cast<ULONGLONG>(st.st_size)});
}

LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow,
                     SIZE_T bytes) {
    KernelObject* object = Lookup(mapping, KernelObject::Kind::Mapping);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (access != FILE_MAP_READ || offsetHigh != 0 || offsetLow != 0 ||
        (bytes != 0 && bytes != object->size)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (object->size == 0) {
        SetLastError(ERROR_SUCCESS);
        return nullptr;
    }
    if (object->size > SIZE_MAX) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    size_t length = static_cast<size_t>(object->size);
    void* view = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, object->fd, 0);
    if (view == MAP_FAILED) {
        SetLastError(ErrorFromErrno(errno));
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(objectMutex);
    views[view] = length;
    SetLastError(ERROR_SUCCESS);
    return view;
}

BOOL UnmapViewOfFile(LPCVOID view) {
    std::lock_guard<std::mutex> lock(objectMutex);
    auto it = views.find(view);
    if (it == views.end()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ::munmap(const_cast<void*>(view), it->second);
    views.erase(it);
    return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
    auto* object = static_cast<KernelObject*>(handle);
    {
        std::lock_guard<std::mutex> lock(objectMutex);
        if (!objects.erase(object)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
    }
    ::close(object->fd);
    delete object;
    return TRUE;
}

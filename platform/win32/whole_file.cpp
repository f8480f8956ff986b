#include "platform/win32/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {
// Zero when a write failed earlier and errno has moved on since.
std::string Reason(int error) { return error ? std::strerror(error) : "write error"; }
}  // namespace

OutputFile::OutputFile(const std::string& path) : target_(path) {
    // Replace what a link points to, not the link.
    if (char* real = realpath(path.c_str(), nullptr)) {
        target_ = real;
        std::free(real);
    }
    struct stat existing;
    const bool exists = stat(target_.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        error_ = Reason(EISDIR);
        return;
    }
    if (exists && !S_ISREG(existing.st_mode)) {
        file_ = std::fopen(target_.c_str(), "wb");
        if (!file_) error_ = Reason(errno);
        return;
    }
    // Unique per process and call, so writers of one target never share a
    // temporary.
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp_ = target_ + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(serial++);
        const int fd = open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) break;
        if (exists) fchmod(fd, existing.st_mode & 07777);
        file_ = fdopen(fd, "wb");
        if (file_) return;
        close(fd);
        unlink(temp_.c_str());
        break;
    }
    error_ = Reason(errno);
    temp_.clear();
}

OutputFile::~OutputFile() {
    if (file_) std::fclose(file_);
    if (!temp_.empty()) unlink(temp_.c_str());
}

bool OutputFile::Commit() {
    if (!file_) return false;
    errno = 0;
    bool ok = std::fflush(file_) == 0 && !std::ferror(file_);
    int error = ok ? 0 : errno;
    if (std::fclose(file_) != 0 && ok) ok = false, error = errno;
    file_ = nullptr;
    if (ok && !temp_.empty() && std::rename(temp_.c_str(), target_.c_str()) != 0) ok = false, error = errno;
    if (!ok) {
        error_ = Reason(error);
        if (!temp_.empty()) unlink(temp_.c_str());
    }
    temp_.clear();
    return ok;
}

bool WriteWholeFile(const std::string& path, const void* data, std::size_t size, std::string* error) {
    OutputFile file(path);
    int writeError = 0;
    if (file.Stream() && size > 0 && std::fwrite(data, 1, size, file.Stream()) != size) writeError = errno;
    if (file.Commit()) return true;
    if (error) *error = writeError ? Reason(writeError) : file.Error();
    return false;
}

bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error, std::size_t maxBytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        if (error) *error = Reason(errno);
        return false;
    }
    bytes->clear();
    char chunk[65536];
    std::size_t n;
    while (bytes->size() <= maxBytes && (n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes->append(chunk, n);
    const bool failed = std::ferror(file);
    if (failed && error) *error = std::strerror(errno ? errno : EIO);
    std::fclose(file);
    if (!failed && bytes->size() > maxBytes) {
        if (error) *error = "larger than " + std::to_string(maxBytes) + " bytes";
        bytes->clear();
        return false;
    }
    return !failed;
}

bool FlushStdout(const char* tool) {
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
    const int error = errno;
    std::fprintf(stderr, "%s: cannot write the output: %s\n", tool, error ? std::strerror(error) : "write error");
    return false;
}

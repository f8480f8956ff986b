// Whole files as the tools read and write them, with every failure
// reported. A file is written to a temporary beside its target, which
// replaces the target only once every write and the close have succeeded:
// a full disk or a size limit never leaves a truncated file behind (a build
// would take it as up to date), nor spoils the file that was there.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

class OutputFile {
public:
    // Opens the temporary; Stream() is null, with Error() saying why, when
    // that fails or `path` is a folder. A target that is neither a regular
    // file nor a folder (a device such as /dev/stdout, a pipe) is written in
    // place, since there is nothing to replace. A link is followed.
    explicit OutputFile(const std::string& path);
    // Removes the temporary unless Commit succeeded.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::FILE* Stream() const { return file_; }
    // Flushes and closes the file and puts it in the target's place. False
    // on any failure, then the temporary is gone and the target as it was.
    bool Commit();
    // Why the last step failed (strerror text).
    const std::string& Error() const { return error_; }

private:
    std::string target_, temp_, error_;
    std::FILE* file_ = nullptr;
};

// Writes `size` bytes through an OutputFile; `error` gets the reason.
bool WriteWholeFile(const std::string& path, const void* data, std::size_t size, std::string* error);

// Reads a whole file; a folder, a failed read or a file of more than
// `maxBytes` (a device or a pipe may never end) is an error (`error` gets
// the reason), never an empty or a cut file.
bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error, std::size_t maxBytes);

// For tools whose product is what they print: flushes stdout and, when any
// of it was lost (a full disk), says so on stderr as "tool: ..." and
// returns false.
bool FlushStdout(const char* tool);

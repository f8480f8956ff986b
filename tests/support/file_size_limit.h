// A file-size limit for tests of writers that must fail cleanly part way
// through a file. Set it in a child (a death test), never in the test
// process itself.
#pragma once

#include <sys/resource.h>

#include <csignal>

// Writes past `bytes` fail from here on (with EFBIG, not the signal).
inline void LimitFileSize(rlim_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit;
    limit.rlim_cur = limit.rlim_max = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
}

#pragma once
// Shared by the fuzz targets: temporary files and the report of a fault. The
// exact comparison, rendering and plain reference versions come from the unit
// tests' support folder.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "exact.hpp"
#include "reference_text.hpp"
#include "render.hpp"

namespace fuzz {

// A file of this process, removed at exit; memory-backed where the system has
// it, as targets write files for every input.
struct TempFile {
    explicit TempFile(const char* tag)
        : path(std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/velmar-fuzz-" +
               tag + "-" + std::to_string(getpid())) {}
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() { unlink(path.c_str()); }
    const std::string path;
};

[[noreturn]] inline void fail(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "FUZZ FAULT: %s %s\n", what, detail.c_str());
    std::abort();
}

}  // namespace fuzz

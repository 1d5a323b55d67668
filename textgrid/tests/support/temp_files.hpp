#pragma once
// The library tests' one way to put files on disk. CTest runs tests as parallel
// processes, so each process has a directory of its own, removed when it exits.

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

namespace support {

class ProcessDirectory {
public:
    ProcessDirectory()
        : owner_(getpid()),
          path_(::testing::TempDir() + "velmar_tests_" + std::to_string(owner_) + "/") {
        std::filesystem::create_directories(path_);
    }
    // A forked child leaves the directory to its parent.
    ~ProcessDirectory() {
        std::error_code ignored;
        if (getpid() == owner_) std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }

private:
    pid_t owner_;
    std::string path_;
};

// A path in this process's temporary directory; nothing is created.
inline std::string temp_path(const std::string& name) {
    static const ProcessDirectory directory;
    return directory.path() + name;
}

inline void write_file(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A file holding `bytes`; its path.
inline std::string temp_file(const std::string& name, const std::string& bytes) {
    const std::string path = temp_path(name);
    write_file(path, bytes);
    return path;
}

// An empty directory of this process; its path.
inline std::string temp_dir(const std::string& name) {
    const std::string path = temp_path(name);
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    return path;
}

inline std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace support

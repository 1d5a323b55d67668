#pragma once
// The library tests' one way to put files on disk. CTest runs tests as parallel
// processes, so every path carries the process id.

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

namespace support {

// A path of this process in the test's temporary directory; nothing is created.
inline std::string temp_path(const std::string& name) {
    return ::testing::TempDir() + std::to_string(getpid()) + "_" + name;
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

#include "error.hpp"

#include <cstdio>
#include <cstring>
#include <sstream>
#include <thread>

namespace textgrid {

TextGridError TextGridError::invalid_data(std::string message) {
    return TextGridError(ErrorKind::InvalidData, std::move(message), 0);
}

TextGridError TextGridError::invalid_input(std::string message) {
    return TextGridError(ErrorKind::InvalidInput, std::move(message), 0);
}

TextGridError TextGridError::os(int code, std::string context) {
    return TextGridError(ErrorKind::Os, std::move(context), code);
}

namespace {

// strerror is not thread-safe and workers read files concurrently.
std::string system_message(int code) {
    char buffer[256];
    // GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return text;
}

}  // namespace

std::string TextGridError::to_string() const {
    if (kind_ != ErrorKind::Os) return message_;
    return message_ + system_message(os_code_) + " (os error " + std::to_string(os_code_) + ")";
}

InternalFailure::InternalFailure(std::string message, std::source_location where)
    : message_(std::move(message)) {
    std::ostringstream thread;
    thread << std::this_thread::get_id();
    std::fprintf(stderr, "internal failure in thread %s at %s:%u: %s\n", thread.str().c_str(),
                 where.file_name(), static_cast<unsigned>(where.line()), message_.c_str());
}

}  // namespace textgrid

#include "model/error.hpp"

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

#ifndef VELMAR_SOURCE_ROOT
#define VELMAR_SOURCE_ROOT ""
#endif

// Below the repository, not in the build machine's folders: the compiler names
// a source absolute, or relative to the build folder when ccache rewrites it.
std::string_view repository_path(std::string_view file) {
    constexpr std::string_view root = VELMAR_SOURCE_ROOT;
    if (!root.empty() && file.starts_with(root)) return file.substr(root.size());
    while (file.starts_with("../")) file.remove_prefix(3);
    return file;
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
    const std::string file(repository_path(where.file_name()));
    std::fprintf(stderr, "internal failure in thread %s at %s:%u: %s\n", thread.str().c_str(),
                 file.c_str(), static_cast<unsigned>(where.line()), message_.c_str());
}

namespace errors {

namespace {

std::string text(std::string_view view) { return std::string(view); }
std::string number(std::size_t value) { return std::to_string(value); }

}  // namespace

TextGridError negative_time_bounds(std::string_view where) {
    return TextGridError::invalid_data("Time bounds should be non-negative in " + text(where));
}

TextGridError tmin_not_below_tmax(std::string_view where) {
    return TextGridError::invalid_data("tmin should be less than tmax in " + text(where));
}

TextGridError point_not_instant(std::size_t item, std::string_view tier) {
    return TextGridError::invalid_data("Item " + number(item) +
                                       " should have tmin == tmax in PointTier " + text(tier));
}

TextGridError items_overlap(std::size_t item, std::string_view tier) {
    return TextGridError::invalid_data("Items " + number(item) + " and " + number(item + 1) +
                                       " overlap in tier " + text(tier));
}

TextGridError tier_size_mismatch() {
    return TextGridError::invalid_data("Tier size does not match number of items");
}

TextGridError textgrid_size_mismatch() {
    return TextGridError::invalid_data("TextGrid size does not match number of tiers");
}

TextGridError item_before_tier(std::size_t line) {
    return TextGridError::invalid_data("Item before any tier at line " + number(line));
}

TextGridError unexpected_end_of_file(std::size_t line) {
    return TextGridError::invalid_data("Unexpected end of file at line " + number(line));
}

TextGridError unknown_tier_class(std::string_view tier_class) {
    return TextGridError::invalid_data("Unknown tier class: " + text(tier_class));
}

TextGridError invalid_utf8() {
    return TextGridError::invalid_data("stream did not contain valid UTF-8");
}

TextGridError invalid_utf16() {
    return TextGridError::invalid_data("stream did not contain valid UTF-16");
}

TextGridError nul_in_file_name() {
    return TextGridError::invalid_input("file name contained an unexpected NUL byte");
}

TextGridError read_failed(int code) { return TextGridError::os(code); }

TextGridError nul_in_output_file_name(std::string_view path) {
    return TextGridError::invalid_input("cannot write " + text(path) +
                                        ": file name contained an unexpected NUL byte");
}

TextGridError write_failed(std::string_view path, int code) {
    return TextGridError::os(code, "cannot write " + text(path) + ": ");
}

TextGridError nan_start_time() {
    return TextGridError::invalid_input("tmins must not contain NaN");
}

TextGridError vectors_differ_in_length() {
    return TextGridError::invalid_input("Input vectors must have the same length");
}

InternalFailure unknown_file_type(std::string_view file_type, std::source_location where) {
    return InternalFailure("Unknown file type: " + text(file_type), where);
}

InternalFailure pool_not_started(std::string_view reason, std::source_location where) {
    return InternalFailure("cannot start the worker pool: " + text(reason), where);
}

InternalFailure fork_handlers_not_set(std::string_view reason, std::source_location where) {
    return InternalFailure("cannot prepare the worker pool for fork: " + text(reason), where);
}

}  // namespace errors

}  // namespace textgrid

#pragma once
// The library's two ways to fail: TextGridError is an ordinary, returned value;
// InternalFailure is a C++ exception for broken preconditions, caught only at the
// module boundary.

#include <cstddef>
#include <exception>
#include <source_location>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace textgrid {

enum class ErrorKind { InvalidData, InvalidInput, Os };

class TextGridError {
public:
    static TextGridError invalid_data(std::string message);
    static TextGridError invalid_input(std::string message);
    // An operating-system error code (errno); `context` is put in front of the
    // system's text, e.g. "cannot write out/a.TextGrid: ".
    static TextGridError os(int code, std::string context = {});

    ErrorKind kind() const noexcept { return kind_; }
    int os_code() const noexcept { return os_code_; }
    // The text the module layer appends to its prefix; OS errors print as
    // "<system message> (os error N)".
    std::string to_string() const;

    friend bool operator==(const TextGridError&, const TextGridError&) = default;

private:
    TextGridError(ErrorKind kind, std::string message, int os_code)
        : kind_(kind), message_(std::move(message)), os_code_(os_code) {}
    ErrorKind kind_;
    std::string message_;  // for Os: the context prefix
    int os_code_;
};

// A value or a TextGridError. (std::expected is C++23.) A dropped Result is a
// dropped error, so the compiler flags it.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(TextGridError error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }
    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const TextGridError& error() const& { return std::get<1>(state_); }
    TextGridError&& error() && { return std::get<1>(std::move(state_)); }

private:
    std::variant<T, TextGridError> state_;
};

struct Ok {};
using Status = Result<Ok>;

// Raising one writes a short report (thread, source position, message) to
// standard error at once, so the origin is known even if the message is all
// that reaches Python.
class InternalFailure : public std::exception {
public:
    explicit InternalFailure(std::string message,
                             std::source_location where = std::source_location::current());
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

// Every message the library gives its users, in one place. Each is composed
// from fixed pieces and values without quoting; item indices count from 0.
namespace errors {

// Validation.
TextGridError negative_time_bounds(std::string_view where);  // where: "tier x", "TextGrid"
TextGridError tmin_not_below_tmax(std::string_view where);
TextGridError point_not_instant(std::size_t item, std::string_view tier);
TextGridError items_overlap(std::size_t item, std::string_view tier);
TextGridError tier_size_mismatch();
TextGridError textgrid_size_mismatch();

// Reading.
TextGridError item_before_tier(std::size_t line);
TextGridError unexpected_end_of_file(std::size_t line);
TextGridError unknown_tier_class(std::string_view tier_class);
TextGridError invalid_utf8();
TextGridError invalid_utf16();
TextGridError nul_in_file_name();
TextGridError read_failed(int code);  // errno

// Writing.
TextGridError nul_in_output_file_name(std::string_view path);
TextGridError write_failed(std::string_view path, int code);  // errno

// Conversion.
TextGridError nan_start_time();
TextGridError vectors_differ_in_length();

// Broken preconditions; each reports where it was raised, not where it was made.
InternalFailure unknown_file_type(std::string_view file_type,
                                  std::source_location where = std::source_location::current());
InternalFailure pool_not_started(std::string_view reason,
                                 std::source_location where = std::source_location::current());
InternalFailure fork_handlers_not_set(std::string_view reason,
                                      std::source_location where = std::source_location::current());

}  // namespace errors

}  // namespace textgrid

#pragma once
// The library's two ways to fail: TextGridError is an ordinary, returned value;
// InternalFailure is a C++ exception for broken preconditions, caught only at the
// module boundary.

#include <exception>
#include <source_location>
#include <string>
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

// A value or a TextGridError. (std::expected is C++23.)
template <class T>
class Result {
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

}  // namespace textgrid

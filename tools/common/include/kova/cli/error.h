#pragma once

// How the commands pass a failure up: as a value that carries the one line
// the user will read, to the one place that prints it.

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace kova::cli {

// Why something failed, in one line, as typed: the printer escapes it.
struct Error {
    // What failed, for a caller that decides by it (the live layer tries a
    // host's failure again another way; a refusal holds whatever it does).
    enum class Kind {
        other,
        refused,  // a device or rate asked for that is not there or cannot be
        host,     // the host API itself failed
    };
    std::string message;
    Kind kind = Kind::other;
};

// "what: <the system's text for err>".
Error system_error(const std::string& what, int err);

// A value, or the Error that kept it from being made.
template <typename T>
class Result {
public:
    Result(const T& value) : state_(value) {}
    Result(T&& value) : state_(std::move(value)) {}
    Result(Error error) : state_(std::move(error)) {}

    explicit operator bool() const { return state_.index() == 0; }
    T& operator*() { return std::get<0>(state_); }
    const T& operator*() const { return std::get<0>(state_); }
    T* operator->() { return &std::get<0>(state_); }
    const T* operator->() const { return &std::get<0>(state_); }
    const Error& error() const { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

// Success, or the Error: for what is done rather than made.
template <>
class Result<void> {
public:
    Result() = default;
    Result(Error error) : error_(std::move(error)) {}

    explicit operator bool() const { return !error_; }
    const Error& error() const { return *error_; }

private:
    std::optional<Error> error_;
};

}  // namespace kova::cli

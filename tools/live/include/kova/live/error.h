#pragma once

// What the live layer hands back instead of throwing or printing: a value,
// or the one line that says why not. Each command turns the kind into its
// exit status and prints the line, in one place.

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace kova::live {

struct Error {
    enum class Kind {
        no_device,       // no device by that name or index
        no_channels,     // the device has no channels in the direction asked
        rate_not_exact,  // the device would not run at exactly the rate asked
        host,            // PortAudio or the host API failed
        file,            // a file could not be created or written
    };
    Kind kind;
    std::string message;
};

// Success, or the error.
using Status = std::optional<Error>;

template <class T>
class Expected {
public:
    Expected(T value) : state_(std::move(value)) {}
    Expected(Error error) : state_(std::move(error)) {}

    explicit operator bool() const { return state_.index() == 0; }
    T& operator*() { return std::get<0>(state_); }
    const T& operator*() const { return std::get<0>(state_); }
    T* operator->() { return &std::get<0>(state_); }
    const Error& error() const { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

}  // namespace kova::live

#pragma once

// COM for the life of one object, on the thread that makes it: every other
// call of the WASAPI layer needs one alive on its thread.

#include <string>

namespace kova::live::wasapi {

class Session {
public:
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Empty when COM started; else why not.
    const std::string& error() const { return error_; }
    // Skips the shutdown, for after Stream::abandon().
    void abandon() { abandoned_ = true; }

private:
    std::string error_;
    bool initialized_ = false;
    bool abandoned_ = false;
};

}  // namespace kova::live::wasapi

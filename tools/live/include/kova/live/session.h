#pragma once

// PortAudio for the life of one object: every other call of this library
// needs one alive.

#include <string>

namespace kova::live {

class Session {
public:
    // client_name is what a JACK server shows for this program's ports
    // ("kova-play:out_1"), so that they can be found and connected.
    explicit Session(const char* client_name);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Empty when PortAudio started; else why not.
    const std::string& error() const { return error_; }
    // Skips the shutdown, for after Stream::abandon(): it would wait on the
    // same host.
    void abandon() { abandoned_ = true; }

private:
    std::string client_name_;  // PortAudio keeps the pointer, not a copy
    std::string error_;
    bool abandoned_ = false;
};

}  // namespace kova::live

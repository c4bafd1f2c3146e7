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

    // Empty when PortAudio started; else why not. PortAudio is not shut
    // down once a stream has been let go of (host_let_go()): that would wait
    // on the same host.
    const std::string& error() const { return error_; }

private:
    std::string client_name_;  // PortAudio keeps the pointer, not a copy
    std::string error_;
};

// A stream was let go of without the host's leave (Stream::abandon(), or a
// stop the host did not finish in time): nothing more may be asked of
// PortAudio, and a thread of the host's may still be waiting inside it.
bool host_let_go();
void note_host_let_go();

// The exit status, returned as it is; once the host has been let go of, the
// process ends here with it instead, standard output and error flushed
// first, so that exit()'s teardown never meets a host thread left waiting.
int leave_with(int status);

}  // namespace kova::live

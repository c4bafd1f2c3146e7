#pragma once

// An interrupted run must not leave its temporary file behind.

#include <csignal>

namespace kova::cli {

// Catches every signal that would end the process and can be caught, and
// removes the registered file before dying of it. A signal that was ignored
// when kova-gen started stays ignored (nohup). SIGXFSZ is ignored instead,
// so a file-size limit turns into a write error (EFBIG) like any other.
void install_signal_cleanup();

// The file the handlers remove: name in the open folder; nullptr for none.
// Copies name; folder must stay open until this is called with nullptr.
// Call only while a Signals_Held is alive.
void remove_on_signal(int folder, const char* name);

// Holds back every catchable signal while alive: creating or renaming the
// temporary file and telling the handlers about it is then one step.
class Signals_Held {
public:
    Signals_Held();
    ~Signals_Held();
    Signals_Held(const Signals_Held&) = delete;
    Signals_Held& operator=(const Signals_Held&) = delete;

private:
    sigset_t saved_;
};

}  // namespace kova::cli

#pragma once

// A stage in the chain, made by the test as a JACK client of its own: two
// inputs and two outputs, each output an input times an exact factor, the
// two swapped if asked. The live programs reach it as a device by its name,
// kova-play playing into it and kova-check or kova-loop capturing from it.
// It counts the frames that carried anything, so that a test knows to the
// sample how much of the pattern went through.

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <string>

class Stage {
public:
    Stage(const std::string& name, float gain, bool swap);
    ~Stage();
    Stage(const Stage&) = delete;
    Stage& operator=(const Stage&) = delete;

    const std::string& error() const { return error_; }
    const std::string& name() const { return name_; }
    // Frames with a sample other than zero on either input, so far.
    std::uint64_t frames_carried() const { return carried_.load(std::memory_order_relaxed); }
    // Frames the server has run the stage for: its clock, whoever stalls.
    std::uint64_t frames_run() const { return run_.load(std::memory_order_relaxed); }
    // Something listens to the stage's outputs.
    bool listened_to() const;
    // Connects this stage's outputs to another's inputs, as a chain of two.
    bool feed(const Stage& next) const;

private:
    static int on_process(jack_nframes_t frames, void* self);

    std::string name_;
    float gain_;
    bool swap_;
    jack_client_t* client_ = nullptr;
    jack_port_t* in_[2] = {};
    jack_port_t* out_[2] = {};
    std::atomic<std::uint64_t> carried_{0};
    std::atomic<std::uint64_t> run_{0};
    std::string error_;
};

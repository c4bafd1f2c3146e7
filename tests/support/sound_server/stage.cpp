#include "stage.h"

Stage::Stage(const std::string& name, float gain, bool swap) : name_(name), gain_(gain), swap_(swap)
{
    jack_status_t status{};
    client_ = jack_client_open(name.c_str(),
                               static_cast<jack_options_t>(JackNoStartServer | JackUseExactName), &status);
    if (!client_) {
        error_ = "cannot open the JACK client " + name;
        return;
    }
    for (int c = 0; c < 2; ++c) {
        in_[c] = jack_port_register(client_, ("in_" + std::to_string(c + 1)).c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                    JackPortIsInput, 0);
        out_[c] = jack_port_register(client_, ("out_" + std::to_string(c + 1)).c_str(),
                                     JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    }
    if (jack_set_process_callback(client_, on_process, this) != 0 || jack_activate(client_) != 0)
        error_ = "cannot start the JACK client " + name;
}

Stage::~Stage()
{
    if (client_) {
        jack_deactivate(client_);
        jack_client_close(client_);
    }
}

int Stage::on_process(jack_nframes_t frames, void* self)
{
    auto& s = *static_cast<Stage*>(self);
    const float* in[2];
    float* out[2];
    for (int c = 0; c < 2; ++c) {
        in[c] = static_cast<const float*>(jack_port_get_buffer(s.in_[c], frames));
        out[c] = static_cast<float*>(jack_port_get_buffer(s.out_[c], frames));
    }
    std::uint64_t carried = 0;
    for (jack_nframes_t f = 0; f < frames; ++f) {
        if (in[0][f] != 0.0f || in[1][f] != 0.0f)
            ++carried;
        const float a = in[0][f], b = in[1][f];
        out[0][f] = (s.swap_ ? b : a) * s.gain_;
        out[1][f] = (s.swap_ ? a : b) * s.gain_;
    }
    s.carried_.fetch_add(carried, std::memory_order_relaxed);
    s.run_.fetch_add(frames, std::memory_order_relaxed);
    return 0;
}

bool Stage::listened_to() const
{
    return client_ && jack_port_connected(out_[0]) > 0;
}

bool Stage::feed(const Stage& next) const
{
    for (int c = 0; c < 2; ++c)
        if (jack_connect(client_, jack_port_name(out_[c]), jack_port_name(next.in_[c])) != 0)
            return false;
    return true;
}

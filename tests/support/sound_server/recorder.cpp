#include "recorder.h"

#include <utility>

namespace {

class Play_And_Capture : public kova::live::Processor {
public:
    Play_And_Capture(Processor& player, Processor& capture) : player_(player), capture_(capture) {}
    bool process(const kova::live::Block& block) noexcept override
    {
        player_.process(block);  // silence once it is done
        return capture_.process(block);
    }

private:
    Processor& player_;
    Processor& capture_;
};

}  // namespace

Recorder::Recorder(kova::live::Host& host, const std::string& device, long rate,
                   kova::live::Processor* player)
{
    kova::live::Stream_Request request;
    request.input = kova::live::Endpoint{device, 0};
    if (player)
        request.output = kova::live::Endpoint{device, 0};
    request.rate = rate;
    auto opened = host.open(request);
    if (!opened) {
        error_ = opened.error().message;
        return;
    }
    stream_ = std::move(*opened);
    // Four seconds of room between drains: far more than a test waits.
    capture_ =
        std::make_unique<kova::live::Capture>(stream_->input_channels(), static_cast<std::size_t>(rate) * 4);
    kova::live::Processor* run = capture_.get();
    if (player)
        run = (both_ = std::make_unique<Play_And_Capture>(*player, *capture_)).get();
    if (auto started = stream_->start(*run); !started)
        error_ = started.error().message;
}

void Recorder::drain()
{
    if (!capture_)
        return;
    const auto c = static_cast<std::size_t>(channels());
    float block[4096];
    std::size_t got;
    while ((got = capture_->read(block, sizeof block / sizeof block[0] / c)) > 0)
        samples_.insert(samples_.end(), block, block + got * c);
}

std::optional<std::size_t> Recorder::silence_since_signal() const
{
    const auto c = static_cast<std::size_t>(channels());
    for (std::size_t i = samples_.size(); i-- > 0;)
        if (samples_[i] != 0.0f)
            return samples_.size() / c - 1 - i / c;
    return std::nullopt;
}

std::string Recorder::loss() const
{
    const auto lost = capture_ ? capture_->loss() : std::nullopt;
    if (!lost)
        return "";
    return std::string(lost->cause == kova::live::Capture_Loss::Cause::host_gap
                           ? "the host reported input it had dropped on this machine"
                           : "the recorder fell behind on this machine") +
           " after " + std::to_string(lost->at) + " frames; nothing after was kept";
}

#include "check_feed.h"

#include "kova/analysis/channel_analyser.h"

namespace kova::cli {

Channel_Feed::Channel_Feed(long rate, int channels, bool floats, int bits)
    : analysers_(static_cast<std::size_t>(channels), analysis::Channel_Analyser(rate, {floats, bits}))
{
}

Channel_Feed::~Channel_Feed() = default;

void Channel_Feed::ints(const std::int32_t* values, std::size_t frames)
{
    for (std::size_t ch = 0; ch < analysers_.size(); ++ch)
        analysers_[ch].feed_int(values + ch, frames, analysers_.size());
}

void Channel_Feed::floats(const float* values, std::size_t frames)
{
    for (std::size_t ch = 0; ch < analysers_.size(); ++ch)
        analysers_[ch].feed_float(values + ch, frames, analysers_.size());
}

void Channel_Feed::floats(const double* values, std::size_t frames)
{
    for (std::size_t ch = 0; ch < analysers_.size(); ++ch)
        analysers_[ch].feed_float(values + ch, frames, analysers_.size());
}

void Channel_Feed::pcm24le(const unsigned char* bytes, std::size_t frames)
{
    analysers_.front().feed_pcm24le(bytes, frames);
}

std::vector<analysis::Channel_Report> Channel_Feed::finish() const
{
    std::vector<analysis::Channel_Report> reports;
    for (const auto& a : analysers_)
        reports.push_back(a.finish());
    return reports;
}

}  // namespace kova::cli

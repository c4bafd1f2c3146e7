#include "full_analyser.h"

#include <algorithm>
#include <cstring>

namespace kova::analysis::detail {

Full_Analyser::Full_Analyser(long rate, int channels, const Sample_Format& format, Event_Sink* sink)
    : format_(format), frames_(channels, format)
{
    channels_.reserve(static_cast<std::size_t>(channels));
    for (int ch = 0; ch < channels; ++ch) channels_.emplace_back(ch, rate, format, sink, words_);
}

std::size_t Full_Analyser::feed(const unsigned char* data, std::size_t count)
{
    const std::uint64_t first = frames_.end();
    bool looked_back = false;
    for (const auto& c : channels_) looked_back = looked_back || c.looks_back();
    if (open_end_ && data == open_end_) {
        frames_.extend(count);
    } else {
        end_feed();
        frames_.begin(data, count);
    }
    open_end_ = data + count * frames_.frame_bytes();
    const std::size_t done = looked_back ? 0 : compare_frames(data, count);
    for (auto& c : channels_) c.run(frames_);
    // The block's frames kept, when the caller takes them back, for whoever
    // may look back at them, from where the first of them might.
    bool looks_back = looked_back;
    for (const auto& c : channels_) looks_back = looks_back || c.looks_back();
    if (looks_back) {
        const std::uint64_t from = first + (looked_back ? 0 : done);
        keep_from_ = keep_from_ ? std::min(*keep_from_, from) : from;
    }

    if (claimed_)
        return 0;
    std::optional<std::uint64_t> at;
    for (const auto& c : channels_)
        if (c.decided_at() && (!at || *c.decided_at() < *at))
            at = c.decided_at();
    if (!at)
        return count;
    claimed_ = true;
    return static_cast<std::size_t>(std::min<std::uint64_t>(count, *at > first ? *at - first : 0));
}

void Full_Analyser::end_feed()
{
    if (!open_end_)
        return;
    for (const auto& c : channels_)
        if (const auto from = c.waits_from(frames_))
            keep_from_ = keep_from_ ? std::min(*keep_from_, *from) : *from;
    if (keep_from_)
        frames_.keep(*keep_from_);
    frames_.end_block();
    open_end_ = nullptr;
    keep_from_.reset();
}

void Full_Analyser::skip(std::size_t count, const std::vector<const Raw_Table*>& tables,
                         const std::vector<int>& phases)
{
    end_feed();
    frames_.begin_tables(count, tables, phases);
    for (auto& c : channels_) c.run(frames_);
    for (const auto& c : channels_) claimed_ = claimed_ || c.decided_at();
}

std::size_t Full_Analyser::compare_frames(const unsigned char* data, std::size_t count)
{
    // Every channel following its rule, all at one offset and place.
    const std::uint64_t first = frames_.end() - count;
    std::int64_t delta = 0;
    std::vector<std::uint64_t> models;
    for (std::size_t k = 0; k < channels_.size(); ++k) {
        std::int64_t d = 0;
        if (!channels_[k].follows_rule(d) || channels_[k].position() != first ||
            (k > 0 && (d != delta || channels_[k].repeat() != channels_[0].repeat() ||
                       channels_[k].message().value != channels_[0].message().value)))
            return 0;
        delta = d;
        models.push_back(channels_[k].model_id());
    }
    const std::size_t frame = frames_.frame_bytes();
    const auto bytes = static_cast<std::size_t>(format_.bytes);
    const auto length = static_cast<std::size_t>(full::kTableLength);
    if (models != layout_models_) {
        layout_models_ = models;
        layout_.assign(length * frame, 0);
        layout_known_.assign((length + 63) / 64, 0);
    }

    const auto& message = channels_[0].message();
    std::uint64_t t = first;
    const std::uint64_t end = frames_.end();
    while (t < end) {
        const auto pos = static_cast<std::uint64_t>(static_cast<std::int64_t>(t) - delta);
        const std::uint64_t f = pos / full::kSegment;
        if (f >= full::kMaxSegments)
            break;
        const auto j = static_cast<std::size_t>(pos % full::kSegment);
        const std::size_t n = std::min<std::uint64_t>(full::kSegment - j, end - t);
        const std::uint32_t index = full_index(pos, message.symbol(f));
        if (!all_set(layout_known_, index, n)) {
            // Laid out afresh where every channel knows the run by now.
            for (const auto& c : channels_)
                if (!c.knows(index, n))
                    return static_cast<std::size_t>(t - first);
            for (std::size_t i = index; i < index + n; ++i) {
                for (std::size_t k = 0; k < channels_.size(); ++k)
                    if (!channels_[k].sample_bytes(static_cast<std::uint32_t>(i),
                                                   layout_.data() + i * frame + k * bytes))
                        return static_cast<std::size_t>(t - first);
                layout_known_[i / 64] |= std::uint64_t{1} << (i % 64);
            }
        }
        const unsigned char* expected = layout_.data() + static_cast<std::size_t>(index) * frame;
        const unsigned char* got = data + static_cast<std::size_t>(t - first) * frame;
        std::size_t same = n;
        if (std::memcmp(got, expected, n * frame) != 0) {
            same = 0;
            while (same < n && std::memcmp(got + same * frame, expected + same * frame, frame) == 0) ++same;
        }
        for (auto& c : channels_) c.take_known(index, same);
        t += same;
        if (same < n)
            break;
    }
    return static_cast<std::size_t>(t - first);
}

std::vector<Channel_Report> Full_Analyser::finish()
{
    end_feed();
    for (auto& c : channels_) c.run(frames_, true);
    return so_far();
}

std::vector<Channel_Report> Full_Analyser::so_far() const
{
    std::vector<Channel_Report> reports;
    for (const auto& c : channels_) reports.push_back(c.report());
    return reports;
}

}  // namespace kova::analysis::detail

#pragma once

// The full signal's analysis of a whole capture: a tracker per channel over
// one store of frames, and whole frames compared as they lie while every
// channel follows its exact words at one offset. Once any channel has the
// signal, the capture is the full signal's: the pattern's analysis is no
// longer fed.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "full_channel.h"
#include "full_code.h"
#include "full_frames.h"

namespace kova::analysis::detail {

class Full_Analyser {
public:
    Full_Analyser(long rate, int channels, const Sample_Format& format, Event_Sink* sink);

    // Judges `count` frames; returns how many of them came before the
    // capture was found to hold the signal (all of them while it is not).
    std::size_t feed(const unsigned char* data, std::size_t count);
    // The caller's frames are its own again: what may be looked back at is
    // kept. Blocks fed in one go of the caller's, one after another in its
    // memory, are one block here, kept once at its end.
    void end_feed();
    // Frames the pattern's analysis took whole as each channel's table (its
    // words, silence): never the full signal, held as those tables.
    void skip(std::size_t count, const std::vector<const Raw_Table*>& tables, const std::vector<int>& phases);
    bool claimed() const { return claimed_; }
    // Which channels the pattern's analysis holds the table of: their
    // windows are looked at for its cycle first.
    void set_pattern_held(std::size_t channel, bool held) { channels_[channel].set_pattern_held(held); }

    std::vector<Channel_Report> finish();
    std::vector<Channel_Report> so_far() const;

private:
    std::size_t compare_frames(const unsigned char* data, std::size_t count);

    Sample_Format format_;
    Full_Words words_;
    Full_Frames frames_;
    std::vector<Full_Channel> channels_;
    bool claimed_ = false;
    const unsigned char* open_end_ = nullptr;  // where the open block ends in the caller's memory
    std::optional<std::uint64_t> keep_from_;   // the first frame of it that may be looked back at

    // The frames every channel expects, laid out as they lie, for the rules
    // they follow (model_id), filled in as every channel comes to know an
    // index.
    std::vector<unsigned char> layout_;
    std::vector<std::uint64_t> layout_known_;
    std::vector<std::uint64_t> layout_models_;
};

}  // namespace kova::analysis::detail

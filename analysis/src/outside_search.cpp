#include "outside_search.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "block_sizes.h"

namespace kova::analysis::detail {
namespace {

// What counts as a stretch of the same sample: long enough that compares as
// it lies pay off.
constexpr std::size_t kConstantRun = 16;

}  // namespace

std::optional<Outside_Search::Window> Outside_Search::next(std::uint64_t end) const
{
    const std::uint64_t short_end = next_window_ + kWindow;
    const std::uint64_t block_end = next_block_ + kBlock;
    if (std::min(short_end, block_end) > end)
        return std::nullopt;
    if (short_end <= block_end)
        return Window{next_window_, kWindow};
    return Window{next_block_, kBlock};
}

void Outside_Search::passed(const Window& w)
{
    (w.n == kWindow ? next_window_ : next_block_) += w.n;
}

const Raw_Table* Outside_Search::expected(int& phase) const
{
    // Only once every window still to be tested lies within the run: a run
    // taken whole then never leaves a window that reaches before it untested.
    if (run_.period == 1 && next_window_ >= run_from_ && next_block_ >= run_from_) {
        phase = 0;
        return &run_;
    }
    return nullptr;
}

void Outside_Search::take_run(const History& history, std::uint64_t run)
{
    // Windows wholly within a run of one value cannot hold the pattern:
    // passed over as their tests would have.
    const std::uint64_t end = history.end() + run;
    auto pass = [&](std::uint64_t& next, std::size_t size) {
        if (next >= run_from_ && next + size <= end)
            next += (end - size - next) / size * size + size;
    };
    pass(next_window_, kWindow);
    pass(next_block_, kBlock);
    // What came before the run is counted while the history still holds
    // it; the run itself after, in one go.
    count(history, std::min(history.end(), reach_back(std::min(next_window_, next_block_))));
}

void Outside_Search::look_for_run(const History& history, std::uint64_t pos)
{
    const bool had_run = run_.period == 1;
    run_.period = 0;
    const std::uint64_t end = history.end();
    if (end - pos >= kConstantRun || end - from_ >= kConstantRun) {
        const unsigned char* last = history.raw(end - 1);
        const int size = history.bytes();
        bool constant = true;
        for (std::uint64_t i = end - kConstantRun; i < end - 1 && constant; ++i)
            constant = same_sample(history.raw(i), last, size);
        if (constant) {
            // Where the run is known to begin: kept while it goes on.
            if (!had_run || !same_sample(run_.value[0], last, size))
                run_from_ = end - kConstantRun;
            run_.period = 1;
            run_.bytes = size;
            std::memcpy(run_.value[0], last, static_cast<std::size_t>(size));
            run_.laid_out.clear();
            run_.lay_out();
        }
    }
    count_settled(history);
}

void Outside_Search::count_settled(const History& history)
{
    count(history, reach_back(std::min(next_window_, next_block_)));
}

void Outside_Search::restart(std::uint64_t at)
{
    counted_ = Outside{};
    counted_to_ = at;
    from_ = at;
    next_window_ = at;
    next_block_ = at;
}

Outside Outside_Search::take(const History& history, std::uint64_t to)
{
    count(history, to);
    const Outside taken = counted_;
    counted_ = Outside{};
    return taken;
}

Outside Outside_Search::after(const History& history, std::uint64_t span_end)
{
    counted_to_ = std::max(counted_to_, span_end);
    count(history, history.end());
    return counted_;
}

void Outside_Search::skip(std::uint64_t to)
{
    counted_to_ = std::max(counted_to_, to);
    counted_ = Outside{};
}

void Outside_Search::count(const History& history, std::uint64_t to)
{
    // Counted as soon as no window can reach it, so always still held: a
    // run through a table as its table, the rest in the ring.
    auto add = [this](double v, std::uint64_t times) {
        counted_.samples += times;
        if (v != 0.0)
            counted_.silent = false;
        counted_.peak = v == v ? std::max(counted_.peak, std::fabs(v)) : INFINITY;
    };
    for (std::uint64_t i = counted_to_; i < to;) {
        std::uint64_t run_end = 0;
        const double* values = nullptr;
        int period = 0;
        if (history.in_table_run(i, run_end, values, period)) {
            // A run through a table (silence) counts in one go: every value
            // of its cycle is there once the run is a cycle long.
            const std::uint64_t n = std::min(to, run_end) - i;
            for (int p = 0; p < period; ++p) add(values[p], 0);
            counted_.samples += n;
            i += n;
        } else {
            add(history.value(i), 1);
            ++i;
        }
    }
    counted_to_ = std::max(counted_to_, to);
}

}  // namespace kova::analysis::detail

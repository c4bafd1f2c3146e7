#include "history.h"

#include <algorithm>
#include <cstring>

namespace kova::analysis::detail {

History::History(const Sample_Format& format)
    : decoder_(format), bytes_(static_cast<std::size_t>(format.bytes)), values_(kSize), raws_(kSize * bytes_)
{
}

double History::value(std::uint64_t i) const
{
    if (i >= run_.from && i < run_.to)
        return run_.values[(run_.phase + (i - run_.from)) % static_cast<std::uint64_t>(run_.table.period)];
    if (i >= decoded_)
        decode_pending();
    return values_[i % kSize];
}

const unsigned char* History::raw(std::uint64_t i) const
{
    if (i >= run_.from && i < run_.to)
        return run_.table
            .value[(run_.phase + (i - run_.from)) % static_cast<std::uint64_t>(run_.table.period)];
    return raws_.data() + (i % kSize) * bytes_;
}

bool History::in_table_run(std::uint64_t i, std::uint64_t& run_end, const double*& values, int& period) const
{
    if (i < run_.from || i >= run_.to)
        return false;
    run_end = run_.to;
    values = run_.values;
    period = run_.table.period;
    return true;
}

void History::copy(std::uint64_t from, std::size_t n, double* out) const
{
    if (from + n > decoded_)
        decode_pending();
    if (from >= run_.to || from + n <= run_.from) {
        // All in the ring: at most two pieces, either side of its end.
        const std::size_t slot = from % kSize;
        const std::size_t first = std::min(n, kSize - slot);
        std::memcpy(out, values_.data() + slot, first * sizeof(double));
        std::memcpy(out + first, values_.data(), (n - first) * sizeof(double));
        return;
    }
    for (std::size_t k = 0; k < n; ++k) out[k] = value(from + k);
}

double History::mean(std::uint64_t lo, std::uint64_t hi) const
{
    double sum = 0.0, taken = 0.0;
    for (std::uint64_t i = lo; i < hi; ++i)
        if (value(i) == value(i)) {
            sum += value(i);
            taken += 1;
        }
    return taken > 0 ? sum / taken : 0.0;
}

const double* History::view(std::uint64_t from, std::size_t n, double* scratch) const
{
    const std::size_t slot = from % kSize;
    if ((from >= run_.to || from + n <= run_.from) && slot + n <= kSize) {
        if (from + n > decoded_)
            decode_pending();
        return values_.data() + slot;
    }
    copy(from, n, scratch);
    return scratch;
}

Raw_View History::raw_run(std::uint64_t from, std::size_t& n) const
{
    const std::size_t slot = from % kSize;
    n = std::min<std::size_t>(n, kSize - slot);
    return {raws_.data() + slot * bytes_, bytes_};
}

const double* History::decoded(std::uint64_t from, std::size_t n, double* scratch) const
{
    if (from < oldest() || from + n > end_ || !(from >= run_.to || from + n <= run_.from))
        return view(from, n, scratch);
    decode_range(from, from + n, scratch);
    return scratch;
}

void History::decode_pending() const
{
    const std::uint64_t from = std::max(decoded_, oldest()), end = end_;
    // A run taken through a table has no raw samples in the ring: its
    // values come from the table until it is written out.
    if (run_.to > run_.from && run_.from < end && run_.to > from) {
        decode_range(from, std::max(from, run_.from), nullptr);
        decode_range(std::min(end, run_.to), end, nullptr);
    } else {
        decode_range(from, end, nullptr);
    }
    decoded_ = end;
}

// Into `out` from its start, or, without it, into the ring's own slots.
void History::decode_range(std::uint64_t from, std::uint64_t to, double* out) const
{
    while (from < to) {
        const std::size_t slot = from % kSize;
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(to - from, kSize - slot));
        decoder_.decode({raws_.data() + slot * bytes_, bytes_}, n, out ? out : values_.data() + slot);
        if (out)
            out += n;
        from += n;
    }
}

std::size_t History::append(Raw_View raw, std::size_t count)
{
    const std::size_t slot = end_ % kSize;
    const std::size_t n = std::min(count, kSize - slot);
    unsigned char* to = raws_.data() + slot * bytes_;
    if (raw.stride == bytes_) {
        std::memcpy(to, raw.data, n * bytes_);
    } else {
        for (std::size_t k = 0; k < n; ++k) std::memcpy(to + k * bytes_, raw.data + k * raw.stride, bytes_);
    }
    end_ += n;
    return n;
}

void History::append_table(std::uint64_t count, const Raw_Table& table, int phase)
{
    if (count == 0)
        return;
    if (run_.to != end_ || !(run_.table == table)) {
        write_out_table_run();
        run_.from = run_.to = end_;
        run_.table = table;
        run_.phase = phase;
        for (int p = 0; p < table.period; ++p) run_.values[p] = decoder_.decode_one(table.value[p]);
    }
    run_.to += count;
    end_ += count;
}

void History::write_out_table_run()
{
    if (run_.to > run_.from) {
        // Only what the ring still has room for: older slots now hold samples
        // that came after the run.
        const std::uint64_t from = std::max(run_.from, oldest());
        for (std::uint64_t i = from; i < run_.to; ++i) {
            const auto p = static_cast<int>((run_.phase + (i - run_.from)) %
                                            static_cast<std::uint64_t>(run_.table.period));
            values_[i % kSize] = run_.values[p];
            std::memcpy(raws_.data() + (i % kSize) * bytes_, run_.table.value[p], bytes_);
        }
    }
    run_.from = run_.to = 0;
}

}  // namespace kova::analysis::detail

#pragma once

// How long the span should have lasted, and where what it lacks, or holds
// beyond that, went: at its ends, at its dropouts, or somewhere the pattern
// cannot show. A pure function of what the tracker saw, so that judging the
// same span against another duration cannot change what was seen.
//
// Across a dropout the cycle tells how many pattern samples were skipped
// only modulo its length; each is first taken at the choice nearest to no
// net change in length (a repeated sample is one inserted, a deleted one
// one lost, samples overwritten where the cycle goes on were replaced), and
// the span's length then says how many whole cycles more, or fewer, there
// were: exact where one place can take them, unplaced where several could.

#include <cstdint>
#include <vector>

namespace kova::analysis::detail {

// One place where the cycle broke off and resumed.
struct Break {
    std::uint64_t foreign = 0;  // samples that are not the pattern: inserted
    int residue = 0;            // pattern samples skipped across it, modulo the cycle
};

// Pattern samples a break skipped: the choice nearest to no net change, and
// the fewest there can be (below zero: samples that looked like the pattern
// inserted, as a repeat does, where nothing foreign was).
long long nearest_skip(const Break& b, int cycle);
long long fewest_skip(const Break& b, int cycle);

// What the length needs of every break, summed: the report keeps only the
// first few.
struct Break_Sums {
    std::uint64_t count = 0;
    std::uint64_t foreign = 0;
    long long nearest = 0;
    long long fewest = 0;
    void add(const Break& b, int cycle);
};

struct Span_Seen {
    std::uint64_t length = 0;  // samples
    long rate = 0;
    int cycle = 0;  // 0: the phases tell nothing (resampled, or the repeat changed)
    int first_phase = 0;
    int last_phase = 0;
    struct End {
        bool crisp = true;        // a clean cut, not a fade or noise that blurs it
        bool at_capture = false;  // the capture's first (or last) sample
    };
    End start;
    End end;
    std::vector<Break> breaks;  // the first few, in order
    Break_Sums sums;            // over all of them
};

struct Break_Count {
    std::uint64_t lost = 0;
    std::uint64_t inserted = 0;
    bool exact = false;  // else the lost are the fewest found to fit
};

struct Length_Judgement {
    bool judged = false;  // the cycle and phases allowed it
    long long seconds = 0;
    std::uint64_t missing_start = 0;
    std::uint64_t missing_end = 0;
    bool missing_start_exact = true;
    bool missing_end_exact = true;
    // Whole cycles missing (positive) or added (negative) that no one place
    // can take.
    long long unplaced = 0;
    std::vector<Break_Count> breaks;  // for Span_Seen::breaks
    bool incomplete = false;
};

// durations: the whole seconds the span may last, shortest first (the five
// the programs write, or the one expected). It is judged against the
// shortest that can hold what it shows of the source.
Length_Judgement judge_span_length(const Span_Seen& span, const std::vector<long long>& durations);

}  // namespace kova::analysis::detail

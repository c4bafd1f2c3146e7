// The length accounting as truth tables: spans cut and broken by hand, at
// 48 kHz (a 3-sample cycle), each count worked out in the row's comment.
// A span's source is what it holds less what its breaks inserted, plus the
// phases missing at its ends and what each break skipped.

#include "length_model.h"

#include <gtest/gtest.h>

#include <vector>

using kova::analysis::detail::Break;
using kova::analysis::detail::judge_span_length;
using kova::analysis::detail::Span_Seen;

namespace {

const std::vector<long long> kFive = {1, 10, 60, 600, 3600};

// What the tracker saw (no durations: the five) and what the model makes of it.
struct In {
    std::uint64_t length;
    int first_phase, last_phase;
    Span_Seen::End start, end;
    std::vector<Break> breaks;
    std::vector<long long> durations = {};
};
struct Out {
    long long seconds;
    std::uint64_t missing_start, missing_end;
    bool start_exact, end_exact;
    long long unplaced;
    bool incomplete;
    std::vector<std::vector<long long>> counts;  // per break: lost, inserted, exact
};
struct Row {
    const char* what;
    In in;
    Out out;
};

constexpr Span_Seen::End kCapture{true, true};  // at the capture's edge
constexpr Span_Seen::End kInside{true, false};  // silence beyond it
constexpr Span_Seen::End kBlurred{false, false};

}  // namespace

TEST(LengthModel, TruthTable)
{
    const Row rows[] = {
        // 480000 samples, phases 0 and 2: the 10 s file itself.
        {"whole", {480000, 0, 2, kCapture, kCapture, {}}, {10, 0, 0, true, true, 0, false, {}}},
        // 48000 cut in whole cycles with no break, the span filling the
        // capture: 10 s is the shortest that holds 432000; 48000 short, at
        // either end or inside.
        {"second cut", {432000, 0, 2, kCapture, kCapture, {}}, {10, 0, 0, false, false, 48000, true, {}}},
        // The first second muted: silence before, the capture's end after:
        // cut there, 480000 - 432000 = 48000 missing at the end.
        {"second muted", {432000, 0, 2, kInside, kCapture, {}}, {10, 0, 48000, true, true, 0, true, {}}},
        // 0.5 s of silence, then 15.019 s (720912 samples) to the capture's
        // end: 1 min is the shortest that holds it, 2880000 - 720912 =
        // 2159088 missing at the end. One sample more ends at phase 0: 2
        // missing in its cycle, 2880000 - 720913 = 2159087 in all.
        {"ends with the capture",
         {720912, 0, 2, kInside, kCapture, {}},
         {60, 0, 2159088, true, true, 0, true, {}}},
        {"ends with the capture mid-cycle",
         {720913, 0, 0, kInside, kCapture, {}},
         {60, 0, 2159087, true, true, 0, true, {}}},
        // 25 deleted at one place: the cycle jumps 25 mod 3 = 1, nearest 1;
        // 480000 - (479975 + 1) = 24 more, all at the one break: 25 lost.
        // The same against an expected 10 s.
        {"25 deleted",
         {479975, 0, 2, kCapture, kCapture, {{0, 1}}},
         {10, 0, 0, true, true, 0, false, {{25, 0, 1}}}},
        {"25 deleted, 10 s expected",
         {479975, 0, 2, kCapture, kCapture, {{0, 1}}, {10}},
         {10, 0, 0, true, true, 0, false, {{25, 0, 1}}}},
        // One sample repeated after each of seconds 1 to 9: each jump is
        // 2 mod 3, nearest -1 (one inserted); 480009 - 9 = 480000: exact.
        {"repeats",
         {480009, 0, 2, kCapture, kCapture, std::vector<Break>(9, Break{0, 2})},
         {10, 0, 0, true, true, 0, false, std::vector<std::vector<long long>>(9, {0, 1, 1})}},
        // One deleted (jump 1) and one repeated (jump 2): 480000 + 1 - 1.
        {"deleted and repeated",
         {480000, 0, 2, kCapture, kCapture, {{0, 1}, {0, 2}}},
         {10, 0, 0, true, true, 0, false, {{1, 0, 1}, {0, 1, 1}}}},
        // 480 zeros over 480 samples: 480 = 0 mod 3, no net change nearest;
        // 480000 - 480 + 480 = 480000: replaced.
        {"replaced",
         {480000, 0, 2, kCapture, kCapture, {{480, 0}}},
         {10, 0, 0, true, true, 0, false, {{480, 480, 1}}}},
        // 1000 cut, 480 zeros put in: jump 1000 mod 3 = 1; net 479 = -1 mod 3
        // nearest, so 481 skipped; 480000 - (479480 - 480 + 481) = 519 more:
        // 1000 lost.
        {"1000 for 480",
         {479480, 0, 2, kCapture, kCapture, {{480, 1}}},
         {10, 0, 0, true, true, 0, false, {{1000, 480, 1}}}},
        // Two underruns of 30 zeros: nearest each replaced 30; 480060 - 60 +
        // 60 is 60 over, which both going down to 0 skipped takes exactly.
        {"underruns",
         {480060, 0, 2, kCapture, kCapture, {{30, 0}, {30, 0}}},
         {10, 0, 0, true, true, 0, false, {{0, 30, 1}, {0, 30, 1}}}},
        // The same but 30 over: one of the two replaced, the pattern cannot
        // tell which; the first is taken down.
        {"underrun or replaced",
         {480030, 0, 2, kCapture, kCapture, {{30, 0}, {30, 0}}},
         {10, 0, 0, true, true, 0, false, {{0, 30, 0}, {30, 30, 0}}}},
        // 25 and 10 deleted: 1 + 1 nearest, 33 more for two breaks.
        {"two deletions",
         {479965, 0, 2, kCapture, kCapture, {{0, 1}, {0, 1}}},
         {10, 0, 0, false, false, 33, false, {{1, 0, 0}, {1, 0, 0}}}},
        // A listen stopped at 5 s after 25 were deleted: the capture's end and
        // the break could each take 480000 - 239976 = 240024.
        {"stopped after a dropout",
         {239975, 0, 2, kInside, kCapture, {{0, 1}}},
         {10, 0, 0, true, false, 240024, false, {{1, 0, 0}}}},
        // 100001 samples between silences with one break (jump 1): under half
        // of 10 s, a piece: 480000 - 100002 = 379998 not one break's. At
        // 400001 it is the file: 79998 more, 79999 lost there.
        {"piece",
         {100001, 0, 2, kInside, kInside, {{0, 1}}},
         {10, 0, 0, true, true, 379998, false, {{1, 0, 0}}}},
        {"file",
         {400001, 0, 2, kInside, kInside, {{0, 1}}},
         {10, 0, 0, true, true, 0, false, {{79999, 0, 1}}}},
        // The start cut mid-cycle by a late capture: 1001 = 2 mod 3 in its
        // cycle, 478999 + 2 leaves 999 more, only the start shows a cut.
        {"began late", {478999, 2, 2, kCapture, kCapture, {}}, {10, 1001, 0, true, true, 0, true, {}}},
        // A noisy end takes what is missing but shows no cut to claim it by.
        {"blurred end", {432000, 0, 2, kInside, kBlurred, {}}, {10, 0, 0, true, false, 0, false, {}}},
        // 15 s made with another duration: exact when expected; else short
        // of 1 min, 2160000, at either end.
        {"15 s expected", {720000, 0, 2, kCapture, kCapture, {}, {15}}, {15, 0, 0, true, true, 0, false, {}}},
        {"15 s", {720000, 0, 2, kCapture, kCapture, {}}, {60, 0, 0, false, false, 2160000, true, {}}},
        // 10 s against an expected 1 s: 432000 over, no break to hold them.
        {"over", {480000, 0, 2, kInside, kInside, {}, {1}}, {1, 0, 0, true, true, -432000, false, {}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const In& in = row.in;
        const Out& out = row.out;
        Span_Seen s;
        s.length = in.length;
        s.rate = 48000;
        s.cycle = 3;
        s.first_phase = in.first_phase;
        s.last_phase = in.last_phase;
        s.start = in.start;
        s.end = in.end;
        s.breaks = in.breaks;
        for (const auto& b : in.breaks) s.sums.add(b, 3);
        const auto j = judge_span_length(s, in.durations.empty() ? kFive : in.durations);
        EXPECT_TRUE(j.judged);
        EXPECT_EQ(j.seconds, out.seconds);
        EXPECT_EQ(j.missing_start, out.missing_start);
        EXPECT_EQ(j.missing_end, out.missing_end);
        EXPECT_EQ(j.missing_start_exact, out.start_exact);
        EXPECT_EQ(j.missing_end_exact, out.end_exact);
        EXPECT_EQ(j.unplaced, out.unplaced);
        EXPECT_EQ(j.incomplete, out.incomplete);
        ASSERT_EQ(j.breaks.size(), out.counts.size());
        for (std::size_t i = 0; i < out.counts.size(); ++i) {
            EXPECT_EQ(static_cast<long long>(j.breaks[i].lost), out.counts[i][0]) << i;
            EXPECT_EQ(static_cast<long long>(j.breaks[i].inserted), out.counts[i][1]) << i;
            EXPECT_EQ(j.breaks[i].exact, out.counts[i][2] != 0) << i;
        }
    }
}

// Only the first breaks are kept: those beyond count in the sums alone, and
// decide whether the kept ones are exact. With phases that do not add up, or
// no cycle, nothing is judged.
TEST(LengthModel, SumsAndUnjudged)
{
    Span_Seen s;
    s.rate = 48000;
    s.cycle = 3;
    s.last_phase = 2;
    s.start = s.end = kCapture;
    // Ten repeats, one kept: 480010 - 10 = 480000 only if all ten inserted.
    s.length = 480010;
    s.breaks = {{0, 2}};
    for (int i = 0; i < 10; ++i) s.sums.add({0, 2}, 3);
    auto j = judge_span_length(s, kFive);
    ASSERT_EQ(j.breaks.size(), 1u);
    EXPECT_EQ(j.breaks[0].inserted, 1u);
    EXPECT_TRUE(j.breaks[0].exact);
    EXPECT_EQ(j.unplaced, 0);

    s.length = 480011;  // one more than the phases allow
    EXPECT_FALSE(judge_span_length(s, kFive).judged);
    s.length = 480010;
    s.cycle = 0;
    j = judge_span_length(s, kFive);
    EXPECT_FALSE(j.judged);
    EXPECT_FALSE(j.breaks[0].exact);
    EXPECT_FALSE(j.incomplete);
}

#pragma once

// Two sets of channel reports compared field by field, for targets whose
// two runs must agree exactly. The first difference ends the process with
// the field and both values, which is what libFuzzer saves the input for.

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "kova/analysis/channel_report.h"
#include "kova/analysis/events.h"

namespace kova::fuzz {

// A field added to a report must be compared below: these sizes make the
// build say so instead of the comparison quietly passing over it.
static_assert(sizeof(analysis::Dropout) == 48,
              "Dropout changed: compare its new fields in fuzz/report_compare.h");
static_assert(sizeof(analysis::Stretch) == 72,
              "Stretch changed: compare its new fields in fuzz/report_compare.h");
static_assert(sizeof(analysis::Resampling) == 40,
              "Resampling changed: compare its new fields in fuzz/report_compare.h");
static_assert(sizeof(analysis::Outside) == 24,
              "Outside changed: compare its new fields in fuzz/report_compare.h");
static_assert(sizeof(analysis::Event) == 72,
              "Event changed: compare its new fields in fuzz/report_compare.h");
static_assert(sizeof(analysis::Channel_Report) == 712,
              "Channel_Report changed: compare its new fields in fuzz/report_compare.h");
static_assert(sizeof(analysis::Full_Findings) == 320,
              "Full_Findings changed: compare its new fields in fuzz/report_compare.h");

class Report_Compare {
public:
    // first, second: the two runs, as the message names them; context: what
    // was fed, printed with any difference.
    Report_Compare(std::string first, std::string second, std::string context)
        : first_(std::move(first)), second_(std::move(second)), context_(std::move(context))
    {
    }

    void reports(const std::vector<analysis::Channel_Report>& a,
                 const std::vector<analysis::Channel_Report>& b)
    {
        value("channel count", a.size(), b.size());
        for (std::size_t ch = 0; ch < a.size(); ++ch) {
            channel_ = static_cast<int>(ch);
            report(a[ch], b[ch]);
        }
        channel_ = -1;
    }

    // The findings as each channel told them, in order. Between channels the
    // order follows how the frames came, channel by channel within a block.
    void events(std::vector<analysis::Event> a, std::vector<analysis::Event> b)
    {
        const auto by_channel = [](const analysis::Event& x, const analysis::Event& y) {
            return x.channel < y.channel;
        };
        std::stable_sort(a.begin(), a.end(), by_channel);
        std::stable_sort(b.begin(), b.end(), by_channel);
        const std::size_t n = std::min(a.size(), b.size());
        for (std::size_t i = 0; i < n; ++i) {
            const auto& x = a[i];
            const auto& y = b[i];
            channel_ = x.channel;
            item_ = static_cast<int>(i);
            value("event.kind", static_cast<int>(x.kind), static_cast<int>(y.kind));
            value("event.channel", x.channel, y.channel);
            value("event.position", x.position, y.position);
            value("event.repeat", x.repeat, y.repeat);
            value("event.exact", x.exact, y.exact);
            value("event.gain_factor", x.gain_factor, y.gain_factor);
            value("event.offset_steps", x.offset_steps, y.offset_steps);
            value("event.foreign", x.foreign, y.foreign);
            value("event.skipped", x.skipped, y.skipped);
            value("event.family_hz", x.family_hz, y.family_hz);
            value("event.full", x.full, y.full);
        }
        channel_ = item_ = -1;
        value("event count", a.size(), b.size());
    }

    // Equal, NaN equal to NaN; otherwise the very same bits (a -0 is not a 0:
    // it prints differently).
    void value(const char* field, double a, double b)
    {
        std::uint64_t x, y;
        std::memcpy(&x, &a, sizeof x);
        std::memcpy(&y, &b, sizeof y);
        if (x == y || (std::isnan(a) && std::isnan(b)))
            return;
        char text[128];
        std::snprintf(text, sizeof text, "%.17g (0x%016" PRIx64 ") against %.17g (0x%016" PRIx64 ")", a, x, b,
                      y);
        differ(field, text);
    }
    void value(const char* field, std::uint64_t a, std::uint64_t b)
    {
        if (a != b)
            differ(field, std::to_string(a) + " against " + std::to_string(b));
    }
    void value(const char* field, long long a, long long b)
    {
        if (a != b)
            differ(field, std::to_string(a) + " against " + std::to_string(b));
    }
    void value(const char* field, long a, long b)
    {
        value(field, static_cast<long long>(a), static_cast<long long>(b));
    }
    void value(const char* field, int a, int b)
    {
        value(field, static_cast<long long>(a), static_cast<long long>(b));
    }
    void value(const char* field, bool a, bool b)
    {
        if (a != b)
            differ(field, std::string(a ? "true" : "false") + " against " + (b ? "true" : "false"));
    }
    void value(const char* field, const std::string& a, const std::string& b)
    {
        if (a != b)
            differ(field, "\"" + a + "\" against \"" + b + "\"");
    }
    template <class T>
    void value(const char* field, const std::optional<T>& a, const std::optional<T>& b)
    {
        value((std::string(field) + " present").c_str(), a.has_value(), b.has_value());
        if (a && b)
            value(field, *a, *b);
    }

private:
    void report(const analysis::Channel_Report& a, const analysis::Channel_Report& b)
    {
        value("present", a.present, b.present);
        value("first", a.first, b.first);
        value("last", a.last, b.last);
        value("repeat", a.repeat, b.repeat);
        value("repeat_fits", a.repeat_fits, b.repeat_fits);
        value("duration.seconds", a.duration.seconds, b.duration.seconds);
        value("duration.nearest_seconds", a.duration.nearest_seconds, b.duration.nearest_seconds);
        value("duration.difference", a.duration.difference, b.duration.difference);
        value("whole_seconds", a.whole_seconds, b.whole_seconds);
        value("inverted", a.inverted, b.inverted);
        value("gain", a.gain, b.gain);
        value("offset", a.offset, b.offset);
        value("dropouts", a.dropouts, b.dropouts);
        value("altered", a.altered, b.altered);
        value("resampled", a.resampled, b.resampled);
        value("incomplete", a.incomplete, b.incomplete);
        value("truncated", a.truncated, b.truncated);
        value("channels", a.channels, b.channels);
        value("gain_factor", a.gain_factor, b.gain_factor);
        value("gain_db", a.gain_db, b.gain_db);
        value("offset_steps", a.offset_steps, b.offset_steps);
        value("dropout_count", a.dropout_count, b.dropout_count);
        value("first_dropouts.size", a.first_dropouts.size(), b.first_dropouts.size());
        for (std::size_t i = 0; i < a.first_dropouts.size(); ++i) {
            const auto& x = a.first_dropouts[i];
            const auto& y = b.first_dropouts[i];
            item_ = static_cast<int>(i);
            value("first_dropouts.position", x.position, y.position);
            value("first_dropouts.foreign", x.foreign, y.foreign);
            value("first_dropouts.skipped", x.skipped, y.skipped);
            value("first_dropouts.lost", x.lost, y.lost);
            value("first_dropouts.lost_exact", x.lost_exact, y.lost_exact);
            value("first_dropouts.residue", x.residue, y.residue);
            value("first_dropouts.inserted", x.inserted, y.inserted);
        }
        item_ = -1;
        value("differing", a.differing, b.differing);
        value("max_difference", a.max_difference, b.max_difference);
        value("rms_difference", a.rms_difference, b.rms_difference);
        value("nonfinite", a.nonfinite, b.nonfinite);
        value("missing_start", a.missing_start, b.missing_start);
        value("missing_end", a.missing_end, b.missing_end);
        value("missing_start_exact", a.missing_start_exact, b.missing_start_exact);
        value("missing_end_exact", a.missing_end_exact, b.missing_end_exact);
        value("unplaced", a.unplaced, b.unplaced);
        value("judged_seconds", a.judged_seconds, b.judged_seconds);
        value("accounting.cycle", a.accounting.cycle, b.accounting.cycle);
        value("accounting.first_phase", a.accounting.first_phase, b.accounting.first_phase);
        value("accounting.last_phase", a.accounting.last_phase, b.accounting.last_phase);
        value("accounting.start_crisp", a.accounting.start_crisp, b.accounting.start_crisp);
        value("accounting.end_crisp", a.accounting.end_crisp, b.accounting.end_crisp);
        value("accounting.starts_capture", a.accounting.starts_capture, b.accounting.starts_capture);
        value("accounting.ends_capture", a.accounting.ends_capture, b.accounting.ends_capture);
        value("accounting.foreign", a.accounting.foreign, b.accounting.foreign);
        value("accounting.skipped_nearest", a.accounting.skipped_nearest, b.accounting.skipped_nearest);
        value("accounting.skipped_fewest", a.accounting.skipped_fewest, b.accounting.skipped_fewest);
        value("stretch_count", a.stretch_count, b.stretch_count);
        value("stretches.size", a.stretches.size(), b.stretches.size());
        for (std::size_t i = 0; i < a.stretches.size(); ++i) {
            const auto& x = a.stretches[i];
            const auto& y = b.stretches[i];
            item_ = static_cast<int>(i);
            value("stretches.first", x.first, y.first);
            value("stretches.last", x.last, y.last);
            value("stretches.exact", x.exact, y.exact);
            value("stretches.inverted", x.inverted, y.inverted);
            value("stretches.gain", x.gain, y.gain);
            value("stretches.offset", x.offset, y.offset);
            value("stretches.altered", x.altered, y.altered);
            value("stretches.resampled", x.resampled, y.resampled);
            value("stretches.gain_factor", x.gain_factor, y.gain_factor);
            value("stretches.offset_steps", x.offset_steps, y.offset_steps);
            value("stretches.offset_min", x.offset_min, y.offset_min);
            value("stretches.offset_max", x.offset_max, y.offset_max);
            value("stretches.differing", x.differing, y.differing);
            value("stretches.changed", x.changed, y.changed);
        }
        item_ = -1;
        value("resampling present", a.resampling.has_value(), b.resampling.has_value());
        if (a.resampling && b.resampling) {
            value("resampling.family_hz", a.resampling->family_hz, b.resampling->family_hz);
            value("resampling.family_rate", a.resampling->family_rate, b.resampling->family_rate);
            value("resampling.ratio", a.resampling->ratio, b.resampling->ratio);
            value("resampling.drift_ppm", a.resampling->drift_ppm, b.resampling->drift_ppm);
            value("resampling.source_rate", a.resampling->source_rate, b.resampling->source_rate);
        }
        outside("before", a.before, b.before);
        outside("after", a.after, b.after);
        value("full present", a.full.has_value(), b.full.has_value());
        if (a.full && b.full)
            full(*a.full, *b.full);
    }

    void full(const analysis::Full_Findings& a, const analysis::Full_Findings& b)
    {
        value("full.source_channels", a.source_channels, b.source_channels);
        value("full.source_channel", a.source_channel, b.source_channel);
        value("full.mix.size", a.mix.size(), b.mix.size());
        for (std::size_t i = 0; i < a.mix.size() && i < b.mix.size(); ++i) {
            item_ = static_cast<int>(i);
            value("full.mix.channel", a.mix[i].channel, b.mix[i].channel);
            value("full.mix.weight", a.mix[i].weight, b.mix[i].weight);
        }
        item_ = -1;
        value("full.positioned", a.positioned, b.positioned);
        value("full.first_position", a.first_position, b.first_position);
        value("full.last_position", a.last_position, b.last_position);
        value("full.resumed_at.size", a.resumed_at.size(), b.resumed_at.size());
        for (std::size_t i = 0; i < a.resumed_at.size() && i < b.resumed_at.size(); ++i) {
            item_ = static_cast<int>(i);
            value("full.resumed_at", a.resumed_at[i], b.resumed_at[i]);
        }
        item_ = -1;
        value("full.source_seconds", a.source_seconds, b.source_seconds);
        value("full.source_rate", a.source_rate, b.source_rate);
        value("full.repeat", a.repeat, b.repeat);
        value("full.compared", a.compared, b.compared);
        for (std::size_t i = 0; i < a.bit_errors.size(); ++i) {
            item_ = static_cast<int>(i);
            value("full.bit_errors", a.bit_errors[i], b.bit_errors[i]);
        }
        item_ = -1;
        value("full.word_bits", a.word_bits, b.word_bits);
        value("full.cut", static_cast<int>(a.cut), static_cast<int>(b.cut));
        value("full.finer_than_24", a.finer_than_24, b.finer_than_24);
    }

    void outside(const std::string& which, const analysis::Outside& a, const analysis::Outside& b)
    {
        value((which + ".samples").c_str(), a.samples, b.samples);
        value((which + ".silent").c_str(), a.silent, b.silent);
        value((which + ".peak").c_str(), a.peak, b.peak);
    }

    [[noreturn]] void differ(const char* field, const std::string& values)
    {
        std::string where;
        if (channel_ >= 0)
            where = " channel " + std::to_string(channel_ + 1);
        if (item_ >= 0)
            where += " item " + std::to_string(item_);
        std::fprintf(stderr, "\n%s and %s differ:%s %s: %s\n  fed: %s\n", first_.c_str(), second_.c_str(),
                     where.c_str(), field, values.c_str(), context_.c_str());
        std::abort();
    }

    std::string first_, second_, context_;
    int channel_ = -1;
    int item_ = -1;
};

}  // namespace kova::fuzz

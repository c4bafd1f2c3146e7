#include "kova/cli/args.h"

#include <cctype>
#include <cstdint>

#include "kova/settings.h"
#include "kova/sizes.h"

namespace kova::cli {
namespace {

// "44.1" of the label "44.1 kHz".
std::string label_number(const Rate_Choice& choice)
{
    const std::string label = choice.label;
    return label.substr(0, label.find(' '));
}

}  // namespace

std::optional<long> parse_rate(const std::string& text)
{
    for (const auto& choice : kRates) {
        const std::string number = label_number(choice);
        if (text == std::to_string(choice.rate) || text == number + "k" || text == number + "K")
            return choice.rate;
    }
    return std::nullopt;
}

std::string rate_choices()
{
    std::string all;
    for (const auto& choice : kRates) all += (all.empty() ? "" : ", ") + std::to_string(choice.rate);
    return all;
}

std::string rate_label_range()
{
    return label_number(kRates[0]) + "k ... " + label_number(kRates[kRateCount - 1]) + "k";
}

int max_duration(long rate)
{
    return kova::max_duration(rate);
}

std::optional<int> parse_duration(const std::string& text, long rate)
{
    std::size_t i = 0;
    std::int64_t value = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        value = value * 10 + (text[i] - '0');
        if (value > INT32_MAX)
            return std::nullopt;
        ++i;
    }
    if (i == 0 || i + 1 < text.size())
        return std::nullopt;

    std::int64_t unit = 1;
    if (i < text.size()) {
        switch (text[i]) {
            case 's':
                unit = 1;
                break;
            case 'm':
                unit = 60;
                break;
            case 'h':
                unit = 3600;
                break;
            default:
                return std::nullopt;
        }
    }
    const std::int64_t seconds = value * unit;
    if (seconds < 1 || seconds > max_duration(rate))
        return std::nullopt;
    return static_cast<int>(seconds);
}

std::string unknown_rate(const std::string& text)
{
    return "unknown rate '" + text + "' (one of " + rate_choices() + ", or " + rate_label_range() + ")";
}

std::string bad_duration(const std::string& text, long rate)
{
    return "bad duration '" + text + "' (whole seconds from 1 to " + std::to_string(max_duration(rate)) +
           " at " + std::to_string(rate) + " Hz, or a number with s, m or h)";
}

std::string default_file_name(long rate, int seconds)
{
    return "kova-" + std::to_string(rate) + "Hz-" + std::to_string(seconds) + "s.wav";
}

}  // namespace kova::cli

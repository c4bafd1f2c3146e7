#include "loop_schedule.h"

namespace kova::loop {

namespace {
// Twentieths of a second: whole cycles at all six rates.
std::uint64_t twentieths(long rate, int n)
{
    return static_cast<std::uint64_t>(rate / 20) * static_cast<std::uint64_t>(n);
}
}  // namespace

Loop_Schedule::Loop_Schedule(long rate_, int seconds_, int outputs_, bool full_)
    : rate(rate_),
      seconds(seconds_),
      outputs(outputs_),
      full(full_),
      turns(full_ ? 0 : outputs_),
      lead_in(twentieths(rate_, 10)),
      run(static_cast<std::uint64_t>(rate_) * static_cast<std::uint64_t>(seconds_)),
      gap(twentieths(rate_, 5)),
      burst(twentieths(rate_, 4)),
      slot(twentieths(rate_, 6))
{
}

}  // namespace kova::loop

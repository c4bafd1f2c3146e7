#include "kova/live/wasapi/stream.h"

#include <utility>

#include "engine.h"

namespace kova::live::wasapi {

const char* drive_name(Drive drive)
{
    switch (drive) {
        case Drive::automatic:
            return "automatic";
        case Drive::event:
            return "event-driven";
        case Drive::polling:
            return "polling";
    }
    return "?";
}

Stream::Stream(std::unique_ptr<detail::Engine> engine) : engine_(std::move(engine)) {}

Result<Stream> Stream::open(const Stream_Request& request)
{
    auto engine = std::make_unique<detail::Engine>();
    if (auto opened = engine->open(request); !opened)
        return opened.error();
    return Result<Stream>(Stream(std::move(engine)));
}

Stream::Stream(Stream&& other) noexcept : engine_(std::move(other.engine_)) {}

Stream::~Stream()
{
    abort();
}

Result<void> Stream::start(Processor& processor)
{
    if (!engine_)
        return Error{"cannot start a stream already closed", Error::Kind::host};
    return engine_->start(processor);
}

bool Stream::active() const
{
    return engine_ && engine_->active();
}

std::optional<Error> Stream::failure() const
{
    return engine_ ? engine_->failure() : std::nullopt;
}

Result<void> Stream::stop()
{
    return engine_ ? engine_->finish(true) : Result<void>();
}

Result<void> Stream::abort()
{
    return engine_ ? engine_->finish(false) : Result<void>();
}

void Stream::abandon()
{
    if (!engine_)
        return;
    engine_->abandon();
    // The thread may yet run on a host that only stalled.
    static_cast<void>(engine_.release());
}

namespace {
const std::string kNone;
}

long Stream::rate() const
{
    return engine_ ? engine_->rate : 0;
}
int Stream::output_channels() const
{
    return engine_ && engine_->has_out ? engine_->out.channels : 0;
}
int Stream::input_channels() const
{
    return engine_ && engine_->has_in ? engine_->in.channels : 0;
}
const std::string& Stream::output_name() const
{
    return engine_ && engine_->has_out ? engine_->out.name : kNone;
}
const std::string& Stream::input_name() const
{
    return engine_ && engine_->has_in ? engine_->in.name : kNone;
}
const std::string& Stream::output_id() const
{
    return engine_ && engine_->has_out ? engine_->out.id : kNone;
}
const std::string& Stream::input_id() const
{
    return engine_ && engine_->has_in ? engine_->in.id : kNone;
}
Drive Stream::drive() const
{
    return engine_ ? engine_->drive : Drive::polling;
}
unsigned long Stream::output_buffer_frames() const
{
    return engine_ && engine_->has_out ? engine_->out.buffer_frames : 0;
}
unsigned long Stream::input_buffer_frames() const
{
    return engine_ && engine_->has_in ? engine_->in.buffer_frames : 0;
}
unsigned long Stream::period_frames() const
{
    if (!engine_)
        return 0;
    return engine_->has_in ? engine_->in.period_frames : engine_->out.period_frames;
}
std::optional<Frame_Time> Stream::output_time(std::uint64_t frame) const
{
    return engine_ && engine_->has_out ? engine_->output_time(frame) : std::nullopt;
}
std::optional<Frame_Time> Stream::input_time(std::uint64_t frame) const
{
    return engine_ && engine_->has_in ? engine_->input_time(frame) : std::nullopt;
}
Losses Stream::losses() const
{
    return engine_ ? engine_->losses() : Losses{};
}

}  // namespace kova::live::wasapi

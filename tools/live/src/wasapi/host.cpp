// The host API of the Windows build: WASAPI behind the interface the live
// commands ask of any host (kova/live/host.h). A stream opens in shared
// mode, which runs only at the endpoint's mix rate and refuses any other
// naming it, unless the request asks for exclusive mode; the drive is the
// layer's choice.

#include "kova/live/host.h"

#include <initializer_list>
#include <optional>
#include <utility>

#include "kova/live/wasapi/devices.h"
#include "kova/live/wasapi/session.h"
#include "kova/live/wasapi/stream.h"

namespace kova::live {
namespace wasapi {
namespace {

std::optional<wasapi::Endpoint> endpoint(const std::optional<live::Endpoint>& asked)
{
    if (!asked)
        return std::nullopt;
    // Windows offers no plugin that takes any rate: trust_plugin has
    // nothing to trust here.
    wasapi::Endpoint e;
    e.device = asked->device;
    e.channels = asked->channels;
    return e;
}

class Wasapi_Stream final : public live::Stream {
public:
    explicit Wasapi_Stream(wasapi::Stream stream) : stream_(std::move(stream)) {}

    Result<void> start(Processor& processor) override { return stream_.start(processor); }
    bool active() const override { return stream_.active(); }
    std::optional<Error> failure() const override { return stream_.failure(); }
    // The stream's thread is the layer's own and waits on nothing without
    // a timeout, so a stop ends in bounded time of itself.
    Result<void> stop() override { return stream_.stop(); }
    Result<void> abort() override { return stream_.abort(); }
    void abandon() override
    {
        stream_.abandon();
        note_host_let_go();
    }

    long rate() const override { return stream_.rate(); }
    int output_channels() const override { return stream_.output_channels(); }
    int input_channels() const override { return stream_.input_channels(); }
    const std::string& output_name() const override { return stream_.output_name(); }
    const std::string& input_name() const override { return stream_.input_name(); }
    std::uint64_t output_buffer_frames() const override { return stream_.output_buffer_frames(); }
    std::uint64_t input_buffer_frames() const override { return stream_.input_buffer_frames(); }
    std::optional<Frame_Time> output_time(std::uint64_t frame) const override
    {
        return stream_.output_time(frame);
    }
    std::optional<Frame_Time> input_time(std::uint64_t frame) const override
    {
        return stream_.input_time(frame);
    }

private:
    wasapi::Stream stream_;
};

class Wasapi_Host final : public Host {
public:
    // COM is left running once a stream has been let go of: its thread may
    // still be inside it.
    ~Wasapi_Host() override
    {
        if (host_let_go())
            session_.abandon();
    }

    const std::string& error() const override { return session_.error(); }

    Result<std::string> device_table() override
    {
        const auto devices = list_devices();
        if (devices.empty())
            return Error{"Windows offers no active audio endpoint"};
        return wasapi::device_table(devices);
    }

    // Windows makes a render and a capture endpoint two devices even on one
    // card, so that two names are one device only when they name one
    // endpoint.
    Result<std::string> device_id(const std::string& name, Direction direction) override
    {
        const auto found = find_device(name, direction);
        if (!found)
            return found.error();
        return found->id;
    }

    Result<std::unique_ptr<live::Stream>> open(const live::Stream_Request& request) override
    {
        wasapi::Stream_Request r;
        r.output = endpoint(request.output);
        r.input = endpoint(request.input);
        r.rate = request.rate;
        r.frames_per_buffer = request.frames_per_buffer;
        if (request.exclusive)
            r.share = Share::exclusive;
        // A device in exclusive mode takes the formats its driver has: the
        // first that carries every word exactly, float first as in shared
        // mode. A refusal of all three is the first one's.
        std::optional<Error> first_refusal;
        for (const auto encoding :
             {Sample_Encoding::float32, Sample_Encoding::int32, Sample_Encoding::int24}) {
            r.encoding = encoding;
            auto opened = wasapi::Stream::open(r);
            if (opened)
                return std::unique_ptr<live::Stream>(std::make_unique<Wasapi_Stream>(std::move(*opened)));
            if (!request.exclusive || opened.error().kind != Error::Kind::refused)
                return opened.error();
            if (!first_refusal)
                first_refusal = opened.error();
        }
        return *first_refusal;
    }

private:
    Session session_;
};

}  // namespace
}  // namespace wasapi

// The client name is PortAudio's for JACK; WASAPI shows the process.
std::unique_ptr<Host> open_host(const char*)
{
    return std::make_unique<wasapi::Wasapi_Host>();
}

}  // namespace kova::live

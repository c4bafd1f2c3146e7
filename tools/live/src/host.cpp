// What every host API shares: the device table for --list-devices, and
// the process's leave once a stream was let go of.

#include "kova/live/host.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "kova/cli/exit_status.h"
#include "kova/cli/standard_fds.h"

namespace kova::live {
namespace {

std::atomic<bool> let_go{false};

}  // namespace

bool host_let_go()
{
    return let_go.load(std::memory_order_acquire);
}

void note_host_let_go()
{
    let_go.store(true, std::memory_order_release);
}

Result<bool> Host::same_device(const std::string& output, const std::string& input)
{
    const auto out = device_id(output, Direction::output);
    if (!out)
        return out.error();
    const auto in = device_id(input, Direction::input);
    if (!in)
        return in.error();
    return *out == *in;
}

int print_devices(const char* client_name, const std::function<void(const std::string&)>& complain)
{
    const auto host = open_host(client_name);
    if (!host->error().empty()) {
        complain(host->error());
        return cli::kUsageError;
    }
    const auto table = host->device_table();
    if (!table) {
        complain(table.error().message);
        return cli::kUsageError;
    }
    if (!cli::write_standard_output(*table)) {
        complain(cli::output_error().message);
        return cli::kUsageError;
    }
    return cli::kSuccess;
}

int leave_with(int status)
{
    if (!host_let_go())
        return status;
    std::fflush(nullptr);
    _exit(status);
}

}  // namespace kova::live

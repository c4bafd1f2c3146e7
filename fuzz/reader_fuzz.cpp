// kova-check's reader given arbitrary bytes: as a named regular file, where
// AIFF, FLAC and CAF go to libsndfile, and as a stream on standard input,
// which our own parser alone reads. Neither may crash or touch memory it
// should not; where both read the bytes to their end, they must have found
// the same capture.

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "kova/report/reader.h"
#include "report_compare.h"

namespace {

using kova::report::Capture;
using kova::report::read_capture;
using kova::report::Result;

// An unnamed file in memory, opened again by its /proc name: a named regular
// file to the reader, and nothing left behind however the run ends.
int file_fd = -1;
std::string file_path;
int null_fd = -1;

[[noreturn]] void fail(const char* what)
{
    std::perror(what);
    std::abort();
}

bool write_all(int fd, const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

Result<Capture> read_as_file(const std::uint8_t* data, std::size_t size)
{
    if (ftruncate(file_fd, 0) != 0 || lseek(file_fd, 0, SEEK_SET) != 0 || !write_all(file_fd, data, size))
        fail("reader_fuzz: writing the file");
    return read_capture(file_path);
}

// Standard input is a pipe that a thread fills and then closes, so that the
// stream ends where the bytes do. A reader that stops early does not leave the
// writer waiting: the pipe's last reader goes with standard input, and the
// writer's next write fails (SIGPIPE is ignored).
Result<Capture> read_as_stream(const std::uint8_t* data, std::size_t size)
{
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0)
        fail("reader_fuzz: pipe");
    std::thread writer([&] {
        write_all(p[1], data, size);
        ::close(p[1]);
    });
    if (dup2(p[0], STDIN_FILENO) < 0)
        fail("reader_fuzz: dup2");
    ::close(p[0]);
    Result<Capture> c = read_capture("-");
    if (dup2(null_fd, STDIN_FILENO) < 0)
        fail("reader_fuzz: dup2");
    writer.join();
    return c;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::signal(SIGPIPE, SIG_IGN);
    file_fd = memfd_create("kova-reader-fuzz", MFD_CLOEXEC);
    null_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (file_fd < 0 || null_fd < 0)
        fail("reader_fuzz: setting up");
    file_path = "/proc/self/fd/" + std::to_string(file_fd);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto read_file = read_as_file(data, size);
    auto read_stream = read_as_stream(data, size);
    // A stream takes a 32-bit size near 2 GiB as left open where a file is
    // held to it, and refuses what libsndfile reads; past that the two agree.
    if (!read_file || !read_stream)
        return 0;
    const Capture& file = *read_file;
    const Capture& stream = *read_stream;
    kova::fuzz::Report_Compare compare("as a file", "as a stream", std::to_string(size) + " bytes");
    compare.value("container", file.format.container, stream.format.container);
    compare.value("sample format", file.format.sample_format, stream.format.sample_format);
    compare.value("rate", file.format.rate, stream.format.rate);
    compare.value("channels", file.format.channels, stream.format.channels);
    compare.value("frames", file.format.frames, stream.format.frames);
    compare.reports(file.channels, stream.channels);
    return 0;
}

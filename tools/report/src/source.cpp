#include "kova/report/source.h"

#ifdef _WIN32
#include <io.h>

#include "kova/cli/windows.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>

#include "byte_input.h"
#include "sndfile_source.h"
#include "wave_source.h"

namespace kova::report {
namespace {

constexpr int kStandardInput = 0;

cli::Fd open_named(const std::string& path)
{
#ifdef _WIN32
    return cli::windows::open_for_reading(path);
#else
    return cli::Fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
#endif
}

// A regular file tells how much it holds, from where reading starts
// (standard input may have been read into already); a stream, nothing.
// False with errno set where the descriptor cannot be asked.
bool bytes_left(int fd, std::optional<std::uint64_t>& size)
{
#ifdef _WIN32
    if (cli::windows::file_kind(fd) != cli::windows::File_Kind::disk)
        return true;
    const long long at = _lseeki64(fd, 0, SEEK_CUR);
    const long long length = _filelengthi64(fd);
    if (length < 0)
        return false;
    size = static_cast<std::uint64_t>(length > at && at >= 0 ? length - at : 0);
#else
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return false;
    if (S_ISREG(st.st_mode)) {
        const off_t at = lseek(fd, 0, SEEK_CUR);
        size = static_cast<std::uint64_t>(st.st_size > at && at >= 0 ? st.st_size - at : 0);
    }
#endif
    return true;
}

}  // namespace

Opened open_source(const std::string& path)
{
    const bool standard_input = path == "-";
    cli::Fd fd = standard_input ? cli::Fd::borrowed(kStandardInput) : open_named(path);
    std::optional<std::uint64_t> size;
    if (!fd || !bytes_left(fd.get(), size))
        return Error{std::strerror(errno)};
    auto input = std::make_unique<Byte_Input>(std::move(fd), size);

    const unsigned char* head;
    const std::size_t n = input->peek(head, 16);
    if (input->error() != 0)
        return Error{std::strerror(input->error())};
    if (n == 0)
        return Error{size ? "empty file" : "empty stream"};
    if (looks_like_wave(head, n))
        return open_wave(std::move(input));
    // libsndfile gets a file it may seek in, never a stream.
    const bool named_file = !standard_input && size;
    if (named_file && looks_like_sndfile(head, n))
        return open_sndfile(std::move(input));
    return Error{named_file ? "not a WAV, RF64, W64, AIFF, FLAC or CAF file"
                            : "not a WAV, RF64 or W64 stream"};
}

bool host_is_big_endian()
{
    const std::uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first == 0;
}

std::string sample_format_name(const analysis::Sample_Format& format)
{
    return std::to_string(format.bits) +
           (format.encoding == analysis::Encoding::ieee_float ? "-bit float" : "-bit int");
}

}  // namespace kova::report

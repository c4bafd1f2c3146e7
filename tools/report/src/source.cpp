#include "kova/report/source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "byte_input.h"
#include "sndfile_source.h"
#include "wave_source.h"

namespace kova::report {

Opened open_source(const std::string& path)
{
    const bool standard_input = path == "-";
    cli::Fd fd = standard_input ? cli::Fd::borrowed(STDIN_FILENO)
                                : cli::Fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd || fstat(fd.get(), &st) != 0)
        return Error{std::strerror(errno)};
    // A regular file tells how much it holds, from where reading starts
    // (standard input may have been read into already).
    std::optional<std::uint64_t> size;
    if (S_ISREG(st.st_mode)) {
        const off_t at = lseek(fd.get(), 0, SEEK_CUR);
        size = static_cast<std::uint64_t>(st.st_size > at && at >= 0 ? st.st_size - at : 0);
    }
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

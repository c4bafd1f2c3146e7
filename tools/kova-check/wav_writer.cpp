#include "wav_writer.h"

#ifdef _WIN32
#include <io.h>

#include "kova/cli/windows.h"
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <utility>

namespace kova::check {

namespace {

// RIFF, a JUNK chunk kept for ds64, fmt (WAVE_FORMAT_EXTENSIBLE), data.
constexpr std::size_t kJunkBytes = 28;  // ds64: RIFF size, data size, frames, an empty table
constexpr std::size_t kFmtBytes = 40;
constexpr std::size_t kHeaderBytes = 12 + 8 + kJunkBytes + 8 + kFmtBytes + 8;
constexpr std::uint32_t kUnknown = 0xFFFFFFFFu;  // "to the end of the file", and RF64's "see ds64"

void put16(unsigned char*& p, unsigned v)
{
    *p++ = static_cast<unsigned char>(v);
    *p++ = static_cast<unsigned char>(v >> 8);
}
void put32(unsigned char*& p, std::uint32_t v)
{
    put16(p, v & 0xFFFF);
    put16(p, v >> 16);
}
void put64(unsigned char*& p, std::uint64_t v)
{
    put32(p, static_cast<std::uint32_t>(v));
    put32(p, static_cast<std::uint32_t>(v >> 32));
}
void put_id(unsigned char*& p, const char* id)
{
    std::memcpy(p, id, 4);
    p += 4;
}

}  // namespace

cli::Result<Wav_Writer> Wav_Writer::create(const std::string& path, long rate, int channels,
                                           std::uint64_t riff_limit)
{
    Wav_Writer w;
    w.path_ = path;
    w.channels_ = channels;
    w.riff_limit_ = riff_limit;
    // Created here or refused, never an existing file truncated.
#ifdef _WIN32
    w.fd_ = cli::windows::create_new(path);
#else
    w.fd_ = cli::Fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
#endif
    if (!w.fd_)
        return w.failure("cannot create ", errno);

    unsigned char header[kHeaderBytes];
    unsigned char* p = header;
    put_id(p, "RIFF");
    put32(p, kUnknown);
    put_id(p, "WAVE");
    put_id(p, "JUNK");
    put32(p, kJunkBytes);
    std::memset(p, 0, kJunkBytes);
    p += kJunkBytes;
    put_id(p, "fmt ");
    put32(p, kFmtBytes);
    const auto block = static_cast<unsigned>(channels) * 4;
    put16(p, 0xFFFE);  // WAVE_FORMAT_EXTENSIBLE
    put16(p, static_cast<unsigned>(channels));
    put32(p, static_cast<std::uint32_t>(rate));
    put32(p, static_cast<std::uint32_t>(rate) * block);
    put16(p, block);
    put16(p, 32);
    put16(p, 22);  // the extension's size
    put16(p, 32);  // valid bits
    put32(p, 0);   // no speaker positions: the channels are what the device calls them
    // KSDATAFORMAT_SUBTYPE_IEEE_FLOAT
    static const unsigned char kFloatGuid[16] = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                                 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    std::memcpy(p, kFloatGuid, 16);
    p += 16;
    put_id(p, "data");
    put32(p, kUnknown);
    if (!w.put(header, kHeaderBytes))
        return w.failure("cannot write ", errno);
    return cli::Result<Wav_Writer>(std::move(w));
}

cli::Result<void> Wav_Writer::write(const float* frames, std::size_t count)
{
    const std::size_t n = count * static_cast<std::size_t>(channels_) * sizeof(float);
    if (!put(reinterpret_cast<const unsigned char*>(frames), n))
        return failure("cannot write ", errno);
    data_bytes_ += n;
    return {};
}

cli::Result<void> Wav_Writer::close()
{
    if (!fd_)
        return {};
    const std::uint64_t riff = kHeaderBytes - 8 + data_bytes_;
    const bool rf64 = riff > riff_limit_;
    unsigned char head[12 + 8 + kJunkBytes];
    unsigned char* p = head;
    put_id(p, rf64 ? "RF64" : "RIFF");
    put32(p, rf64 ? kUnknown : static_cast<std::uint32_t>(riff));
    put_id(p, "WAVE");
    put_id(p, rf64 ? "ds64" : "JUNK");
    put32(p, kJunkBytes);
    if (rf64) {
        put64(p, riff);
        put64(p, data_bytes_);
        put64(p, data_bytes_ / (4 * static_cast<std::uint64_t>(channels_)));
        put32(p, 0);
    } else {
        std::memset(p, 0, kJunkBytes);
    }
    unsigned char data_size[4];
    p = data_size;
    put32(p, rf64 ? kUnknown : static_cast<std::uint32_t>(data_bytes_));

    const bool ok = put(head, sizeof head, 0) && put(data_size, sizeof data_size, kHeaderBytes - 4);
    const int saved = errno;
    const int closed = fd_.close();
    if (!ok || closed != 0)
        return failure("cannot finish ", ok ? closed : saved);
    return {};
}

bool Wav_Writer::put(const unsigned char* bytes, std::size_t n, long long offset)
{
    while (n > 0) {
#ifdef _WIN32
        // Only the header is written at an offset, once, at the end.
        if (offset >= 0 && _lseeki64(fd_.get(), offset, SEEK_SET) != offset)
            return false;
        const int chunk = static_cast<int>(n < (1u << 30) ? n : (1u << 30));
        const int done = ::_write(fd_.get(), bytes, static_cast<unsigned>(chunk));
#else
        const ssize_t done = offset < 0 ? ::write(fd_.get(), bytes, n)
                                        : ::pwrite(fd_.get(), bytes, n, static_cast<off_t>(offset));
#endif
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            if (done == 0)
                errno = EIO;
            return false;
        }
        bytes += done;
        n -= static_cast<std::size_t>(done);
        if (offset >= 0)
            offset += done;
    }
    return true;
}

cli::Error Wav_Writer::failure(const std::string& what, int err) const
{
    return cli::Error{what + path_ + ": " + std::strerror(err ? err : EIO)};
}

}  // namespace kova::check

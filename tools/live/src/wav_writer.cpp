#include "kova/live/wav_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "kova/live/host_samples.h"

namespace kova::live {

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

Expected<Wav_Writer> Wav_Writer::create(const std::string& path, long rate, int channels,
                                        std::uint64_t riff_limit)
{
    Wav_Writer w;
    w.path_ = path;
    w.channels_ = channels;
    w.riff_limit_ = riff_limit;
    // Created here or refused, never an existing file truncated.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0)
        w.file_.reset(fdopen(fd, "wb"));
    if (!w.file_) {
        const int saved = errno;
        if (fd >= 0)
            ::close(fd);
        return Error{Error::Kind::file, "cannot create " + path + ": " + std::strerror(saved)};
    }

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
    if (std::fwrite(header, 1, kHeaderBytes, w.file_.get()) != kHeaderBytes)
        return w.failure("cannot write ");
    return Expected<Wav_Writer>(std::move(w));
}

Status Wav_Writer::write(const float* frames, std::size_t count)
{
    const std::size_t n = count * static_cast<std::size_t>(channels_);
    if (std::fwrite(frames, sizeof(float), n, file_.get()) != n)
        return failure("cannot write ");
    data_bytes_ += n * sizeof(float);
    return std::nullopt;
}

Status Wav_Writer::close()
{
    if (!file_)
        return std::nullopt;
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

    std::FILE* f = file_.get();
    const bool ok = std::fflush(f) == 0 && std::fseek(f, 0, SEEK_SET) == 0 &&
                    std::fwrite(head, 1, sizeof head, f) == sizeof head &&
                    std::fseek(f, static_cast<long>(kHeaderBytes - 4), SEEK_SET) == 0 &&
                    std::fwrite(data_size, 1, sizeof data_size, f) == sizeof data_size && std::fflush(f) == 0;
    const int saved = errno;
    const bool closed = std::fclose(file_.release()) == 0;
    if (!ok || !closed) {
        errno = ok ? errno : saved;
        return failure("cannot finish ");
    }
    return std::nullopt;
}

Error Wav_Writer::failure(const std::string& what) const
{
    return Error{Error::Kind::file, what + path_ + ": " + std::strerror(errno ? errno : EIO)};
}

}  // namespace kova::live

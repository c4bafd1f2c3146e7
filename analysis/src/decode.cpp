#include "decode.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "target_clones.h"

namespace kova::analysis::detail {
namespace {

// A float sample of 1.0 is 2^23 steps.
constexpr double kFloatSteps = 8388608.0;

std::uint64_t load(const unsigned char* p, int bytes, bool big_endian)
{
    std::uint64_t v = 0;
    if (big_endian)
        for (int i = 0; i < bytes; ++i) v = v << 8 | p[i];
    else
        for (int i = bytes; i-- > 0;) v = v << 8 | p[i];
    return v;
}

// 24-bit little-endian: four bytes loaded at once, the fourth shifted out;
// the last sample alone, so as never to read past the end.
KOVA_TARGET_CLONES("arch=x86-64-v4", "avx2", "default")
void decode_24le(const unsigned char* p, std::size_t stride, std::size_t count, double* out)
{
    if (count == 0)
        return;
    for (std::size_t i = 0; i + 1 < count; ++i) {
        std::uint32_t u;
        std::memcpy(&u, p + i * stride, sizeof u);
        out[i] = static_cast<double>(static_cast<std::int32_t>(u << 8) >> 8);
    }
    const unsigned char* q = p + (count - 1) * stride;
    out[count - 1] = static_cast<double>(static_cast<std::int32_t>(static_cast<std::uint32_t>(q[0]) << 8 |
                                                                   static_cast<std::uint32_t>(q[1]) << 16 |
                                                                   static_cast<std::uint32_t>(q[2]) << 24) >>
                                         8);
}

KOVA_TARGET_CLONES("arch=x86-64-v4", "avx2", "default")
void decode_16le(const unsigned char* p, std::size_t stride, std::size_t count, double* out)
{
    if (stride == 2) {
        // Contiguous: a plain loop the compiler turns into vector code.
        for (std::size_t i = 0; i < count; ++i) {
            std::int16_t s;
            std::memcpy(&s, p + 2 * i, sizeof s);
            out[i] = static_cast<double>(s) * 256.0;
        }
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        std::int16_t s;
        std::memcpy(&s, p + i * stride, sizeof s);
        out[i] = static_cast<double>(s) * 256.0;
    }
}

// The same into 24-bit steps as integers. Two channels' worth in four bytes
// a sample (the stereo frame) loads whole: the other channel's half shifted
// out, the last sample alone so as never to read past the end.
__attribute__((always_inline)) inline void whole_16le_scalar(const unsigned char* p, std::size_t stride,
                                                             std::size_t count, std::int32_t* out)
{
    if (stride == 2) {
        for (std::size_t i = 0; i < count; ++i) {
            std::int16_t s;
            std::memcpy(&s, p + 2 * i, sizeof s);
            out[i] = s * 256;
        }
        return;
    }
    if (stride == 4 && count > 0) {
        for (std::size_t i = 0; i + 1 < count; ++i) {
            std::uint32_t u;
            std::memcpy(&u, p + 4 * i, sizeof u);
            out[i] = static_cast<std::int32_t>(u << 16) >> 8;
        }
        std::int16_t s;
        std::memcpy(&s, p + 4 * (count - 1), sizeof s);
        out[count - 1] = s * 256;
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        std::int16_t s;
        std::memcpy(&s, p + i * stride, sizeof s);
        out[i] = s * 256;
    }
}

#ifdef KOVA_TARGET_WIDE
typedef std::int16_t Halves32 __attribute__((vector_size(64)));
typedef std::int16_t Halves8 __attribute__((vector_size(16)));
typedef std::int32_t Whole8 __attribute__((vector_size(32)));

// Wider frames (three to eight channels): eight samples picked at once out
// of the 128 bytes from the first, where those bytes end within the
// samples' own (up to the last one's last byte).
KOVA_TARGET_WIDE void whole_16le(const unsigned char* p, std::size_t stride, std::size_t count,
                                 std::int32_t* out)
{
    std::size_t i = 0;
    if (stride > 4 && stride <= 16 && stride % 2 == 0 && count * stride >= 128 + stride) {
        Halves32 pick;
        for (int k = 0; k < 32; ++k) pick[k] = static_cast<std::int16_t>(k < 8 ? k * stride / 2 : 0);
        const std::size_t last = (count - 1) * stride + 2;
        for (; i * stride + 128 <= last; i += 8) {
            Halves32 a, b;
            std::memcpy(&a, p + i * stride, sizeof a);
            std::memcpy(&b, p + i * stride + 64, sizeof b);
            const Halves32 c = __builtin_shuffle(a, b, pick);
            Halves8 h;
            std::memcpy(&h, &c, sizeof h);
            const Whole8 v = __builtin_convertvector(h, Whole8) * 256;
            std::memcpy(out + i, &v, sizeof v);
        }
    }
    whole_16le_scalar(p + i * stride, stride, count - i, out + i);
}

__attribute__((target("avx2"))) void whole_16le(const unsigned char* p, std::size_t stride, std::size_t count,
                                                std::int32_t* out)
{
    whole_16le_scalar(p, stride, count, out);
}
#endif

KOVA_TARGET_DEFAULT void whole_16le(const unsigned char* p, std::size_t stride, std::size_t count,
                                    std::int32_t* out)
{
    whole_16le_scalar(p, stride, count, out);
}

}  // namespace

Decoder::Decoder(const Sample_Format& format)
    : format_(format), is_float_(format.encoding == Encoding::ieee_float)
{
    const int bits = format.bits > 0 && format.bits <= 8 * format.bytes ? format.bits : 8 * format.bytes;
    quantum_ = is_float_ ? 0.0 : std::ldexp(1.0, 24 - bits);
    // Bits stored below the significant ones are ignored, where the words
    // themselves have none there (their low 9 bits are zero).
    word_width_ = !is_float_ && bits < 8 * format.bytes && quantum_ <= 512.0 ? quantum_ : 0.0;
    scale_ = std::ldexp(1.0, 24 - 8 * format.bytes);
}

double Decoder::decode_one(const unsigned char* p) const
{
    const std::uint64_t u = load(p, format_.bytes, format_.big_endian);
    if (is_float_) {
        double v;
        if (format_.bytes == 4) {
            float f;
            const auto u32 = static_cast<std::uint32_t>(u);
            std::memcpy(&f, &u32, sizeof f);
            v = f;
        } else {
            std::memcpy(&v, &u, sizeof v);
        }
        v *= kFloatSteps;
        return std::isfinite(v) ? v : std::numeric_limits<double>::quiet_NaN();
    }
    const int width = 8 * format_.bytes;
    std::int64_t s;
    if (format_.encoding == Encoding::unsigned_int) {
        s = static_cast<std::int64_t>(u) - (std::int64_t{1} << (width - 1));
    } else {
        // Sign-extend from the stored width.
        const std::uint64_t sign = std::uint64_t{1} << (width - 1);
        s = static_cast<std::int64_t>((u ^ sign) - sign);
    }
    return static_cast<double>(s) * scale_;
}

std::size_t Decoder::decode(Raw_View raw, std::size_t count, double* out) const
{
    std::size_t nonfinite = 0;
    const unsigned char* p = raw.data;
    // The common layouts get a loop of their own; the rest go sample by sample.
    if (!format_.big_endian && format_.encoding == Encoding::signed_int && format_.bytes == 3) {
        decode_24le(p, raw.stride, count, out);
        return 0;
    }
    if (!format_.big_endian && format_.encoding == Encoding::signed_int && format_.bytes == 2) {
        decode_16le(p, raw.stride, count, out);
        return 0;
    }
    if (!format_.big_endian && is_float_ && format_.bytes == 4) {
        for (std::size_t i = 0; i < count; ++i, p += raw.stride) {
            float f;
            std::memcpy(&f, p, sizeof f);
            out[i] = static_cast<double>(f) * kFloatSteps;
            nonfinite += !std::isfinite(f);
        }
        if (nonfinite)
            for (std::size_t i = 0; i < count; ++i)
                if (!std::isfinite(out[i]))
                    out[i] = std::numeric_limits<double>::quiet_NaN();
        return nonfinite;
    }
    for (std::size_t i = 0; i < count; ++i, p += raw.stride) {
        out[i] = decode_one(p);
        nonfinite += std::isnan(out[i]);
    }
    return nonfinite;
}

void Decoder::decode_whole(Raw_View raw, std::size_t count, std::int32_t* out) const
{
    const unsigned char* p = raw.data;
    if (!format_.big_endian && format_.encoding == Encoding::signed_int && format_.bytes == 2) {
        whole_16le(p, raw.stride, count, out);
        return;
    }
    if (!format_.big_endian && format_.encoding == Encoding::signed_int && format_.bytes == 3 && count > 0) {
        for (std::size_t i = 0; i + 1 < count; ++i) {
            std::uint32_t u;
            std::memcpy(&u, p + i * raw.stride, sizeof u);
            out[i] = static_cast<std::int32_t>(u << 8) >> 8;
        }
        const unsigned char* q = p + (count - 1) * raw.stride;
        out[count - 1] = static_cast<std::int32_t>(static_cast<std::uint32_t>(q[0]) << 8 |
                                                   static_cast<std::uint32_t>(q[1]) << 16 |
                                                   static_cast<std::uint32_t>(q[2]) << 24) >>
                         8;
        return;
    }
    for (std::size_t i = 0; i < count; ++i, p += raw.stride)
        out[i] = static_cast<std::int32_t>(decode_one(p));
}

void Raw_Table::lay_out()
{
    const auto n = static_cast<std::size_t>(bytes);
    laid_out.resize((kLaidOut + static_cast<std::size_t>(period)) * n);
    for (std::size_t k = 0; k < kLaidOut + static_cast<std::size_t>(period); ++k)
        std::memcpy(laid_out.data() + k * n, value[k % static_cast<std::size_t>(period)], n);
}

bool Raw_Table::operator==(const Raw_Table& o) const
{
    if (period != o.period || bytes != o.bytes)
        return false;
    for (int k = 0; k < period; ++k)
        if (!same_sample(value[k], o.value[k], bytes))
            return false;
    return true;
}

std::size_t match_run(const Raw_Table& t, int phase, Raw_View raw, std::size_t count)
{
    const unsigned char* p = raw.data;
    const auto bytes = static_cast<std::size_t>(t.bytes);
    std::size_t i = 0;
    if (raw.stride == bytes && !t.laid_out.empty()) {
        // Contiguous: large compares while they match, to find the stretch
        // that holds the first difference.
        const unsigned char* expected = t.laid_out.data() + static_cast<std::size_t>(phase) * bytes;
        while (i < count) {
            const std::size_t n = std::min(count - i, Raw_Table::kLaidOut);
            if (std::memcmp(p + i * bytes, expected, n * bytes) != 0)
                break;
            i += n;  // kLaidOut is whole cycles: the phase is unchanged
        }
        if (i == count)
            return count;
        const std::size_t n = std::min(count - i, Raw_Table::kLaidOut);
        const unsigned char* q = p + i * bytes;
        std::size_t j = 0;
        while (j < n && same_sample(q + j * bytes, expected + j * bytes, t.bytes)) ++j;
        return i + j;
    }
    // Strided (a channel among others): each sample against its phase's
    // value as one integer.
    std::uint64_t want[12];
    for (int k = 0; k < t.period; ++k) want[k] = load(t.value[k], t.bytes, false);
    const std::size_t stride = raw.stride;
    int ph = phase;
    switch (t.bytes) {
        case 2:
            for (; i < count; ++i, ph = ph + 1 == t.period ? 0 : ph + 1)
                if (static_cast<std::uint64_t>(p[i * stride] | p[i * stride + 1] << 8) != want[ph])
                    break;
            return i;
        case 3:
            for (; i < count; ++i, ph = ph + 1 == t.period ? 0 : ph + 1) {
                const unsigned char* q = p + i * stride;
                if (static_cast<std::uint64_t>(q[0] | q[1] << 8 | q[2] << 16) != want[ph])
                    break;
            }
            return i;
        case 4:
            for (; i < count; ++i, ph = ph + 1 == t.period ? 0 : ph + 1) {
                std::uint32_t v;
                std::memcpy(&v, p + i * stride, sizeof v);
                if (v != want[ph])
                    break;
            }
            return i;
        default:
            for (; i < count; ++i, ph = ph + 1 == t.period ? 0 : ph + 1)
                if (!same_sample(p + i * stride, t.value[ph], t.bytes))
                    break;
            return i;
    }
}

}  // namespace kova::analysis::detail

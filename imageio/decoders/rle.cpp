#include <algorithm>
#include <cstring>

#include "imageio/decoders/decoder.h"

namespace tsx {

namespace {

// Writes as much of a run of count bytes as the output still holds and
// returns how many that was.
ptrdiff_t fillRun(uint8_t*& out, uint8_t* outEnd, uint8_t value, ptrdiff_t count)
{
    const ptrdiff_t n = std::min<ptrdiff_t>(count, outEnd - out);
    std::memset(out, value, size_t(n));
    out += n;
    return n;
}

}  // namespace

size_t TPackbitsRLE::Decode(std::span<const uint8_t>& src, std::span<uint8_t> dst)
{
    const uint8_t* in = src.data();
    const uint8_t* const inEnd = in + src.size();
    uint8_t* out = dst.data();
    uint8_t* const outEnd = out + dst.size();
    while (out < outEnd) {
        if (m_repeat > 0) {
            m_repeat -= int(fillRun(out, outEnd, m_value, m_repeat));
            continue;
        }
        if (m_literal > 0) {
            const int n = int(std::min<ptrdiff_t>({m_literal, outEnd - out, inEnd - in}));
            if (n == 0)
                break;
            std::memcpy(out, in, size_t(n));
            out += n;
            in += n;
            m_literal -= n;
            continue;
        }
        if (in == inEnd)
            break;
        const int control = int8_t(*in++);
        if (control >= 0) {
            m_literal = control + 1;
        } else if (control != -128) {
            if (in == inEnd)
                break;
            m_value = *in++;
            m_repeat = 1 - control;
        }
    }
    src = src.subspan(size_t(in - src.data()));
    return size_t(out - dst.data());
}

size_t TPCXRLE::Decode(std::span<const uint8_t>& src, std::span<uint8_t> dst)
{
    const uint8_t* in = src.data();
    const uint8_t* const inEnd = in + src.size();
    uint8_t* out = dst.data();
    uint8_t* const outEnd = out + dst.size();
    while (out < outEnd) {
        if (m_repeat > 0) {
            m_repeat -= int(fillRun(out, outEnd, m_value, m_repeat));
            continue;
        }
        if (in == inEnd)
            break;
        const uint8_t b = *in++;
        if (b < 0xC0) {
            *out++ = b;
        } else {
            if (in == inEnd)
                break;
            m_value = *in++;
            m_repeat = b & 63;
        }
    }
    src = src.subspan(size_t(in - src.data()));
    return size_t(out - dst.data());
}

size_t TSGIRLE::Decode(std::span<const uint8_t>& src, std::span<uint8_t> dst)
{
    const uint8_t* in = src.data();
    const uint8_t* const inEnd = in + src.size();
    uint8_t* out = dst.data();
    uint8_t* const outEnd = out + dst.size();
    // with 2-byte channels every control and value is a big-endian pair whose
    // first byte is the high byte we keep
    const ptrdiff_t step = m_bytes;
    while (out < outEnd && inEnd - in >= step) {
        const int control = in[step - 1];
        in += step;
        const int count = control & 0x7F;
        if (count == 0)
            break;
        if (control & 0x80) {
            const ptrdiff_t n = std::min<ptrdiff_t>({count, outEnd - out, (inEnd - in) / step});
            if (step == 1) {
                std::memcpy(out, in, size_t(n));
            } else {
                for (ptrdiff_t i = 0; i < n; ++i)
                    out[i] = in[i * step];
            }
            out += n;
            in += n * step;
            if (n < count)
                break;
        } else {
            if (inEnd - in < step)
                break;
            const uint8_t value = in[0];
            in += step;
            fillRun(out, outEnd, value, count);
        }
    }
    src = src.subspan(size_t(in - src.data()));
    return size_t(out - dst.data());
}

size_t TCUTRLE::Decode(std::span<const uint8_t>& src, std::span<uint8_t> dst)
{
    if (src.size() < 2)
        return 0;
    const uint8_t* in = src.data() + 2;  // the row's own length
    const uint8_t* const inEnd = src.data() + src.size();
    uint8_t* out = dst.data();
    uint8_t* const outEnd = out + dst.size();
    while (out < outEnd && in < inEnd) {
        const int control = *in++;
        const int count = control & 0x7F;
        if (control == 0)
            break;
        if (control & 0x80) {
            if (in == inEnd)
                break;
            fillRun(out, outEnd, *in++, count);
        } else {
            const ptrdiff_t n = std::min<ptrdiff_t>({count, outEnd - out, inEnd - in});
            std::memcpy(out, in, size_t(n));
            out += n;
            in += n;
        }
    }
    src = src.subspan(size_t(in - src.data()));
    return size_t(out - dst.data());
}

size_t TRLADecoder::Decode(std::span<const uint8_t>& src, std::span<uint8_t> dst)
{
    const uint8_t* in = src.data();
    const uint8_t* const inEnd = in + src.size();
    uint8_t* out = dst.data();
    uint8_t* const outEnd = out + dst.size();
    while (out < outEnd && in < inEnd) {
        const int control = int8_t(*in++);
        if (control < 0) {
            const ptrdiff_t n = std::min<ptrdiff_t>({-control, outEnd - out, inEnd - in});
            std::memcpy(out, in, size_t(n));
            out += n;
            in += n;
        } else {
            if (in == inEnd)
                break;
            fillRun(out, outEnd, *in++, control + 1);
        }
    }
    src = src.subspan(size_t(in - src.data()));
    return size_t(out - dst.data());
}

}  // namespace tsx

// The decompressors on their own: LZW round trips through our encoder, and
// the run-length rules, including data that ends early or runs past the end.
#include <gtest/gtest.h>

#include <random>

#include "imageio/decoders/decoder.h"
#include "raster/errors.h"
#include "tests/unit/decoders_support.h"

namespace tsx {
namespace {

using testing::Bytes;
using testing::lzwEncode;

// Runs and noise, so the LZW table fills, clears and grows through every width.
Bytes sampleBytes(size_t n, int alphabet, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < n) {
        const uint8_t v = uint8_t(rng() % unsigned(alphabet));
        const size_t run = rng() % 4 == 0 ? rng() % 40 : 1;
        out.insert(out.end(), std::min(run, n - out.size()), v);
    }
    return out;
}

Bytes decodeAll(TDecoder& d, const Bytes& packed, size_t wanted, size_t chunk)
{
    Bytes out(wanted);
    std::span<const uint8_t> src(packed);
    size_t done = 0;
    while (done < wanted) {
        const size_t n = std::min(chunk, wanted - done);
        const size_t got = d.Decode(src, std::span<uint8_t>(out.data() + done, n));
        done += got;
        if (got < n)
            break;
    }
    out.resize(done);
    return out;
}

std::string errorOf(TDecoder& d, const Bytes& packed, size_t wanted)
{
    try {
        decodeAll(d, packed, wanted, wanted);
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

TEST(LzwDecoders, RoundTripThroughEveryCodeWidthAndClear)
{
    for (size_t n : {size_t(1), size_t(300), size_t(5000), size_t(200000)}) {
        const Bytes input = sampleBytes(n, 256, unsigned(n));
        TTIFFLZW tiff;
        EXPECT_EQ(decodeAll(tiff, lzwEncode(input, 8, true, true), n, n), input) << "TIFF, " << n << " bytes";
        TTIFFLZW oldStyle(true);
        EXPECT_EQ(decodeAll(oldStyle, lzwEncode(input, 8, false, false), n, n), input) << "old TIFF, " << n;
        for (int minCodeSize : {2, 5, 8}) {
            const Bytes small = sampleBytes(n, 1 << minCodeSize, unsigned(n + minCodeSize));
            TGIFLZW gif(minCodeSize);
            EXPECT_EQ(decodeAll(gif, lzwEncode(small, minCodeSize, false, false), n, n), small)
                << "GIF, code size " << minCodeSize << ", " << n << " bytes";
        }
    }
}

TEST(LzwDecoders, StringsCarryOverBetweenRows)
{
    // long runs make strings far longer than the rows they are split across
    Bytes input(60000, 7);
    for (size_t i = 0; i < input.size(); i += 997)
        input[i] = uint8_t(i);
    const Bytes packed = lzwEncode(input, 8, true, true);
    for (size_t chunk : {size_t(1), size_t(13), size_t(4096)}) {
        TTIFFLZW lzw;
        EXPECT_EQ(decodeAll(lzw, packed, input.size(), chunk), input) << "rows of " << chunk;
    }
}

TEST(LzwDecoders, StopAtTheEndCodeOrTheEndOfData)
{
    const Bytes input = sampleBytes(3000, 256, 5);
    Bytes packed = lzwEncode(input, 8, true, true);
    Bytes trailing = packed;
    trailing.insert(trailing.end(), 50, 0xFF);
    TTIFFLZW a;
    EXPECT_EQ(decodeAll(a, trailing, 4000, 4000), input) << "bytes after the end code are not data";

    packed.resize(packed.size() / 2);
    TTIFFLZW b;
    const Bytes half = decodeAll(b, packed, input.size(), input.size());
    ASSERT_LT(half.size(), input.size());
    EXPECT_TRUE(std::equal(half.begin(), half.end(), input.begin()));
}

TEST(LzwDecoders, RejectCodesTheTableDoesNotHold)
{
    // clear, 'a', then 300 while the next free code is 258
    testing::ByteBuilder tiffCodes;
    {
        uint32_t buffer = 0;
        int bits = 0;
        for (int code : {256, int('a'), 300}) {
            buffer = buffer << 9 | uint32_t(code);
            bits += 9;
            while (bits >= 8) {
                tiffCodes.u8(int(buffer >> (bits - 8)));
                bits -= 8;
            }
        }
        tiffCodes.u8(int(buffer << (8 - bits)));
    }
    TTIFFLZW tiff;
    EXPECT_EQ(errorOf(tiff, tiffCodes.bytes, 10), "TIF LZW: invalid opcode.");

    // minimum code size 2: clear 4, then 6 (not a single byte) straight after it
    TGIFLZW gif(2);
    EXPECT_EQ(errorOf(gif, Bytes{0x34}, 10), "GIF LZW: invalid opcode.");
}

TEST(RunLengthDecoders, PackBitsRunsLiteralsAndNoOps)
{
    const Bytes packed = {0x02, 'a', 'b', 'c', 0x80, 0xFD, 'x', 0x00, 'z'};
    TPackbitsRLE rle;
    EXPECT_EQ(decodeAll(rle, packed, 20, 20), (Bytes{'a', 'b', 'c', 'x', 'x', 'x', 'x', 'z'}));
    TPackbitsRLE split;
    EXPECT_EQ(decodeAll(split, packed, 8, 3), (Bytes{'a', 'b', 'c', 'x', 'x', 'x', 'x', 'z'}))
        << "runs and literals continue in the next row";
}

TEST(RunLengthDecoders, PcxRunsAreCutToWhatIsWanted)
{
    const Bytes packed = {0x05, 0xC3, 0x09, 0xC0, 0xFF, 0xC1, 0xC7};
    TPCXRLE rle;
    EXPECT_EQ(decodeAll(rle, packed, 20, 2), (Bytes{0x05, 0x09, 0x09, 0x09, 0xC7}));
    TPCXRLE cut;
    EXPECT_EQ(decodeAll(cut, Bytes{0xFF, 0x01}, 10, 10), Bytes(10, 0x01));
}

TEST(RunLengthDecoders, SgiRowsInOneAndTwoByteChannels)
{
    TSGIRLE bytes(1);
    EXPECT_EQ(decodeAll(bytes, Bytes{0x82, 1, 2, 0x03, 9, 0x00, 0x81, 5}, 10, 10), (Bytes{1, 2, 9, 9, 9}));
    TSGIRLE words(2);
    EXPECT_EQ(decodeAll(words, Bytes{0, 0x82, 0x12, 0x34, 0x56, 0x78, 0, 0x02, 0xAB, 0xCD, 0, 0}, 10, 10),
              (Bytes{0x12, 0x56, 0xAB, 0xAB}));
}

TEST(RunLengthDecoders, CutAndRlaRows)
{
    TCUTRLE cut;
    EXPECT_EQ(decodeAll(cut, Bytes{7, 0, 0x83, 4, 0x02, 1, 2, 0, 9}, 10, 10), (Bytes{4, 4, 4, 1, 2}));
    TRLADecoder rla;
    EXPECT_EQ(decodeAll(rla, Bytes{0xFE, 1, 2, 0x02, 7}, 10, 10), (Bytes{1, 2, 7, 7, 7}));
}

TEST(RunLengthDecoders, HostileInputStaysInsideBothBuffers)
{
    std::mt19937 rng(11);
    for (int round = 0; round < 300; ++round) {
        Bytes packed(rng() % 64);
        for (auto& b : packed)
            b = uint8_t(rng());
        const size_t wanted = rng() % 40;
        Bytes out(wanted + 8, 0xEE);
        TPackbitsRLE p;
        TPCXRLE x;
        TSGIRLE s1(1), s2(2);
        TCUTRLE c;
        TRLADecoder r;
        TGIFLZW g(3);
        TTIFFLZW t;
        for (TDecoder* d : std::initializer_list<TDecoder*>{&p, &x, &s1, &s2, &c, &r, &g, &t}) {
            std::fill(out.begin(), out.end(), 0xEE);
            std::span<const uint8_t> src(packed);
            size_t got = 0;
            try {
                got = d->Decode(src, std::span<uint8_t>(out.data(), wanted));
            } catch (const Error&) {
                continue;  // an invalid code is refused, never followed
            }
            EXPECT_LE(got, wanted);
            EXPECT_TRUE(std::all_of(out.begin() + ptrdiff_t(wanted), out.end(), [](uint8_t b) { return b == 0xEE; }));
        }
    }
}

}  // namespace
}  // namespace tsx

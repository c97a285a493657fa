#include "imageio/decoders/decode_support.h"

#include <cmath>

#include "imageio/picture.h"
#include "raster/errors.h"

namespace tsx::decode {

void fail(const char* message)
{
    throw Error(message);
}

void checkDimensions(int64_t width, int64_t height, const char* message)
{
    if (width <= 0 || height <= 0 || width > kMaxPicturePixels || height > kMaxPicturePixels
        || width * height > kMaxPicturePixels)
        fail(message);
}

void checkExpansion(int64_t unpackedBytes, int64_t packedBytes, int64_t maxRatio, const char* message)
{
    // a little slack so that tiny pictures with a few bytes of framing pass
    if (unpackedBytes > (packedBytes + 16) * maxRatio)
        fail(message);
}

int64_t lzwMaxOutput(int64_t packedBytes, int startCodeWidth)
{
    constexpr int64_t kLongestString = 4096;
    const int64_t codes = packedBytes * 8 / startCodeWidth + 1;
    if (codes > kLongestString)
        return codes * kLongestString;
    return codes * (codes + 1) / 2;
}

int64_t packedRowBytes(int64_t width, int64_t bitsPerPixel)
{
    return (width * bitsPerPixel + 7) / 8;
}

void setGreyRamp(TColorTable& table, int bitCount, bool whiteFirst)
{
    const int entries = 1 << bitCount;
    for (int i = 0; i < 256; ++i) {
        uint8_t v = 0;
        if (i < entries) {
            const int level = entries > 1 ? i * 255 / (entries - 1) : 0;
            v = uint8_t(whiteFirst ? 255 - level : level);
        }
        table[size_t(i)] = TRGBQuad{v, v, v, 0};
    }
}

void setStandardPalette16(TColorTable& table)
{
    static const uint8_t rgb[16][3] = {
        {0, 0, 0}, {128, 0, 0}, {0, 128, 0}, {128, 128, 0},
        {0, 0, 128}, {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
        {128, 128, 128}, {255, 0, 0}, {0, 255, 0}, {255, 255, 0},
        {0, 0, 255}, {255, 0, 255}, {0, 255, 255}, {255, 255, 255},
    };
    for (int i = 0; i < 16; ++i)
        table[size_t(i)] = TRGBQuad{rgb[i][2], rgb[i][1], rgb[i][0], 0};
}

void cmykToBgr(int c, int m, int y, int k, uint8_t* bgr)
{
    auto channel = [k](int ink) { return clampByte(255 - ink - k + (ink * k + 127) / 255); };
    bgr[0] = channel(y);
    bgr[1] = channel(m);
    bgr[2] = channel(c);
}

void cmyk16ToBgr(int c, int m, int y, int k, uint8_t* bgr)
{
    auto channel = [k](int ink) {
        const int64_t v = int64_t(ink) + k - int64_t(ink) * k / 65535;
        return clampByte(int(255 - (v >> 8)));
    };
    bgr[0] = channel(y);
    bgr[1] = channel(m);
    bgr[2] = channel(c);
}

void labToBgr(uint8_t lightness, int a, int b, uint8_t* bgr)
{
    const double l = lightness / 2.55;
    double x, y, z;
    if (l < 7.9996) {
        y = l / 903.3;
        x = y + a / 3893.5;
        z = y - b / 1557.4;
    } else {
        const double fy = (l + 16) / 116;
        const double fx = fy + a / 500.0;
        const double fz = fy - b / 200.0;
        x = fx * fx * fx;
        y = fy * fy * fy;
        z = fz * fz * fz;
    }
    // nearbyint rounds halves to even in the default rounding mode
    auto channel = [](double v) {
        const double r = std::nearbyint(255 * v);
        return r < 0 ? uint8_t(0) : r > 255 ? uint8_t(255) : uint8_t(r);
    };
    bgr[2] = channel(2.998 * x - 1.458 * y - 0.541 * z);
    bgr[1] = channel(-0.952 * x + 1.893 * y + 0.059 * z);
    bgr[0] = channel(0.099 * x - 0.198 * y + 1.099 * z);
}

}  // namespace tsx::decode

// Procedural photograph-like pictures for the sample ImageList and the demo
// source picture, and a small JPEG writer. Header-only so the benchmarks can
// make their own test folders with it; nothing here needs more than libjpeg.
#pragma once

#include <csetjmp>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace tsx::samples {

/// An RGB picture, rows top-down, 3 bytes a pixel in the order red, green, blue.
struct RgbImage {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;
    RgbImage(int w, int h) : width(w), height(h), pixels(size_t(w) * size_t(h) * 3) {}
    uint8_t* at(int x, int y) { return pixels.data() + (size_t(y) * size_t(width) + size_t(x)) * 3; }
};

struct Colour {
    double r = 0, g = 0, b = 0;
};

inline Colour mix(Colour a, Colour b, double t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

inline uint8_t toByte(double v) { return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : std::lround(v))); }

/// Hue in degrees, saturation and value in 0..1, to 0..255 channels.
inline Colour hsv(double h, double s, double v)
{
    h = std::fmod(std::fmod(h, 360.0) + 360.0, 360.0) / 60.0;
    const int sector = int(h);
    const double f = h - sector;
    const double p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
    double r = v, g = t, b = p;
    switch (sector) {
    case 1: r = q, g = v, b = p; break;
    case 2: r = p, g = v, b = t; break;
    case 3: r = p, g = q, b = v; break;
    case 4: r = t, g = p, b = v; break;
    case 5: r = v, g = p, b = q; break;
    default: break;
    }
    return {r * 255, g * 255, b * 255};
}

/// A small deterministic generator (splitmix64), so every build makes the
/// same pictures.
class Random {
public:
    explicit Random(uint64_t seed) : m_state(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint64_t next()
    {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double uniform() { return double(next() >> 11) * (1.0 / 9007199254740992.0); }
    double range(double lo, double hi) { return lo + (hi - lo) * uniform(); }

private:
    uint64_t m_state;
};

/// Smooth value noise in about 0..1, a few octaves over a random lattice.
class ValueNoise {
public:
    ValueNoise(Random& rnd, int octaves) : m_octaves(octaves)
    {
        for (double& v : m_lattice)
            v = rnd.uniform();
    }
    double operator()(double x, double y) const
    {
        double sum = 0, amplitude = 1, total = 0;
        for (int o = 0; o < m_octaves; ++o) {
            sum += amplitude * layer(x, y);
            total += amplitude;
            amplitude *= 0.5;
            x *= 2.03;
            y *= 2.03;
        }
        return sum / total;
    }

private:
    double lattice(int x, int y) const { return m_lattice[size_t((x & 63) * 64 + (y & 63))]; }
    double layer(double x, double y) const
    {
        const double fx = std::floor(x), fy = std::floor(y);
        const int ix = int(fx), iy = int(fy);
        double tx = x - fx, ty = y - fy;
        tx = tx * tx * (3 - 2 * tx);
        ty = ty * ty * (3 - 2 * ty);
        const double top = lattice(ix, iy) + (lattice(ix + 1, iy) - lattice(ix, iy)) * tx;
        const double bottom = lattice(ix, iy + 1) + (lattice(ix + 1, iy + 1) - lattice(ix, iy + 1)) * tx;
        return top + (bottom - top) * ty;
    }

    double m_lattice[64 * 64];
    int m_octaves;
};

inline void put(RgbImage& img, int x, int y, Colour c)
{
    uint8_t* p = img.at(x, y);
    p[0] = toByte(c.r);
    p[1] = toByte(c.g);
    p[2] = toByte(c.b);
}

/// Sky above a horizon, ground below, a sun and a soft haze.
inline void paintScene(RgbImage& img, Random& rnd, double hue)
{
    ValueNoise noise(rnd, 4);
    const Colour skyTop = hsv(hue + 200, rnd.range(0.3, 0.8), rnd.range(0.35, 0.9));
    const Colour skyLow = hsv(hue + rnd.range(-40, 40), rnd.range(0.2, 0.7), rnd.range(0.7, 1.0));
    const Colour groundNear = hsv(hue + rnd.range(60, 140), rnd.range(0.4, 0.9), rnd.range(0.15, 0.5));
    const Colour groundFar = hsv(hue + rnd.range(60, 140), rnd.range(0.2, 0.6), rnd.range(0.4, 0.75));
    const double horizon = rnd.range(0.45, 0.7);
    const double sunX = rnd.range(0.15, 0.85), sunY = horizon * rnd.range(0.2, 0.8);
    const double sunR = rnd.range(0.04, 0.1);
    const Colour sun = hsv(hue + 30, 0.25, 1.0);
    for (int y = 0; y < img.height; ++y) {
        const double v = double(y) / img.height;
        for (int x = 0; x < img.width; ++x) {
            const double u = double(x) / img.width;
            const double ridge = horizon + 0.08 * (noise(u * 4, 0.5) - 0.5);
            Colour c;
            if (v < ridge) {
                c = mix(skyTop, skyLow, v / ridge);
                const double d = std::hypot(u - sunX, (v - sunY) * img.height / img.width);
                c = mix(c, sun, std::exp(-d * d / (sunR * sunR)));
                c = mix(c, skyLow, 0.25 * noise(u * 3 + 7, v * 6));
            } else {
                const double t = (v - ridge) / (1 - ridge + 1e-9);
                c = mix(groundFar, groundNear, t);
                const double grain = noise(u * 12, v * 24) - 0.5;
                c = {c.r * (1 + grain * 0.5), c.g * (1 + grain * 0.5), c.b * (1 + grain * 0.5)};
            }
            put(img, x, y, c);
        }
    }
}

/// Soft round blobs of colour on a gradient background.
inline void paintBlobs(RgbImage& img, Random& rnd, double hue)
{
    const Colour a = hsv(hue, rnd.range(0.3, 0.9), rnd.range(0.3, 0.95));
    const Colour b = hsv(hue + rnd.range(-50, 50), rnd.range(0.2, 0.8), rnd.range(0.2, 0.9));
    struct Blob {
        double x, y, r;
        Colour c;
    };
    std::vector<Blob> blobs(size_t(3 + rnd.next() % 6));
    for (Blob& bl : blobs)
        bl = {rnd.uniform(), rnd.uniform(), rnd.range(0.08, 0.35),
              hsv(hue + rnd.range(-70, 70), rnd.range(0.2, 1.0), rnd.range(0.3, 1.0))};
    for (int y = 0; y < img.height; ++y) {
        for (int x = 0; x < img.width; ++x) {
            const double u = double(x) / img.width, v = double(y) / img.height;
            Colour c = mix(a, b, 0.5 * (u + v));
            for (const Blob& bl : blobs) {
                const double d = std::hypot(u - bl.x, v - bl.y) / bl.r;
                c = mix(c, bl.c, 0.85 * std::exp(-d * d * 2));
            }
            put(img, x, y, c);
        }
    }
}

/// Four corner colours blended smoothly, with a little film grain.
inline void paintGradient(RgbImage& img, Random& rnd, double hue)
{
    Colour corner[4];
    for (Colour& c : corner)
        c = hsv(hue + rnd.range(-45, 45), rnd.range(0.2, 1.0), rnd.range(0.15, 1.0));
    for (int y = 0; y < img.height; ++y) {
        for (int x = 0; x < img.width; ++x) {
            const double u = double(x) / (img.width - 1), v = double(y) / (img.height - 1);
            Colour c = mix(mix(corner[0], corner[1], u), mix(corner[2], corner[3], u), v);
            const double grain = (rnd.uniform() - 0.5) * 10;
            put(img, x, y, {c.r + grain, c.g + grain, c.b + grain});
        }
    }
}

/// A natural-looking texture (stone, foliage, clouds) from layered noise.
inline void paintTexture(RgbImage& img, Random& rnd, double hue)
{
    ValueNoise noise(rnd, 5);
    const Colour dark = hsv(hue + rnd.range(-20, 20), rnd.range(0.3, 1.0), rnd.range(0.05, 0.45));
    const Colour light = hsv(hue + rnd.range(-20, 20), rnd.range(0.1, 0.7), rnd.range(0.55, 1.0));
    const double scale = rnd.range(3, 9);
    const bool veined = rnd.uniform() < 0.4;
    for (int y = 0; y < img.height; ++y) {
        for (int x = 0; x < img.width; ++x) {
            const double u = double(x) / img.width * scale, v = double(y) / img.height * scale;
            double t = noise(u, v);
            if (veined)
                t = 0.5 + 0.5 * std::sin((u + 4 * t) * 3.0);
            put(img, x, y, mix(dark, light, t));
        }
    }
}

/// Gentle waves of two colours, like water or sand ripples.
inline void paintWaves(RgbImage& img, Random& rnd, double hue)
{
    ValueNoise noise(rnd, 3);
    const Colour a = hsv(hue, rnd.range(0.3, 0.9), rnd.range(0.3, 0.7));
    const Colour b = hsv(hue + rnd.range(-30, 30), rnd.range(0.1, 0.6), rnd.range(0.6, 1.0));
    const double freq = rnd.range(6, 20), tilt = rnd.range(-0.5, 0.5);
    for (int y = 0; y < img.height; ++y) {
        for (int x = 0; x < img.width; ++x) {
            const double u = double(x) / img.width, v = double(y) / img.height;
            const double t = 0.5 + 0.5 * std::sin((v + tilt * u + 0.1 * noise(u * 4, v * 4)) * freq);
            put(img, x, y, mix(a, b, t * t));
        }
    }
}

/// Picture number index of a set: kinds and dominant colours spread so the
/// set covers the colour wheel from dark to light, greys included.
inline RgbImage samplePicture(int index, int width, int height)
{
    Random rnd(uint64_t(index) + 1);
    RgbImage img(width, height);
    // golden-angle hues never bunch up, whatever the count
    const double hue = std::fmod(index * 137.508, 360.0);
    switch (index % 5) {
    case 0: paintScene(img, rnd, hue); break;
    case 1: paintBlobs(img, rnd, hue); break;
    case 2: paintGradient(img, rnd, hue); break;
    case 3: paintTexture(img, rnd, hue); break;
    default: paintWaves(img, rnd, hue); break;
    }
    if (index % 11 == 7) {
        // every eleventh picture is a black-and-white photograph
        for (size_t i = 0; i < img.pixels.size(); i += 3) {
            const int grey = (img.pixels[i] * 77 + img.pixels[i + 1] * 151 + img.pixels[i + 2] * 28) >> 8;
            img.pixels[i] = img.pixels[i + 1] = img.pixels[i + 2] = uint8_t(grey);
        }
    }
    return img;
}

/// The demo source picture: a sunset over hills and a lake.
inline RgbImage sourcePicture(int width, int height)
{
    Random rnd(20261208);
    ValueNoise noise(rnd, 5);
    RgbImage img(width, height);
    const Colour zenith{30, 40, 120}, glow{250, 140, 60}, sunCore{255, 240, 190};
    const Colour hillFar{90, 60, 110}, hillNear{30, 70, 40}, water{40, 70, 120};
    const double horizon = 0.55, lake = 0.78;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / width, v = double(y) / height;
            const double farRidge = horizon - 0.12 * noise(u * 3, 1.5);
            const double nearRidge = horizon + 0.05 - 0.15 * noise(u * 5 + 9, 4.5);
            Colour c;
            // the sky, also seen mirrored in the lake
            const double sv = v < lake ? v : 2 * lake - v;
            c = mix(zenith, glow, std::pow(std::min(1.0, sv / horizon), 1.6));
            const double d = std::hypot(u - 0.62, (sv - 0.42) * height / width);
            c = mix(c, sunCore, std::exp(-d * d / 0.004));
            c = mix(c, Colour{255, 200, 220}, 0.3 * std::max(0.0, noise(u * 4, sv * 10) - 0.45));
            if (sv > farRidge)
                c = mix(hillFar, c, 0.15);
            if (sv > nearRidge)
                c = mix(hillNear, Colour{120, 160, 60}, noise(u * 20, sv * 20));
            if (v >= lake)
                c = mix(c, water, 0.35 + 0.2 * noise(u * 2, v * 40));
            put(img, x, y, c);
        }
    }
    return img;
}

/// JPEG bytes of a picture at the given quality.
inline std::vector<uint8_t> encodeJpeg(const RgbImage& img, int quality = 88)
{
    struct ErrorManager {
        jpeg_error_mgr pub;
        std::jmp_buf jump;
    };
    jpeg_compress_struct cinfo{};
    ErrorManager err{};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<ErrorManager*>(c->err)->jump, 1); };
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::free(buffer);
        throw std::runtime_error("the JPEG compressor failed");
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(img.width);
    cinfo.image_height = JDIMENSION(img.height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(img.pixels.data() + size_t(cinfo.next_scanline) * size_t(img.width) * 3);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<uint8_t> out(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return out;
}

}  // namespace tsx::samples

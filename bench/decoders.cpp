// Decoding speed of the LZW formats against plain BMP loads of the same
// pictures: a 2048 × 1536 GIF against its 8-bit BMP, and an LZW TIFF with
// horizontal differencing against its 24-bit BMP. Each load includes the
// widening to 24 bits that LoadPicture does. Prints the time ratios.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>

#include "imageio/decoders/graphics.h"
#include "tests/unit/decoders_support.h"

namespace {

using tsx::testing::Bytes;
constexpr int kWidth = 2048, kHeight = 1536;

// Smooth shading with a little noise: compresses about as well as a photograph.
uint8_t shade(int x, int y, int channel, std::mt19937& rng)
{
    return uint8_t((x / 7 + y / 5 + channel * 60 + int(rng() % 6)) & 255);
}

Bytes bmpOf(const tsx::TDIB& dib)
{
    const std::vector<uint8_t> stored = dib.SaveStoredForm();
    tsx::testing::ByteBuilder b;
    b.text("BM").u32(uint32_t(14 + stored.size())).u32(0).u32(uint32_t(14 + stored.size() - size_t(dib.Size())));
    return b.append(stored).bytes;
}

struct Files {
    Bytes gif, gifBmp, tiff, tiffBmp;
};

const Files& files()
{
    static const Files f = [] {
        Files out;
        std::mt19937 rng(1);
        Bytes indices(size_t(kWidth) * kHeight);
        tsx::TDIB indexed;
        indexed.Allocate(kWidth, kHeight, 8);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                indices[size_t(y) * kWidth + size_t(x)] = indexed.RowPointer(y)[x] = shade(x, y, 0, rng);
        out.gif = tsx::testing::makeGif(kWidth, kHeight, indices, false);
        for (int i = 0; i < 256; ++i)
            indexed.ColorTable()[size_t(i)] = tsx::TRGBQuad{uint8_t(i / 2), uint8_t(255 - i), uint8_t(i), 0};
        out.gifBmp = bmpOf(indexed);

        tsx::TDIB colour;
        colour.Allocate(kWidth, kHeight, 24);
        std::vector<Bytes> strips;
        constexpr int kRowsPerStrip = 16;
        Bytes strip;
        for (int y = 0; y < kHeight; ++y) {
            uint8_t* row = colour.RowPointer(y);
            Bytes raw(size_t(kWidth) * 3);
            for (int x = 0; x < kWidth; ++x)
                for (int c = 0; c < 3; ++c)
                    raw[size_t(x) * 3 + size_t(c)] = row[x * 3 + 2 - c] = shade(x, y, c, rng);
            for (size_t i = raw.size() - 1; i >= 3; --i)
                raw[i] = uint8_t(raw[i] - raw[i - 3]);
            strip.insert(strip.end(), raw.begin(), raw.end());
            if ((y + 1) % kRowsPerStrip == 0 || y + 1 == kHeight) {
                strips.push_back(tsx::testing::lzwEncode(strip, 8, true, true));
                strip.clear();
            }
        }
        out.tiff = tsx::testing::makeTiff(false,
                                          {{256, 3, {kWidth}}, {257, 3, {kHeight}}, {258, 3, {8, 8, 8}}, {259, 3, {5}},
                                           {262, 3, {2}}, {277, 3, {3}}, {278, 3, {kRowsPerStrip}}, {317, 3, {2}}},
                                          strips);
        out.tiffBmp = bmpOf(colour);
        return out;
    }();
    return f;
}

template <class Graphic>
void load(benchmark::State& state, const Bytes& file)
{
    for (auto _ : state) {
        Graphic g;
        g.LoadFromMemory(file.data(), file.size());
        g.SetPixelFormat24();
        if (g.Width() != kWidth)
            state.SkipWithError("the picture did not decode");
        benchmark::DoNotOptimize(g.Dib().ScanLine(0));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight * 3);
}

void gif(benchmark::State& s) { load<tsx::TGIFGraphic>(s, files().gif); }
void gifAsBmp(benchmark::State& s) { load<tsx::TBitmap>(s, files().gifBmp); }
void lzwTiff(benchmark::State& s) { load<tsx::TTIFFGraphic>(s, files().tiff); }
void lzwTiffAsBmp(benchmark::State& s) { load<tsx::TBitmap>(s, files().tiffBmp); }

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (!run.error_occurred)
                times[run.run_name.function_name] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

}  // namespace

BENCHMARK(gif)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(gifAsBmp)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(lzwTiff)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(lzwTiffAsBmp)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    files();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto ratio = [&](const char* name, const char* bmp, double packedBytes) {
        if (reporter.times.count(name) && reporter.times.count(bmp))
            std::printf("%s / same picture as BMP: %.2fx the time (file %.1f MB)\n", name,
                        reporter.times[name] / reporter.times[bmp], packedBytes / 1e6);
    };
    ratio("gif", "gifAsBmp", double(files().gif.size()));
    ratio("lzwTiff", "lzwTiffAsBmp", double(files().tiff.size()));
    benchmark::Shutdown();
    return 0;
}

// The stretch of rendering: a 256 x 256 picture averaged into a 32 x 32 cell,
// against a plain floating-point box filter computing the same means, and the
// nearest-pixel stretch for scale. Prints the ratios measured in this run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "raster/dib.h"

namespace {

tsx::TDIB picture(int w, int h)
{
    tsx::TDIB d;
    d.Allocate(w, h, 24);
    for (int y = 0; y < h; ++y) {
        uint8_t* p = d.RowPointer(y);
        for (int x = 0; x < w * 3; ++x)
            p[x] = uint8_t(x * 7 + y * 13);
    }
    return d;
}

// The obvious box filter: per target pixel, every covered source pixel with
// its fractional coverage in doubles, one division at the end.
void naiveAverage(const tsx::TDIB& src, tsx::TDIB& dst)
{
    const double fx = double(src.Width()) / dst.Width(), fy = double(src.Height()) / dst.Height();
    for (int y = 0; y < dst.Height(); ++y) {
        uint8_t* out = dst.RowPointer(y);
        const double y0 = y * fy, y1 = y0 + fy;
        for (int x = 0; x < dst.Width(); ++x) {
            const double x0 = x * fx, x1 = x0 + fx;
            double sum[3] = {0, 0, 0}, area = 0;
            for (int sy = int(y0); sy < std::min<double>(y1, src.Height()); ++sy) {
                const double wy = std::min<double>(sy + 1, y1) - std::max<double>(sy, y0);
                const uint8_t* in = src.ScanLine(sy);
                for (int sx = int(x0); sx < std::min<double>(x1, src.Width()); ++sx) {
                    const double w = wy * (std::min<double>(sx + 1, x1) - std::max<double>(sx, x0));
                    for (int c = 0; c < 3; ++c)
                        sum[c] += w * in[3 * sx + c];
                    area += w;
                }
            }
            for (int c = 0; c < 3; ++c)
                out[3 * x + c] = uint8_t(sum[c] / area + 0.5);
        }
    }
}

const tsx::TDIB& source()
{
    static const tsx::TDIB src = picture(256, 256);
    return src;
}

void BM_AreaAverage(benchmark::State& state)
{
    tsx::TDIB cell;
    cell.Allocate(32, 32, 24);
    for (auto _ : state) {
        tsx::stretchAreaAverage(source(), {0, 0, 256, 256}, cell, {0, 0, 32, 32});
        benchmark::DoNotOptimize(cell.ScanLine(0)[0]);
    }
}

void BM_AreaAverageOddRatio(benchmark::State& state)
{
    tsx::TDIB cell;
    cell.Allocate(37, 29, 24);
    for (auto _ : state) {
        tsx::stretchAreaAverage(source(), {0, 0, 256, 256}, cell, {0, 0, 37, 29});
        benchmark::DoNotOptimize(cell.ScanLine(0)[0]);
    }
}

void BM_NaiveAverage(benchmark::State& state)
{
    tsx::TDIB cell;
    cell.Allocate(32, 32, 24);
    for (auto _ : state) {
        naiveAverage(source(), cell);
        benchmark::DoNotOptimize(cell.ScanLine(0)[0]);
    }
}

void BM_Nearest(benchmark::State& state)
{
    tsx::TDIB cell;
    cell.Allocate(32, 32, 24);
    for (auto _ : state) {
        tsx::stretchNearest(source(), {0, 0, 256, 256}, cell, {0, 0, 32, 32});
        benchmark::DoNotOptimize(cell.ScanLine(0)[0]);
    }
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                times[run.run_name.function_name] = run.GetAdjustedCPUTime();  // steady on a busy machine
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv)
{
    benchmark::RegisterBenchmark("AreaAverage/256->32", BM_AreaAverage);
    benchmark::RegisterBenchmark("AreaAverage/256->37x29", BM_AreaAverageOddRatio);
    benchmark::RegisterBenchmark("NaiveFloatAverage/256->32", BM_NaiveAverage);
    benchmark::RegisterBenchmark("Nearest/256->32", BM_Nearest);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.times;
    if (t.count("AreaAverage/256->32") && t.count("NaiveFloatAverage/256->32"))
        std::printf("ratio naive float box filter / ours (CPU time): %.2f\n",
                    t["NaiveFloatAverage/256->32"] / t["AreaAverage/256->32"]);
    if (t.count("AreaAverage/256->32") && t.count("Nearest/256->32"))
        std::printf("ratio area average / nearest (CPU time): %.2f\n", t["AreaAverage/256->32"] / t["Nearest/256->32"]);
    return 0;
}

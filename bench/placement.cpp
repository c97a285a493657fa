// Placement of 640 × 640 cells against 2,000 signatures (level 8, neighbour
// rule, use-all), fast placement against the plain transcription of the
// rules, on the same job in one run. Prints the time ratio and checks that
// both placed every cell alike.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>

#include <benchmark/benchmark.h>

#include "../tests/unit/engine_literal_placement.h"
#include "engine/placement.h"

namespace {

using namespace tsx;

constexpr int kSide = 640;
constexpr int kPictures = 2000;

enum Field { kPhoto, kFlat, kNoise, kFields };
const char* const kFieldNames[kFields] = {"photo-like cells", "four flat colours", "uniform noise"};

// A photograph-like cell colour field (smooth gradients, a soft blob, some
// grain); a handful of flat colours, where the tie rules decide; or noise,
// where no two neighbouring cells look alike.
std::unique_ptr<MosaicJob> makeJob(Field field)
{
    const bool fewColours = field == kFlat;
    std::mt19937 rng(99);
    auto job = std::make_unique<MosaicJob>();
    MosaicSettings& s = job->settings;
    s = MosaicSettings::wizardDefaults();
    s.rows = s.cols = kSide;
    s.randomLevel = 8;
    s.noClose = true;
    s.useAll = true;
    const uint8_t palette[4][3] = {{30, 60, 90}, {200, 180, 40}, {90, 160, 70}, {240, 240, 240}};
    job->cellColourRaster.Allocate(kSide, kSide, 24);
    std::normal_distribution<double> grain(0, 6);
    for (int y = 0; y < kSide; ++y) {
        uint8_t* p = job->cellColourRaster.RowPointer(y);
        for (int x = 0; x < kSide; ++x, p += 3) {
            if (fewColours) {
                const auto* c = palette[((x / 80) + (y / 80) * 3) % 4];
                p[0] = c[2], p[1] = c[1], p[2] = c[0];
                continue;
            }
            if (field == kNoise) {
                p[0] = uint8_t(rng()), p[1] = uint8_t(rng()), p[2] = uint8_t(rng());
                continue;
            }
            const double blob = 90 * std::exp(-((x - 200.0) * (x - 200.0) + (y - 420.0) * (y - 420.0)) / 20000.0);
            p[2] = uint8_t(std::clamp(40 + 0.3 * x + blob + grain(rng), 0.0, 255.0));
            p[1] = uint8_t(std::clamp(80 + 0.2 * y + 0.5 * blob + grain(rng), 0.0, 255.0));
            p[0] = uint8_t(std::clamp(220 - 0.25 * y + grain(rng), 0.0, 255.0));
        }
    }
    for (int i = 0; i < kPictures; ++i) {
        if (fewColours) {
            const auto* c = palette[rng() % 4];
            appendSignature(job->signatureStream, CellSignature{c[0], c[1], c[2], 0, 0});
        } else {
            appendSignature(job->signatureStream,
                            CellSignature{uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 0, 0});
        }
    }
    return job;
}

double g_seconds[kFields][2];  // [field][literal]
bool g_same[kFields] = {true, true, true};

double placeAndTime(MosaicJob& job, bool literal)
{
    Random random;
    random.setState(12345);
    const auto start = std::chrono::steady_clock::now();
    if (literal)
        test::literalPlaceCells(job, random, kPictures);
    else
        placeCellsUnseeded(job, random, kPictures);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void comparePlacements(benchmark::State& state)
{
    const auto field = Field(state.range(0));
    for (auto _ : state) {
        auto fast = makeJob(field);
        auto literal = makeJob(field);
        g_seconds[field][0] = placeAndTime(*fast, false);
        g_seconds[field][1] = placeAndTime(*literal, true);
        g_same[field] = fast->placementGrid == literal->placementGrid &&
                        fast->workingSignatures == literal->workingSignatures;
        state.SetIterationTime(g_seconds[field][0]);
    }
    state.counters["literal_s"] = g_seconds[field][1];
    state.counters["ratio"] = g_seconds[field][1] / g_seconds[field][0];
}
BENCHMARK(comparePlacements)->Arg(kPhoto)->Arg(kFlat)->Arg(kNoise)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    bool same = true;
    for (int k = 0; k < kFields; ++k) {
        if (g_seconds[k][0] <= 0)
            continue;  // filtered out
        std::printf("placement 640x640 x 2000, %s: fast %.3f s, literal %.3f s, literal/fast %.1fx, %s\n",
                    kFieldNames[k], g_seconds[k][0], g_seconds[k][1], g_seconds[k][1] / g_seconds[k][0],
                    g_same[k] ? "identical placements" : "PLACEMENTS DIFFER");
        same = same && g_same[k];
    }
    return same ? 0 : 1;
}

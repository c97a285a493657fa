// Folder load of the ImageList: one decoding thread against one per core,
// over a folder of photograph-sized JPEG files. Prints the speed-up.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include "raster/byte_io.h"
#include "tools/sample_art.h"
#include "wizard/image_list.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFiles = 48;

const std::string& pictureFolder()
{
    static const std::string folder = [] {
        const fs::path dir = fs::temp_directory_path() / ("tsx-bench-imagelist-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        for (int i = 0; i < kFiles; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "photo_%02d.jpg", i);
            tsx::writeWholeFile((dir / name).string(),
                                tsx::samples::encodeJpeg(tsx::samples::samplePicture(i, 1024, 768)));
        }
        return dir.string();
    }();
    return folder;
}

// CPU seconds of every thread of the process so far.
double processCpuSeconds()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void loadFolder(benchmark::State& state)
{
    const std::string& folder = pictureFolder();
    const double cpuBefore = processCpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    for (auto _ : state) {
        std::vector<uint8_t> stream;
        tsx::ImageList list(stream);
        tsx::FolderLoadOptions options;
        options.threads = unsigned(state.range(0));
        list.loadFolder(folder, options);
        if (list.count() != kFiles)
            state.SkipWithError("not every picture was added");
        benchmark::DoNotOptimize(stream.data());
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
    // CPU time over wall time: how many cores the load kept busy. On a
    // machine shared with other work this, not the wall time, shows whether
    // the threads run in parallel.
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - wallBefore;
    state.counters["cores_busy"] = (processCpuSeconds() - cpuBefore) / wall.count();
}

unsigned cores() { return std::max(2u, std::thread::hardware_concurrency()); }

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (!run.error_occurred) {
                times[run.run_name.args] = run.GetAdjustedRealTime();
                busy[run.run_name.args] = run.counters.at("cores_busy");
            }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
    std::map<std::string, double> busy;
};

}  // namespace

BENCHMARK(loadFolder)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(loadFolder)->Apply([](benchmark::internal::Benchmark* b) { b->Arg(int64_t(cores())); })
    ->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    pictureFolder();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const std::string one = "1";
    const std::string all = std::to_string(cores());
    if (reporter.times.count(one) && reporter.times.count(all))
        std::printf("folder load speed-up, %u threads over 1: %.2fx (cores kept busy: %.2f and %.2f)\n", cores(),
                    reporter.times[one] / reporter.times[all], reporter.busy[one], reporter.busy[all]);
    fs::remove_all(pictureFolder());
    benchmark::Shutdown();
    return 0;
}

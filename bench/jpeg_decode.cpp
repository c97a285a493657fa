// Decoding a large JPEG: LoadPicture (file read, libjpeg decode straight into
// the raster rows) against the library's own command-line decoder on the
// same file, in one run. Prints ours / djpeg.
#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "imageio/picture.h"

extern char** environ;

namespace {

const char* kDjpeg = "/usr/bin/djpeg";
const std::string kFile = "/tmp/tesserix_bench_4000x3000.jpg";

// A photo-like picture: smooth colour fields with edges and fine texture.
void writePhotoLikeJpeg(const std::string& path, int w, int h)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return;
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, f);
    cinfo.image_width = JDIMENSION(w);
    cinfo.image_height = JDIMENSION(h);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(size_t(w) * 3);
    uint32_t noise = 12345;
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = int(cinfo.next_scanline);
        for (int x = 0; x < w; ++x) {
            noise = noise * 1664525u + 1013904223u;
            const int grain = int(noise >> 28) - 8;
            const double sky = y < h / 3 ? 1.0 : 0.0;
            const double wave = std::sin(x * 0.01) * 40 + std::cos(y * 0.013) * 30;
            const int r = int(120 + wave + sky * 60) + grain;
            const int g = int(140 + wave * 0.5 + ((x / 97 + y / 83) % 2) * 30) + grain;
            const int b = int(100 + sky * 120 - wave * 0.3) + grain;
            row[size_t(3 * x)] = uint8_t(std::clamp(r, 0, 255));
            row[size_t(3 * x + 1)] = uint8_t(std::clamp(g, 0, 255));
            row[size_t(3 * x + 2)] = uint8_t(std::clamp(b, 0, 255));
        }
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&cinfo, &p, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(f);
}

// Both sides are timed in CPU seconds (ours from the thread clock, djpeg's
// from its rusage), so other work on a shared machine does not tilt the ratio.
double threadSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

void BM_LoadPicture(benchmark::State& state)
{
    for (auto _ : state) {
        const double start = threadSeconds();
        tsx::TPicture picture;
        tsx::LoadPicture(kFile, picture);
        benchmark::DoNotOptimize(picture.Width());
        state.SetIterationTime(threadSeconds() - start);
    }
}

void BM_Djpeg(benchmark::State& state)
{
    const char* argv[] = {kDjpeg, "-outfile", "/dev/null", kFile.c_str(), nullptr};
    for (auto _ : state) {
        pid_t pid = 0;
        if (posix_spawn(&pid, kDjpeg, nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
            state.SkipWithError("djpeg cannot be started");
            return;
        }
        int status = 0;
        rusage usage {};
        wait4(pid, &status, 0, &usage);
        state.SetIterationTime(double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
                               + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6);
    }
}

// Remembers the real time per iteration of every benchmark it reports.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                times[run.run_name.function_name] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv)
{
    writePhotoLikeJpeg(kFile, 4000, 3000);
    benchmark::RegisterBenchmark("LoadPicture/4000x3000", BM_LoadPicture)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->MinTime(2);
    const bool haveDjpeg = access(kDjpeg, X_OK) == 0;
    if (haveDjpeg)
        benchmark::RegisterBenchmark("djpeg/4000x3000", BM_Djpeg)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime()
            ->MinTime(2);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto ours = reporter.times.find("LoadPicture/4000x3000");
    const auto theirs = reporter.times.find("djpeg/4000x3000");
    if (!haveDjpeg)
        std::printf("djpeg not found at %s: no ratio\n", kDjpeg);
    else if (ours != reporter.times.end() && theirs != reporter.times.end())
        std::printf("ratio LoadPicture / djpeg (CPU time): %.3f\n", ours->second / theirs->second);
    std::remove(kFile.c_str());
    return 0;
}

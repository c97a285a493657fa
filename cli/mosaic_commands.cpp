// The batch tool's mosaic commands: make, render, imagelist and stats.

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>

#include "app/project_file.h"
#include "wizard/session.h"
#include "app/statistics.h"
#include "cli/command.h"
#include "cli/mosaic_output.h"
#include "engine/mosaic_job.h"
#include "engine/render.h"
#include "engine/render_to_file.h"
#include "raster/errors.h"
#include "wizard/image_list.h"
#include "wizard/mosaic_size.h"
#include "wizard/signature_cache.h"

namespace tsx {

namespace {

constexpr const char* kTooFewPictures = "You should load more than 10 pictures, or you can only use selfmosaic mode.";

// One progress line on stderr, rewritten in place.
class ProgressLine {
public:
    explicit ProgressLine(bool quiet) : m_quiet(quiet), m_terminal(::isatty(STDERR_FILENO) == 1) {}
    ~ProgressLine() { end(); }
    void show(const std::string& text)
    {
        if (m_quiet)
            return;
        m_open = true;
        // a log gets the step's last state as one plain line, not every
        // redraw of a terminal's live line
        if (!m_terminal) {
            m_last = text;
            return;
        }
        std::fprintf(stderr, "\r%-60s", text.c_str());
        std::fflush(stderr);
    }
    void end()
    {
        if (m_open && !m_terminal)
            std::fprintf(stderr, "%s\n", m_last.c_str());
        else if (m_open)
            std::fputc('\n', stderr);
        m_open = false;
    }

private:
    bool m_quiet;
    bool m_terminal;
    bool m_open = false;
    std::string m_last;
};

class BatchRenderHost : public SourcesRenderHost {
public:
    BatchRenderHost(const RenderSources& sources, ProgressLine& line) : SourcesRenderHost(sources), m_line(line) {}
    void progress(int percent) override
    {
        // the bar's return to 0 at the end is not news on a terminal
        if (percent <= m_percent)
            return;
        m_line.show("Drawing the mosaic " + std::to_string(percent) + "%");
        m_percent = percent;
    }
    void repaint() override {}
    void rowsFinished(int, int) override {}
    void message(const std::string&, const std::string&) override {}
    void finished(bool ok, const std::string& error) override
    {
        m_ok = ok;
        m_error = error;
    }
    // Raises what stopped the render, if anything did.
    void check() const
    {
        if (!m_ok)
            throw Error(m_error);
    }

private:
    ProgressLine& m_line;
    int m_percent = -1;
    bool m_ok = false;
    std::string m_error = "The mosaic was not drawn";
};

// A library error as the batch tool reports it: with the file it came from,
// unless the text names it already.
std::string namingFile(const std::string& path, const std::string& text)
{
    if (path.empty() || text.find(path) != std::string::npos)
        return text;
    return path + ": " + text;
}

// Loads a picture the user named, saying which file it was when it fails.
void loadNamedPicture(const std::string& path, TPicture& picture)
{
    try {
        LoadPicture(path, picture);
    } catch (const std::exception& e) {
        throw Error(namingFile(path, e.what()));
    }
}

struct FolderFlags {
    bool recursive = false;
    bool skipBad = false;
    bool noCache = false;
};

void loadFolderWithProgress(ImageList& list, const std::string& folder, ProgressLine& line,
                            const FolderFlags& flags = {}, KeptCellPictures* keep = nullptr)
{
    FolderLoadOptions options;
    options.keep = keep;
    options.progress = [&line](size_t done, size_t total) {
        line.show("Loading pictures " + std::to_string(done) + "/" + std::to_string(total));
    };
    options.recursive = flags.recursive;
    std::optional<SignatureCache> cache;
    if (!flags.noCache && !SignatureCache::defaultFile().empty()) {
        cache.emplace(SignatureCache::defaultFile());
        cache->readFile();
        options.cache = &*cache;
    }
    std::vector<SkippedPicture> skipped;
    if (flags.skipBad)
        options.skipBad = &skipped;
    std::string stoppedAt;
    options.stoppedAt = &stoppedAt;
    try {
        list.loadFolder(folder, options);
    } catch (const std::exception& e) {
        line.end();
        throw Error(namingFile(stoppedAt, e.what()));
    }
    line.end();
    // listed even when quiet: these pictures are missing from the mosaic
    if (!skipped.empty()) {
        std::fprintf(stderr, "Skipped %zu picture%s that could not be loaded:\n", skipped.size(),
                     skipped.size() == 1 ? "" : "s");
        for (const SkippedPicture& p : skipped)
            std::fprintf(stderr, "  %s: %s\n", p.path.c_str(), p.message.c_str());
    }
}

void addFolderFlags(CLI::App* command, FolderFlags& flags)
{
    command->add_flag("--recursive", flags.recursive, "also take the pictures of every sub-folder");
    command->add_flag("--skip-bad", flags.skipBad, "go past pictures that cannot be loaded and list them at the end");
    command->add_flag("--no-cache", flags.noCache, "decode every picture, without the signature cache");
}

void drawMosaic(Session& session, bool quiet)
{
    ProgressLine line(quiet);
    const PreparedRender render = prepareRender(session);
    BatchRenderHost host(render.sources, line);
    runRender(render, host);
    line.end();
    host.check();
}

// The batch tool's memory for cell pictures: the render's cache, and as much
// again for those the folder load keeps.
constexpr size_t kBatchCacheBytes = size_t(64) << 20;

// Draws the mosaic band by band into the file: memory is one band and the
// picture cache, whatever the mosaic's size.
void drawMosaicToFile(Session& session, const std::string& out, const ImageWriteOptions& options, bool quiet)
{
    ProgressLine line(quiet);
    const PreparedRender render = prepareRender(session);
    BatchRenderHost host(render.sources, line);
    RenderOptions renderOptions;
    renderOptions.cacheBytes = kBatchCacheBytes;
    useKeptPictures(render, renderOptions);
    renderMosaicToFile(render.job, render.random, host, out, options, renderOptions);
    line.end();
    host.check();
}

void writeStatistics(const MosaicJob& job, const ImageList& list, const std::string& fileName)
{
    const UsageStatistics stats = usageStatistics(job.settings, job.placementGrid, list.paths());
    if (stats.outcome != UsageStatistics::Outcome::Listed)
        throw Error(stats.message);
    std::string text;
    for (const std::string& l : stats.lines)
        text += l + "\n";
    saveTextFile(fileName, text);
}

struct MakeArgs {
    std::string source, images, imagelist, out, project, imagelistOut, stats;
    int rows = kWizardDefaults.rows.initial, cols = kWizardDefaults.cols.initial;
    int cellWidth = kWizardDefaults.cellWidth.initial, cellHeight = kWizardDefaults.cellHeight.initial;
    int red = kWizardDefaults.sourceAdjust.initial, green = red, blue = red;
    bool monoSource = false, selfMosaic = false, monoCells = false, vflip = false, hflip = false;
    bool useAll = false, allowClose = !kWizardDefaults.noClose, cutEdges = !kWizardDefaults.stretchCells;
    bool noColorEnhance = false, quiet = false;
    FolderFlags folder;
    std::optional<int> maxRepeat;
    int randomLevel = kWizardDefaults.randomLevel.initial;
    int detail = 0;
    std::optional<uint32_t> seed;
    cli::OutputArgs output;
};

CLI::Range rangeOf(const SettingRange& range) { return CLI::Range(range.minimum, range.maximum); }

void runMake(const MakeArgs& a)
{
    Session session;
    MosaicJob& job = session.job;
    ImageList& list = session.imageList;
    MosaicSettings& s = job.settings;
    s = MosaicSettings::wizardDefaults();
    const ImageWriteOptions output = cli::outputOptions(a.out, a.output);
    cli::checkOutputTarget(a.out, output, int64_t(a.cols) * a.cellWidth, int64_t(a.rows) * a.cellHeight);

    loadNamedPicture(a.source, job.sourcePicture);
    session.sourceFileName = a.source;
    s.sourceRedAdjust = a.red;
    s.sourceGreenAdjust = a.green;
    s.sourceBlueAdjust = a.blue;
    s.sourceMono = a.monoSource;

    // The mosaic is streamed to its file, so the window's 1200 MB ceiling
    // does not apply, nor is a preview of it made.
    recomputeSize(s, a.rows, a.cols, a.cellWidth, a.cellHeight);
    buildCellColourRaster(job.sourcePicture, s, job.cellColourRaster);

    {
        ProgressLine line(a.quiet);
        if (!a.images.empty()) {
            // the pictures decoded for their signatures are scaled to the
            // cell on the way, so the render need not decode them again
            session.keptCells.prepare(s.cellWidth, s.cellHeight, kBatchCacheBytes);
            loadFolderWithProgress(list, a.images, line, a.folder, &session.keptCells);
        }
        else
            list.loadIml(a.imagelist);
    }

    CreationOptions options;
    options.selfMosaic = a.selfMosaic;
    options.monoCells = a.monoCells;
    options.allowVFlip = a.vflip;
    options.allowHFlip = a.hflip;
    options.useAll = a.useAll;
    options.limitRepeat = a.maxRepeat.has_value();
    options.maxRepeat = a.maxRepeat.value_or(kWizardDefaults.maxRepeat.initial);
    options.noClose = !a.allowClose;
    options.cutEdges = a.cutEdges;
    options.colorEnhanceOff = a.noColorEnhance;
    options.randomLevel = a.randomLevel;
    options.detailGrid = a.detail;
    if (list.count() < 10 && !options.selfMosaic) {
        if (!a.quiet)
            std::fprintf(stderr, "%s\n", kTooFewPictures);
        options.selfMosaic = true;
    }

    {
        ProgressLine line(a.quiet || a.detail == 0);
        placeJob(session, options, a.seed, [&](size_t done, size_t total) {
            line.show("Detail colours " + std::to_string(done) + " of " + std::to_string(total));
        });
    }
    drawMosaicToFile(session, a.out, output, a.quiet);
    if (!a.project.empty())
        saveProject(a.project, job, list);
    if (!a.imagelistOut.empty())
        list.saveIml(a.imagelistOut);
    if (!a.stats.empty())
        writeStatistics(job, list, a.stats);
}

void runRender(const std::string& project, const std::string& source, const std::string& out,
               const cli::OutputArgs& outputArgs, bool quiet)
{
    Session session;
    MosaicJob& job = session.job;
    loadProject(project, job, session.imageList, ProjectSizeLimit::Streamed);
    session.sourceFileName = source;
    const ImageWriteOptions output = cli::outputOptions(out, outputArgs);
    cli::checkOutputTarget(out, output, job.settings.mosaicWidth, job.settings.mosaicHeight);
    drawMosaicToFile(session, out, output, quiet);
}

void runImageList(const std::string& folder, const std::string& out, bool quiet, const FolderFlags& flags)
{
    Session session;
    ImageList& list = session.imageList;
    ProgressLine line(quiet);
    loadFolderWithProgress(list, folder, line, flags);
    list.saveIml(out);
}

void runStats(const std::string& project, const std::string& source, bool missing, bool quiet)
{
    Session session;
    MosaicJob& job = session.job;
    ImageList& list = session.imageList;
    loadProject(project, job, list);
    const UsageStatistics stats = usageStatistics(job.settings, job.placementGrid, list.paths());
    for (const std::string& l : stats.lines)
        std::cout << l << "\n";
    std::cout.flush();
    if (stats.outcome != UsageStatistics::Outcome::Listed)
        throw Error(stats.message);

    std::optional<Fidelity> fidelity;
    if (!source.empty()) {
        // drawn at the few pixels a cell that the figure compares, with
        // flips from a fixed start so the figure repeats
        loadNamedPicture(source, job.sourcePicture);
        session.sourceFileName = source;
        MosaicSettings& s = job.settings;
        s.cellWidth = s.cellHeight = kFidelityPixelsPerCell;
        s.mosaicWidth = s.cols * kFidelityPixelsPerCell;
        s.mosaicHeight = s.rows * kFidelityPixelsPerCell;
        sizeMosaicForProject(job);
        session.random.setState(0);
        drawMosaic(session, quiet);
        fidelity = mosaicFidelity(job.mosaicImage, adjustedSource(job), s.rows, s.cols);
    }
    std::cout << "\n";
    for (const std::string& l : matchFigureLines(matchFigures(job.settings, job.placementGrid),
                                                 fidelity ? &*fidelity : nullptr))
        std::cout << l << "\n";
    if (missing) {
        const std::vector<ColourGap> gaps = missingColours(job.settings, job.placementGrid, job.workingSignatures);
        std::cout << "\n" << (gaps.empty() ? "No colour is missing." : "Colours the pictures lack:") << "\n";
        for (const ColourGap& gap : gaps)
            std::cout << colourGapLine(gap) << "\n";
    }
    std::cout.flush();
}

void setup(CLI::App& app)
{
    static MakeArgs mk;
    auto* make = app.add_subcommand("make", "Make a photomosaic: place the pictures and draw them");
    make->add_option("--source", mk.source, "source image")->required();
    auto* images = make->add_option("--images", mk.images, "folder of pictures to fill the cells");
    auto* iml = make->add_option("--imagelist", mk.imagelist, "ImageList file (.iml) to fill the cells");
    images->excludes(iml);
    make->add_option("--out", mk.out, "mosaic to write: .png, .jpg, .tif, else 24-bit BMP")->required();
    cli::addOutputOptions(make, mk.output);
    make->add_option("--rows", mk.rows, "cells vertically")->check(rangeOf(kWizardDefaults.rows))->capture_default_str();
    make->add_option("--cols", mk.cols, "cells horizontally")->check(rangeOf(kWizardDefaults.cols))->capture_default_str();
    make->add_option("--cell-width", mk.cellWidth, "cell width in pixels")
        ->check(rangeOf(kWizardDefaults.cellWidth))
        ->capture_default_str();
    make->add_option("--cell-height", mk.cellHeight, "cell height in pixels")
        ->check(rangeOf(kWizardDefaults.cellHeight))
        ->capture_default_str();
    make->add_option("--red", mk.red, "offset added to the source's red")->check(rangeOf(kWizardDefaults.sourceAdjust));
    make->add_option("--green", mk.green, "offset added to the source's green")->check(rangeOf(kWizardDefaults.sourceAdjust));
    make->add_option("--blue", mk.blue, "offset added to the source's blue")->check(rangeOf(kWizardDefaults.sourceAdjust));
    make->add_flag("--mono-source", mk.monoSource, "turn the source grey before the offsets");
    make->add_flag("--self-mosaic", mk.selfMosaic, "fill every cell with the source image");
    make->add_flag("--mono-cells", mk.monoCells, "turn cell pictures grey before colouring them");
    make->add_flag("--vflip", mk.vflip, "turn cells upside down at random");
    make->add_flag("--hflip", mk.hflip, "mirror cells left to right at random");
    make->add_flag("--use-all", mk.useAll, "place every picture at least once");
    make->add_option("--max-repeat", mk.maxRepeat, "fill at most this many cells with one picture")
        ->check(rangeOf(kWizardDefaults.maxRepeat));
    make->add_flag("--allow-close", mk.allowClose, "allow a picture next to a copy of itself");
    make->add_flag("--cut-edges", mk.cutEdges, "crop pictures to the cell's shape instead of stretching");
    make->add_option("--detail", mk.detail, "match an N x N grid of colours per cell (2 to 4; 0 for mean colour)")
        ->check(CLI::IsMember({0, 2, 3, 4}));
    make->add_flag("--no-color-enhance", mk.noColorEnhance, "draw pictures without shifting their colours");
    make->add_option("--random-level", mk.randomLevel, "choose among the level - 1 nearest pictures")
        ->check(rangeOf(kWizardDefaults.randomLevel))
        ->capture_default_str();
    make->add_option("--seed", mk.seed, "start the random generator here instead of at the clock");
    make->add_option("--project", mk.project, "also save the project (.tsx)");
    make->add_option("--imagelist-out", mk.imagelistOut, "also save the ImageList (.iml)");
    make->add_option("--stats", mk.stats, "also save the usage statistic (.txt)");
    make->add_flag("--quiet", mk.quiet, "no progress on stderr");
    addFolderFlags(make, mk.folder);
    make->callback([] {
        if (mk.images.empty() == mk.imagelist.empty())
            throw CLI::ValidationError("make", "give either --images DIR or --imagelist FILE.iml");
        runMake(mk);
    });

    static std::string project, source, out;
    static cli::OutputArgs renderOutput;
    static bool quiet = false;
    auto* render = app.add_subcommand("render", "Draw a saved project again, without placing its cells anew");
    render->add_option("--project", project, "project file (.tsx)")->required();
    render->add_option("--source", source, "source image, for a project in self-mosaic mode");
    render->add_option("--out", out, "mosaic to write: .png, .jpg, .tif, else 24-bit BMP")->required();
    cli::addOutputOptions(render, renderOutput);
    render->add_flag("--quiet", quiet, "no progress on stderr");
    render->callback([] { runRender(project, source, out, renderOutput, quiet); });

    static std::string folder, imlOut;
    auto* list = app.add_subcommand("imagelist", "Load the pictures of a folder and save them as an ImageList");
    list->add_option("--images", folder, "folder of pictures")->required();
    list->add_option("--out", imlOut, "ImageList file to write (.iml)")->required();
    list->add_flag("--quiet", quiet, "no progress on stderr");
    static FolderFlags listFlags;
    addFolderFlags(list, listFlags);
    list->callback([] { runImageList(folder, imlOut, quiet, listFlags); });

    static std::string statsProject, statsSource;
    static bool statsQuiet = false, statsMissing = false;
    auto* stats = app.add_subcommand("stats", "Print how often each picture of a project fills a cell");
    stats->add_option("--project", statsProject, "project file (.tsx)")->required();
    stats->add_option("--source", statsSource, "source picture: also measure how close the mosaic comes to it");
    stats->add_flag("--missing-colours", statsMissing, "also list the colours the pictures lack");
    stats->add_flag("--quiet", statsQuiet, "no progress line");
    stats->callback([] { runStats(statsProject, statsSource, statsMissing, statsQuiet); });
}

const cli::CommandRegistration registration(&setup);

}  // namespace

}  // namespace tsx

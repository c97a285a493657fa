// One mosaic session: the job, its ImageList, the generator and the source
// file, and the two roads every front end takes through them: from the
// creation options to a placed job, and from a placed job to a render.
// The desktop program holds one for its whole run; every batch command
// makes its own.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/mosaic_job.h"
#include "engine/random.h"
#include "engine/render.h"
#include "engine/render_host.h"
#include "wizard/image_list.h"
#include "wizard/kept_cells.h"

namespace tsx {

struct Session {
    MosaicJob job;
    ImageList imageList{ job.signatureStream };
    Random random;
    /// The source picture last loaded; a self mosaic draws every cell from it.
    std::string sourceFileName;
    /// Cell pictures the folder loads made on the way, drawn by the render
    /// instead of decoding their files again.
    KeptCellPictures keptCells;

    Session() = default;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
};

/// The creation options: what the wizard's last step and the batch tool's
/// flags choose. Starts as the wizard's controls do.
struct CreationOptions {
    bool selfMosaic = false;
    bool monoCells = false;
    bool allowVFlip = false;
    bool allowHFlip = false;
    bool useAll = false;
    bool limitRepeat = false;
    int maxRepeat = kWizardDefaults.maxRepeat.initial;
    bool noClose = kWizardDefaults.noClose;
    bool cutEdges = !kWizardDefaults.stretchCells;
    bool colorEnhanceOff = false;
    int randomLevel = kWizardDefaults.randomLevel.initial;
    /// Detail matching's grid side (kDetailGridMin..kDetailGridMax), 0 for
    /// matching by mean colour.
    int detailGrid = 0;
};

/// Progress of a long step: done of total; returns false to stop.
using StepProgress = std::function<void(size_t done, size_t total)>;

/// The detail signatures of the pictures at paths, each loaded and taken as
/// it fills a cell of the job's size and stretch. Pictures are decoded on
/// every core; a picture that fails to load throws its message, naming
/// the file.
DetailSignatures detailSignaturesOf(const std::vector<std::string>& paths, int grid, int cellWidth, int cellHeight,
                                    bool stretchCells, const StepProgress& progress = {});

/// Copies the options into the job's settings (stretchCells is the opposite
/// of cutEdges), seeds the generator (from the clock, or at seed) and places
/// the ImageList's pictures into the cells. With detail matching the
/// pictures' detail signatures are taken first (progress tells how far).
void placeJob(Session& session, const CreationOptions& options, std::optional<uint32_t> seed = std::nullopt,
              const StepProgress& progress = {});

/// What a render reads besides the job: the ImageList's paths and the source
/// file, taken when the render is prepared, so no list the user may change
/// is read while it draws.
struct RenderSources {
    std::vector<std::string> imagePaths;
    std::string sourcePath;
};

/// A render of a session's job, ready to run on any thread. The job and the
/// generator are the session's; they must not change while it runs.
struct PreparedRender {
    MosaicJob& job;
    Random& random;
    RenderSources sources;
    const KeptCellPictures* kept = nullptr;
};
PreparedRender prepareRender(Session& session);

/// Lets the render draw the session's kept cell pictures (runRender does it).
void useKeptPictures(const PreparedRender& render, RenderOptions& options);

/// A host that answers the render's questions from the prepared sources;
/// front ends derive from it for what they show.
class SourcesRenderHost : public RenderHost {
public:
    explicit SourcesRenderHost(const RenderSources& sources) : m_sources(sources) {}
    std::string imagePath(int index) override;
    std::string sourcePath() override { return m_sources.sourcePath; }

private:
    const RenderSources& m_sources;
};

/// A host that shows nothing and keeps how the render ended, for batch work
/// that looks only at the result (benchmarks, tests).
class SilentRenderHost : public SourcesRenderHost {
public:
    using SourcesRenderHost::SourcesRenderHost;
    void progress(int) override {}
    void repaint() override {}
    void rowsFinished(int, int) override {}
    void message(const std::string&, const std::string&) override {}
    void finished(bool success, const std::string& text) override
    {
        ok = success;
        error = text;
    }
    bool ok = false;
    std::string error;
};

/// Runs the prepared render on this thread (renderMosaic).
void runRender(const PreparedRender& render, RenderHost& host, const RenderOptions& options = {});

}  // namespace tsx

#include "wizard/session.h"

#include <algorithm>

#include "engine/placement.h"
#include "raster/errors.h"

namespace tsx {

void placeJob(Session& session, const CreationOptions& options, std::optional<uint32_t> seed)
{
    MosaicSettings& s = session.job.settings;
    s.selfMosaic = options.selfMosaic;
    s.monoCells = options.monoCells;
    s.allowVFlip = options.allowVFlip;
    s.allowHFlip = options.allowHFlip;
    s.useAll = options.useAll;
    s.limitRepeat = options.limitRepeat;
    s.noClose = options.noClose;
    s.maxRepeat = options.maxRepeat;
    s.randomLevel = options.randomLevel;
    s.stretchCells = !options.cutEdges;
    s.cutEdges = options.cutEdges;
    s.colorEnhanceOff = options.colorEnhanceOff;

    const int imageCount = int(std::min<size_t>(session.imageList.count(), size_t(INT32_MAX)));
    if (seed) {
        session.random.setState(*seed);
        placeCellsUnseeded(session.job, session.random, imageCount);
    } else {
        placeCells(session.job, session.random, imageCount);
    }
}

PreparedRender prepareRender(Session& session)
{
    return PreparedRender{ session.job, session.random,
                           RenderSources{ session.imageList.paths(), session.sourceFileName } };
}

std::string SourcesRenderHost::imagePath(int index)
{
    if (index < 0 || size_t(index) >= m_sources.imagePaths.size())
        throw EListError(formatMessage(msg::kListIndex, index));
    return m_sources.imagePaths[size_t(index)];
}

void runRender(const PreparedRender& render, RenderHost& host, const RenderOptions& options)
{
    renderMosaic(render.job, render.random, host, options);
}

}  // namespace tsx

#include "app/statistics.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

#include "raster/byte_io.h"
#include "raster/errors.h"
#include "wizard/image_list.h"

namespace tsx {

std::vector<UsageEntry> countUsage(const MosaicSettings& settings, const PlacementGrid& grid)
{
    // the table only has 800 × 800 cells, whatever the settings claim
    const int rows = std::clamp(settings.rows, 0, kGridSide);
    const int cols = std::clamp(settings.cols, 0, kGridSide);
    std::vector<UsageEntry> entries;
    std::unordered_map<int32_t, size_t> position;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            const int32_t index = grid.at(c, r).imageIndex;
            const auto [it, fresh] = position.try_emplace(index, entries.size());
            if (fresh)
                entries.push_back(UsageEntry{index, 1});
            else
                ++entries[it->second].count;
        }
    }
    return entries;
}

UsageStatistics usageStatistics(const MosaicSettings& settings, const PlacementGrid& grid,
                                const std::vector<std::string>& paths)
{
    UsageStatistics out;
    if (settings.selfMosaic) {
        out.outcome = UsageStatistics::Outcome::SelfMosaic;
        out.message = kSelfMosaicStatsMessage;
        return out;
    }
    const std::vector<UsageEntry> entries = countUsage(settings, grid);
    out.lines.reserve(entries.size() + 2);
    out.lines.push_back("Vertical Cell Count: " + std::to_string(settings.rows) +
                        "  Horizontal Cell Count: " + std::to_string(settings.cols));
    long long total = 0;
    for (const UsageEntry& e : entries) {
        if (e.imageIndex < 0 || size_t(e.imageIndex) >= paths.size()) {
            out.outcome = UsageStatistics::Outcome::IndexOutOfBounds;
            out.message = formatMessage(msg::kListIndex, e.imageIndex);
            return out;
        }
        out.lines.push_back(paths[size_t(e.imageIndex)] + " Used time : " + std::to_string(e.count));
        total += e.count;
    }
    out.lines.push_back("Total Cell Count: " + std::to_string(total));
    return out;
}

std::string textFileBytes(const std::string& text)
{
    const auto* data = reinterpret_cast<const uint8_t*>(text.data());
    return joinTextLines(splitTextLines(std::span<const uint8_t>(data, text.size())));
}

void saveTextFile(const std::string& fileName, const std::string& text)
{
    const std::string bytes = textFileBytes(text);
    AtomicFileWriter writer(fileName);
    writer.write(bytes.data(), bytes.size());
    writer.commit();
}

std::vector<std::string> matchFigureLines(const MatchFigures& match, const Fidelity* fidelity)
{
    std::vector<std::string> lines;
    char text[160];
    std::snprintf(text, sizeof text, "Match distance: mean %.1f, worst %d (of 765)", match.meanDistance,
                  match.worstDistance);
    lines.emplace_back(text);
    if (fidelity) {
        std::snprintf(text, sizeof text, "Fidelity: SSIM %.3f at %d px a cell, PSNR %.2f dB at 1 px a cell",
                      fidelity->ssim, fidelity->pixelsPerCell, fidelity->psnr);
        lines.emplace_back(text);
    }
    return lines;
}

std::string colourGapLine(const ColourGap& gap)
{
    char text[120];
    std::snprintf(text, sizeof text, "#%02X%02X%02X  red %d, green %d, blue %d: better for %d of %d cells", gap.red,
                  gap.green, gap.blue, gap.red, gap.green, gap.blue, gap.improves, gap.cells);
    return text;
}

}  // namespace tsx

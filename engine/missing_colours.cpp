#include "engine/missing_colours.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>

namespace tsx {

namespace {

struct BadCell {
    int red, green, blue, distance;
};

constexpr int kLevelShift = 5;  // 8 levels a channel: groups of visibly one colour

}  // namespace

std::vector<ColourGap> missingColours(const MosaicSettings& settings, const PlacementGrid& grid,
                                      const std::vector<uint8_t>& workingSignatures, size_t maxGroups)
{
    const int rows = std::clamp(settings.rows, 0, kGridSide), cols = std::clamp(settings.cols, 0, kGridSide);
    const size_t pictures = signatureCount(workingSignatures);
    std::vector<BadCell> cells;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            const CellPlacement& p = grid.at(c, r);
            if (!p.occupied || p.imageIndex < 0 || size_t(p.imageIndex) >= pictures)
                continue;
            const CellSignature sig = signatureAt(workingSignatures, size_t(p.imageIndex));
            const int red = clampByte(int(sig.red) - int(std::clamp(p.redOffset, -255, 255)));
            const int green = clampByte(int(sig.green) - int(std::clamp(p.greenOffset, -255, 255)));
            const int blue = clampByte(int(sig.blue) - int(std::clamp(p.blueOffset, -255, 255)));
            cells.push_back(BadCell{red, green, blue, colourDistance(red, green, blue, sig.red, sig.green, sig.blue)});
        }
    if (cells.empty())
        return {};
    std::vector<int> distances;
    distances.reserve(cells.size());
    for (const BadCell& b : cells)
        distances.push_back(b.distance);
    const size_t tenth = distances.size() - std::max<size_t>(1, distances.size() / 10);
    std::nth_element(distances.begin(), distances.begin() + ptrdiff_t(tenth), distances.end());
    const int threshold = std::max(kBadlyServedDistance, distances[tenth]);

    std::map<int, std::vector<BadCell>> groups;
    for (const BadCell& b : cells)
        if (b.distance >= threshold)
            groups[(b.red >> kLevelShift) << 16 | (b.green >> kLevelShift) << 8 | (b.blue >> kLevelShift)].push_back(b);

    std::vector<ColourGap> gaps;
    for (const auto& [key, members] : groups) {
        std::array<int64_t, 3> sum{};
        for (const BadCell& b : members) {
            sum[0] += b.red;
            sum[1] += b.green;
            sum[2] += b.blue;
        }
        const int64_t n = int64_t(members.size());
        ColourGap gap;
        gap.red = uint8_t((sum[0] + n / 2) / n);
        gap.green = uint8_t((sum[1] + n / 2) / n);
        gap.blue = uint8_t((sum[2] + n / 2) / n);
        gap.cells = int(n);
        for (const BadCell& b : members)
            if (colourDistance(b.red, b.green, b.blue, gap.red, gap.green, gap.blue) < b.distance)
                ++gap.improves;
        gaps.push_back(gap);
    }
    std::stable_sort(gaps.begin(), gaps.end(), [](const ColourGap& a, const ColourGap& b) {
        return a.improves != b.improves ? a.improves > b.improves : a.cells > b.cells;
    });
    if (gaps.size() > maxGroups)
        gaps.resize(maxGroups);
    return gaps;
}

}  // namespace tsx

// The usage statistic: how often each ImageList picture fills a cell of the
// current placement, as the lines of an editable text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/fidelity.h"
#include "engine/missing_colours.h"
#include "engine/mosaic_job.h"

namespace tsx {

inline constexpr const char* kSelfMosaicStatsMessage = "You do not need stats for selfmosiac";
inline constexpr const char* kSelfMosaicStatsCaption = "Caution";

struct UsageEntry {
    int32_t imageIndex = 0;
    int32_t count = 0;
    bool operator==(const UsageEntry&) const = default;
};

/// Use counts of the placed cells, in the order their pictures are first met
/// (row by row from the top, left to right).
std::vector<UsageEntry> countUsage(const MosaicSettings& settings, const PlacementGrid& grid);

struct UsageStatistics {
    enum class Outcome { Listed, SelfMosaic, IndexOutOfBounds };
    Outcome outcome = Outcome::Listed;
    /// The memo's lines; on IndexOutOfBounds the lines before the failing
    /// entry, without the total line.
    std::vector<std::string> lines;
    /// The message to show for SelfMosaic and IndexOutOfBounds.
    std::string message;
};

/// The statistic's text for the job and the ImageList's paths.
UsageStatistics usageStatistics(const MosaicSettings& settings, const PlacementGrid& grid,
                                const std::vector<std::string>& paths);

/// What the placement's match distances and, when measured, the mosaic's
/// fidelity say, as lines to show after the statistic.
std::vector<std::string> matchFigureLines(const MatchFigures& match, const Fidelity* fidelity);

/// One line a colour group: its colour and how many cells it would serve better.
std::string colourGapLine(const ColourGap& gap);

/// The bytes of a text file: every line of text (split as the memo splits
/// it) followed by CR LF.
std::string textFileBytes(const std::string& text);
/// Writes them through a temporary file; "Cannot create file %s" on failure.
void saveTextFile(const std::string& fileName, const std::string& text);

}  // namespace tsx

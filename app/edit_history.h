// Undo and redo of the edits made to a finished mosaic. A step keeps, for
// every cell it changed, the record and the pixels on both sides, so that
// going back and forth gives the same bytes without drawing anything again
// (a drawn cell's flips are chosen at random and could not be repeated).
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "engine/cell_edit.h"
#include "engine/mosaic_job.h"

namespace tsx {

struct EditStep {
    std::string name;  // the command, as its menu names it
    std::vector<CellChange> cells;
    std::vector<TDIB> pixelsBefore, pixelsAfter;  // parallel to cells
    CellMarks marksBefore, marksAfter;
    std::vector<uint8_t> signaturesBefore, signaturesAfter;
    /// Memory the step keeps alive.
    size_t bytes() const;
};

/// Puts one side of the step into the job and the marks: records, working
/// signatures, marks, and pixels (under the mosaic's lock).
void applyEditStep(MosaicJob& job, CellMarks& marks, const EditStep& step, bool forward);

/// The steps done, and the steps undone that can be done again. Old steps
/// are dropped once the history holds more than its budget, never the
/// newest one.
class EditHistory {
public:
    explicit EditHistory(size_t budgetBytes = size_t(512) << 20) : m_budget(budgetBytes) {}

    /// Records a step that has been applied; the steps undone are gone.
    void push(EditStep step);
    bool canUndo() const { return !m_done.empty(); }
    bool canRedo() const { return !m_undone.empty(); }
    const std::string& undoName() const;
    const std::string& redoName() const;
    /// Applies the last step backwards / the last undone step forwards.
    /// Return false when there was none.
    bool undo(MosaicJob& job, CellMarks& marks);
    bool redo(MosaicJob& job, CellMarks& marks);
    void clear();
    size_t bytes() const { return m_bytes; }

private:
    void trim();

    size_t m_budget;
    size_t m_bytes = 0;
    std::deque<EditStep> m_done;
    std::vector<EditStep> m_undone;
};

}  // namespace tsx

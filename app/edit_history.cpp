#include "app/edit_history.h"

#include <mutex>

namespace tsx {

namespace {
const std::string kNoName;
}

size_t EditStep::bytes() const
{
    size_t total = sizeof(EditStep) + cells.size() * sizeof(CellChange) + signaturesBefore.size() +
                   signaturesAfter.size();
    for (const std::vector<TDIB>* side : { &pixelsBefore, &pixelsAfter })
        for (const TDIB& dib : *side)
            total += dib.Size();
    return total;
}

void applyEditStep(MosaicJob& job, CellMarks& marks, const EditStep& step, bool forward)
{
    const std::vector<TDIB>& pixels = forward ? step.pixelsAfter : step.pixelsBefore;
    {
        std::lock_guard<std::mutex> lock(job.mosaicImageLock);
        for (size_t k = 0; k < step.cells.size() && k < pixels.size(); ++k)
            putCellPixels(job, step.cells[k].cell, pixels[k]);
    }
    for (const CellChange& change : step.cells)
        job.placementGrid.at(change.cell.col, change.cell.row) = forward ? change.after : change.before;
    job.workingSignatures = forward ? step.signaturesAfter : step.signaturesBefore;
    marks = forward ? step.marksAfter : step.marksBefore;
}

void EditHistory::push(EditStep step)
{
    m_undone.clear();
    m_bytes = 0;
    for (const EditStep& s : m_done)
        m_bytes += s.bytes();
    m_bytes += step.bytes();
    m_done.push_back(std::move(step));
    trim();
}

const std::string& EditHistory::undoName() const { return m_done.empty() ? kNoName : m_done.back().name; }

const std::string& EditHistory::redoName() const { return m_undone.empty() ? kNoName : m_undone.back().name; }

bool EditHistory::undo(MosaicJob& job, CellMarks& marks)
{
    if (m_done.empty())
        return false;
    applyEditStep(job, marks, m_done.back(), false);
    m_undone.push_back(std::move(m_done.back()));
    m_done.pop_back();
    return true;
}

bool EditHistory::redo(MosaicJob& job, CellMarks& marks)
{
    if (m_undone.empty())
        return false;
    applyEditStep(job, marks, m_undone.back(), true);
    m_done.push_back(std::move(m_undone.back()));
    m_undone.pop_back();
    trim();
    return true;
}

void EditHistory::clear()
{
    m_done.clear();
    m_undone.clear();
    m_bytes = 0;
}

void EditHistory::trim()
{
    m_bytes = 0;
    for (const EditStep& s : m_done)
        m_bytes += s.bytes();
    for (const EditStep& s : m_undone)
        m_bytes += s.bytes();
    while (m_done.size() > 1 && m_bytes > m_budget) {
        m_bytes -= m_done.front().bytes();
        m_done.pop_front();
    }
}

}  // namespace tsx

#include "engine/render_to_file.h"

#include <algorithm>
#include <exception>
#include <memory>

namespace tsx {
namespace {

// Passes everything on, except that success waits for the file.
class FileHost : public RenderHost {
public:
    FileHost(RenderHost& host, RowWriter& writer) : m_host(host), m_writer(writer) {}
    std::string imagePath(int index) override { return m_host.imagePath(index); }
    std::string sourcePath() override { return m_host.sourcePath(); }
    void progress(int percent) override { m_host.progress(percent); }
    void repaint() override { m_host.repaint(); }
    void rowsFinished(int firstRow, int count) override { m_host.rowsFinished(firstRow, count); }
    void message(const std::string& text, const std::string& caption) override { m_message = {text, caption}; }
    void finished(bool ok, const std::string& error) override
    {
        if (!ok) {
            m_host.finished(false, error);
            return;
        }
        try {
            m_writer.finish();
        } catch (const std::exception& ex) {
            m_host.finished(false, ex.what());
            return;
        }
        m_host.message(m_message.first, m_message.second);
        m_host.finished(true, {});
    }

private:
    RenderHost& m_host;
    RowWriter& m_writer;
    std::pair<std::string, std::string> m_message;
};

}  // namespace

int bandRowsFor(int mosaicWidth, int cellHeight, size_t bandBytes)
{
    const size_t rowBytes = size_t(TDIB::widthBytesFor(std::max(mosaicWidth, 1), 24)) * size_t(std::max(cellHeight, 1));
    return int(std::clamp<size_t>(bandBytes / rowBytes, 1, size_t(kGridSide)));
}

void renderMosaicToFile(MosaicJob& job, Random& random, RenderHost& host, const std::string& fileName,
                        const ImageWriteOptions& writeOptions, RenderOptions options, int bandRows)
{
    const MosaicSettings& s = job.settings;
    std::unique_ptr<RowWriter> writer;
    try {
        writer = openRowWriter(fileName, s.cols * s.cellWidth, s.rows * s.cellHeight, writeOptions);
    } catch (const std::exception& ex) {
        host.finished(false, ex.what());
        return;
    }
    options.bandRows = bandRows > 0 ? bandRows : bandRowsFor(s.cols * s.cellWidth, s.cellHeight);
    options.bandFinished = [&writer](const TDIB& band, int pixelRows) {
        writer->writeRows(band.ScanLine(0), -ptrdiff_t(band.WidthBytes()), pixelRows);
    };
    FileHost fileHost(host, *writer);
    renderMosaic(job, random, fileHost, options);
}

}  // namespace tsx

// The cell pictures a folder load keeps must be the very pictures a render
// would decode and scale itself: the mosaic may not depend on whether the
// list was loaded just now or read from a file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "engine/render.h"
#include "raster/byte_io.h"
#include "wizard/kept_cells.h"
#include "wizard/mosaic_size.h"
#include "wizard/session.h"
#include "photo_support.h"

namespace tsx {
namespace {

namespace fs = std::filesystem;
using namespace photos;

Rgba scene(int w, int h, int seed)
{
    Rgba img(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = img.at(x, y);
            p[0] = uint8_t((x * (3 + seed) + y) ^ (y * 7));
            p[1] = uint8_t(x * 255 / w + seed * 20);
            p[2] = uint8_t((y * y / 3 + x * seed) & 0xFF);
        }
    return img;
}

struct Folder {
    fs::path path = fs::temp_directory_path() / ("tsx-kept-" + std::to_string(::getpid()));
    int withCopies = 0;
    Folder()
    {
        fs::create_directories(path);
        const Bytes turned = exifBlock(6), mirrored = exifBlock(4);
        JpegLayout wide, progressive;
        wide.lumaV = 1;
        progressive.progressive = true;
        for (int i = 0; i < 4; ++i) {
            write("plain" + std::to_string(i) + ".jpg", jpeg(scene(333 + i, 251, i), 85));
            write("turned" + std::to_string(i) + ".jpg", jpeg(scene(301, 203 + i, i + 4), 90, i % 2 ? &turned : &mirrored));
        }
        write("wide.jpg", jpegLaidOut(scene(250, 260, 9), 80, nullptr, wide));
        write("photo.png", rgbaPng(scene(97, 61, 10)));
        write("photo.webp", webp(scene(90, 70, 11), 90));
        // a progressive file has no 1/8 picture from the pass: the render decodes it
        write("progressive.jpg", jpegLaidOut(scene(330, 250, 12), 85, nullptr, progressive));
    }
    ~Folder() { fs::remove_all(path); }
    void write(const std::string& name, const Bytes& bytes)
    {
        writeWholeFile((path / name).string(), bytes);
        withCopies += name == "progressive.jpg" ? 0 : 1;
    }
};

constexpr int kCell = 24;

// Loads the folder into a fresh session, places with a fixed seed and renders.
std::vector<uint8_t> mosaicOf(const Folder& folder, bool cutEdges, Session& session, bool keep, size_t budget = 1 << 30)
{
    session.job.settings = MosaicSettings::wizardDefaults();
    LoadPicture((folder.path / "plain0.jpg").string(), session.job.sourcePicture);
    session.sourceFileName = (folder.path / "plain0.jpg").string();
    EXPECT_EQ(applySize(session.job, 6, 8, kCell, kCell), ApplyOutcome::Applied);
    FolderLoadOptions options;
    if (keep) {
        session.keptCells.prepare(kCell, kCell, budget);
        options.keep = &session.keptCells;
    }
    session.imageList.loadFolder(folder.path.string(), options);
    CreationOptions creation;
    creation.cutEdges = cutEdges;
    placeJob(session, creation, 7u);
    const PreparedRender render = prepareRender(session);
    SilentRenderHost host(render.sources);
    runRender(render, host);
    EXPECT_TRUE(host.ok) << host.error;
    const TDIB& m = session.job.mosaicImage;
    std::vector<uint8_t> bytes;
    for (int y = 0; y < m.Height(); ++y)
        bytes.insert(bytes.end(), m.ScanLine(y), m.ScanLine(y) + m.Width() * 3);
    return bytes;
}

TEST(KeptCellPictures, AFreshLoadDrawsTheSameMosaicWithoutDecodingAgain)
{
    const Folder folder;
    for (const bool cutEdges : {false, true}) {
        Session decoded, kept;
        const std::vector<uint8_t> expected = mosaicOf(folder, cutEdges, decoded, false);
        const std::vector<uint8_t> drawn = mosaicOf(folder, cutEdges, kept, true);
        EXPECT_EQ(drawn, expected) << (cutEdges ? "cut edges" : "stretched");
        EXPECT_EQ(kept.keptCells.size(), size_t(folder.withCopies));
        EXPECT_EQ(decoded.keptCells.size(), 0u);
        // every kept picture the mosaic uses was drawn from the store
        EXPECT_GT(kept.keptCells.hits(), 0u);
        EXPECT_LE(kept.keptCells.hits(), size_t(folder.withCopies));
    }
}

TEST(KeptCellPictures, OnlyForItsSizeWithinItsBudgetAndWhileTheFileIsUnchanged)
{
    const Folder folder;
    const std::string picture = (folder.path / "plain1.jpg").string();
    Session session;
    const size_t oneEntry = 2 * size_t(TDIB::widthBytesFor(kCell, 24)) * kCell;
    mosaicOf(folder, false, session, true, 2 * oneEntry);
    EXPECT_EQ(session.keptCells.size(), 2u);

    Session all;
    mosaicOf(folder, false, all, true);
    KeptCellPictures& kept = all.keptCells;
    ASSERT_TRUE(kept.find(picture, kCell, kCell, true));
    EXPECT_FALSE(kept.find(picture, kCell + 1, kCell, true));
    // the same bytes, touched: the render decodes the file as it is now
    const timespec later[2] = {{0, UTIME_OMIT}, {2000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, picture.c_str(), later, 0), 0);
    EXPECT_FALSE(kept.find(picture, kCell, kCell, true));
    // a new cell size starts afresh
    kept.prepare(32, 32, 1 << 30);
    EXPECT_EQ(kept.size(), 0u);
}

}  // namespace
}  // namespace tsx

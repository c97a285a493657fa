// Pictures and folders for the wizard's window tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <QFile>
#include <QString>

#include "engine/mosaic_job.h"
#include "gui_test_support.h"
#include "wizard/image_list.h"

namespace tsx::testing {

/// A 24-bit raster whose pixel (x, y) has blue x, green y and red 100 + x + y,
/// each wrapped to a byte, so every position has its own colour.
inline TDIB gradient(int width, int height)
{
    TDIB dib;
    dib.Allocate(width, height, 24);
    for (int y = 0; y < height; ++y) {
        uint8_t* p = dib.RowPointer(y);
        for (int x = 0; x < width; ++x, p += 3) {
            p[0] = uint8_t(x);
            p[1] = uint8_t(y);
            p[2] = uint8_t(100 + x + y);
        }
    }
    return dib;
}

inline bool samePixels(const TDIB& a, const TDIB& b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.BitCount() != b.BitCount())
        return false;
    const size_t rowBytes = size_t(a.Width()) * size_t(a.BitCount() / 8);
    for (int y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.ScanLine(y), b.ScanLine(y), rowBytes) != 0)
            return false;
    return true;
}

/// count small BMP pictures named pic00.bmp, pic01.bmp..., each of its own
/// colour and its own stripes, so that a mosaic shows which one filled a
/// cell even after the cell's colour shift.
inline std::vector<std::string> writePictures(const QString& folder, int count, int side = 12)
{
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        const QString path = folder + QStringLiteral("/pic%1.bmp").arg(i, 2, 10, QLatin1Char('0'));
        TDIB dib = solid(side, side, uint8_t(i * 37), uint8_t(255 - i * 23), uint8_t(i * 61));
        for (int y = 0; y < side; ++y) {
            uint8_t* p = dib.RowPointer(y);
            for (int x = 0; x < side; ++x, p += 3)
                p[1] = uint8_t(p[1] ^ ((x * (i + 1) + y * (i + 3)) % 48));
        }
        dib.WriteBmp(bytesOf(path));
        paths.push_back(bytesOf(path));
    }
    return paths;
}

/// The ImageList's paths agree with its signature buffer, record for record.
inline bool listInStep(const ImageList& list)
{
    return list.signatureStream().size() == list.count() * kSignatureBytes;
}

}  // namespace tsx::testing

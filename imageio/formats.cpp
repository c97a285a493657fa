#include "imageio/formats.h"

#include "imageio/graphics.h"
#include "imageio/photo_graphics.h"
#include "imageio/picture.h"

namespace tsx {

void TFileFormatsList::Add(std::string extension, std::string description, std::string className,
                           std::function<std::unique_ptr<TGraphic>()> create)
{
    entries_.push_back(TFileFormat{std::move(extension), std::move(description), std::move(className),
                                   std::move(create)});
}

const TFileFormat* TFileFormatsList::Find(const std::string& extension) const
{
    std::string lower = extension;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    // newest first: a later registration of an extension wins
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
        if (it->extension == lower)
            return &*it;
    return nullptr;
}

const TFileFormatsList& fileFormats()
{
    static const TFileFormatsList list = [] {
        TFileFormatsList l;
        l.Add("wmf", "Metafiles", "TMetafile", [] { return std::make_unique<TMetafile>(); });
        l.Add("emf", "Enhanced Metafiles", "TMetafile", [] { return std::make_unique<TMetafile>(); });
        l.Add("ico", "Icons", "TIcon", [] { return std::make_unique<TIcon>(); });
        l.Add("bmp", "Bitmaps", "TBitmap", [] { return std::make_unique<TBitmap>(); });
        l.Add("dib", "Device Independent Bitmap", "TDIB", [] { return std::make_unique<TDIB>(); });
        l.Add("jpeg", "JPEG Image File", "TJPEGImage", [] { return std::make_unique<TJPEGImage>(); });
        l.Add("jpg", "JPEG Image File", "TJPEGImage", [] { return std::make_unique<TJPEGImage>(); });
        registerDecoderFormats(l);
        registerPhotoFormats(l);
        return l;
    }();
    return list;
}

void registerPhotoFormats(TFileFormatsList& list)
{
    const auto png = [] { return std::make_unique<TPNGGraphic>(); };
    const auto webp = [] { return std::make_unique<TWebPGraphic>(); };
    const auto heif = [] { return std::make_unique<THEIFGraphic>(); };
    list.Add("png", "Portable Network Graphics", "TPNGGraphic", png);
    list.Add("webp", "WebP images", "TWebPGraphic", webp);
    list.Add("heic", "HEIF images", "THEIFGraphic", heif);
    list.Add("heif", "HEIF images", "THEIFGraphic", heif);
    list.Add("avif", "AVIF images", "THEIFGraphic", heif);
}

std::string extractExtension(const std::string& fileName)
{
    const size_t dot = fileName.rfind('.');
    const size_t slash = fileName.rfind('/');
    // a dot in a folder name does not start an extension
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    return fileName.substr(dot + 1);
}

}  // namespace tsx

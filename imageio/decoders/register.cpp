// Entries 8 to 35 of the format registry. The decoders fill this in; until a
// format's decoder exists its files raise a clear error.
#include "imageio/formats.h"
#include "imageio/picture.h"
#include "raster/errors.h"

namespace tsx {
namespace {

class TPendingGraphic : public TBitmap {
public:
    explicit TPendingGraphic(const char* name) : name_(name) {}
    const char* ClassName() const override { return name_; }
    void LoadFromMemory(const uint8_t*, size_t) override
    {
        throw EInvalidGraphic(formatMessage("%s files cannot be read yet", name_));
    }

private:
    const char* name_;
};

}  // namespace

void registerDecoderFormats(TFileFormatsList& list)
{
    struct Entry { const char* ext; const char* desc; const char* cls; };
    static const Entry entries[] = {
        {"win", "Truevision images", "TTargaGraphic"},
        {"vst", "Truevision images", "TTargaGraphic"},
        {"vda", "Truevision images", "TTargaGraphic"},
        {"tiff", "TIFF images", "TTIFFGraphic"},
        {"tif", "TIFF images", "TTIFFGraphic"},
        {"tga", "Truevision images", "TTargaGraphic"},
        {"sgi", "SGI true color images", "TSGIGraphic"},
        {"scr", "Word 5.x screen capture images", "TPCXGraphic"},
        {"rpf", "SGI Wavefront images", "TRLAGraphic"},
        {"rle", "Windows bitmap", "TBitmap"},
        {"rla", "SGI Wavefront images", "TRLAGraphic"},
        {"rgba", "SGI true color images", "TSGIGraphic"},
        {"rgb", "SGI true color images", "TSGIGraphic"},
        {"psd", "Photoshop images", "TPSDGraphic"},
        {"ppm", "Portable pixel map images", "TPPMGraphic"},
        {"pgm", "Portable grayscale images", "TPPMGraphic"},
        {"pbm", "Portable b&w images", "TPPMGraphic"},
        {"pic", "Autodesk images", "TAutodeskGraphic"},
        {"pcx", "ZSoft PCX images", "TPCXGraphic"},
        {"pdd", "Photoshop images", "TPSDGraphic"},
        {"pcd", "Kodak Photo-CD images", "TPCDGraphic"},
        {"pcc", "ZSoft PCC images", "TPCXGraphic"},
        {"icb", "Truevision images", "TTargaGraphic"},
        {"gif", "CompuServe images", "TGIFGraphic"},
        {"dib", "Windows bitmap", "TBitmap"},
        {"cut", "Dr. Halo images", "TCUTGraphic"},
        {"cel", "Autodesk images", "TAutodeskGraphic"},
        {"bw", "SGI black/white images", "TSGIGraphic"},
    };
    for (const Entry& e : entries) {
        const std::string cls = e.cls;
        if (cls == "TBitmap")
            list.Add(e.ext, e.desc, cls, [] { return std::make_unique<TBitmap>(); });
        else
            list.Add(e.ext, e.desc, cls, [name = e.cls] { return std::make_unique<TPendingGraphic>(name); });
    }
}

}  // namespace tsx

// Entries 8 to 35 of the format registry, in their fixed order.
#include "imageio/decoders/graphics.h"
#include "imageio/formats.h"

namespace tsx {

namespace {
template <class Graphic>
std::function<std::unique_ptr<TGraphic>()> factory()
{
    return [] { return std::make_unique<Graphic>(); };
}
}  // namespace

void registerDecoderFormats(TFileFormatsList& list)
{
    struct Entry {
        const char* ext;
        const char* desc;
        const char* cls;
        std::function<std::unique_ptr<TGraphic>()> create;
    };
    const Entry entries[] = {
        {"win", "Truevision images", "TTargaGraphic", factory<TTargaGraphic>()},
        {"vst", "Truevision images", "TTargaGraphic", factory<TTargaGraphic>()},
        {"vda", "Truevision images", "TTargaGraphic", factory<TTargaGraphic>()},
        {"tiff", "TIFF images", "TTIFFGraphic", factory<TTIFFGraphic>()},
        {"tif", "TIFF images", "TTIFFGraphic", factory<TTIFFGraphic>()},
        {"tga", "Truevision images", "TTargaGraphic", factory<TTargaGraphic>()},
        {"sgi", "SGI true color images", "TSGIGraphic", factory<TSGIGraphic>()},
        {"scr", "Word 5.x screen capture images", "TPCXGraphic", factory<TPCXGraphic>()},
        {"rpf", "SGI Wavefront images", "TRLAGraphic", factory<TRLAGraphic>()},
        {"rle", "Windows bitmap", "TBitmap", factory<TBitmap>()},
        {"rla", "SGI Wavefront images", "TRLAGraphic", factory<TRLAGraphic>()},
        {"rgba", "SGI true color images", "TSGIGraphic", factory<TSGIGraphic>()},
        {"rgb", "SGI true color images", "TSGIGraphic", factory<TSGIGraphic>()},
        {"psd", "Photoshop images", "TPSDGraphic", factory<TPSDGraphic>()},
        {"ppm", "Portable pixel map images", "TPPMGraphic", factory<TPPMGraphic>()},
        {"pgm", "Portable grayscale images", "TPPMGraphic", factory<TPPMGraphic>()},
        {"pbm", "Portable b&w images", "TPPMGraphic", factory<TPPMGraphic>()},
        {"pic", "Autodesk images", "TAutodeskGraphic", factory<TAutodeskGraphic>()},
        {"pcx", "ZSoft PCX images", "TPCXGraphic", factory<TPCXGraphic>()},
        {"pdd", "Photoshop images", "TPSDGraphic", factory<TPSDGraphic>()},
        {"pcd", "Kodak Photo-CD images", "TPCDGraphic", factory<TPCDGraphic>()},
        {"pcc", "ZSoft PCC images", "TPCXGraphic", factory<TPCXGraphic>()},
        {"icb", "Truevision images", "TTargaGraphic", factory<TTargaGraphic>()},
        {"gif", "CompuServe images", "TGIFGraphic", factory<TGIFGraphic>()},
        {"dib", "Windows bitmap", "TBitmap", factory<TBitmap>()},
        {"cut", "Dr. Halo images", "TCUTGraphic", factory<TCUTGraphic>()},
        {"cel", "Autodesk images", "TAutodeskGraphic", factory<TAutodeskGraphic>()},
        {"bw", "SGI black/white images", "TSGIGraphic", factory<TSGIGraphic>()},
    };
    for (const Entry& e : entries)
        list.Add(e.ext, e.desc, e.cls, e.create);
}

}  // namespace tsx

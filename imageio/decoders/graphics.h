// The graphic classes of the image decoders, one per file format. Each reads
// a whole file from memory into its bitmap at the bit count that suits the
// format; LoadPicture turns the result into 24 bits afterwards.
#pragma once

#include <span>
#include <string>

#include "imageio/picture.h"

namespace tsx {

#define TSX_DECLARE_DECODER_GRAPHIC(Name)                                 \
    class Name : public TBitmap {                                         \
    public:                                                               \
        const char* ClassName() const override { return #Name; }          \
        void LoadFromMemory(const uint8_t* data, size_t size) override;   \
    };

/// CompuServe GIF: the first image of the file, 8 bits with its colour table.
TSX_DECLARE_DECODER_GRAPHIC(TGIFGraphic)
/// ZSoft PCX, PCC and Word screen captures (SCR).
TSX_DECLARE_DECODER_GRAPHIC(TPCXGraphic)
/// Autodesk Animator PIC and CEL pictures.
TSX_DECLARE_DECODER_GRAPHIC(TAutodeskGraphic)
/// Truevision Targa, uncompressed and run-length.
TSX_DECLARE_DECODER_GRAPHIC(TTargaGraphic)
/// TIFF: the first image, in strips, uncompressed, LZW or PackBits.
TSX_DECLARE_DECODER_GRAPHIC(TTIFFGraphic)
/// SGI images (SGI, RGB, RGBA, BW).
TSX_DECLARE_DECODER_GRAPHIC(TSGIGraphic)
/// Photoshop's merged image (PSD, PDD).
TSX_DECLARE_DECODER_GRAPHIC(TPSDGraphic)
/// The portable bitmap, greymap and pixmap family (P1 to P6).
TSX_DECLARE_DECODER_GRAPHIC(TPPMGraphic)
/// Wavefront RLA and RPF.
TSX_DECLARE_DECODER_GRAPHIC(TRLAGraphic)
/// Kodak Photo-CD: recognised, but its pictures are not decoded.
TSX_DECLARE_DECODER_GRAPHIC(TPCDGraphic)

#undef TSX_DECLARE_DECODER_GRAPHIC

/// Dr. Halo CUT; its colours come from the ".pal" file of the same name.
class TCUTGraphic : public TBitmap {
public:
    const char* ClassName() const override { return "TCUTGraphic"; }
    /// Reads the picture and, when one lies beside it, its ".pal" palette.
    void LoadFromFile(const std::string& fileName) override;
    /// Reads the picture alone; its colours are a grey ramp.
    void LoadFromMemory(const uint8_t* data, size_t size) override;
    /// Reads the picture with the bytes of its palette file (empty: none).
    void LoadWithPalette(const uint8_t* data, size_t size, std::span<const uint8_t> palette);
};

}  // namespace tsx

#include <webp/decode.h>
#include <webp/demux.h>

#include <memory>
#include <string>

#include "imageio/exif.h"
#include "imageio/photo_graphics.h"
#include "raster/errors.h"

namespace tsx {

namespace {

// As for JPEG: beyond a floor, a picture may be at most this many times the
// size of its file, so a forged header cannot make us allocate gigabytes.
constexpr int64_t kUncheckedRasterBytes = int64_t(8) << 20;
constexpr int64_t kMaxExpansion = 4096;

const char* statusText(VP8StatusCode status)
{
    switch (status) {
    case VP8_STATUS_OUT_OF_MEMORY: return "out of memory";
    case VP8_STATUS_INVALID_PARAM: return "invalid parameter";
    case VP8_STATUS_BITSTREAM_ERROR: return "bitstream error";
    case VP8_STATUS_UNSUPPORTED_FEATURE: return "unsupported feature";
    case VP8_STATUS_SUSPENDED: return "suspended";
    case VP8_STATUS_USER_ABORT: return "user abort";
    case VP8_STATUS_NOT_ENOUGH_DATA: return "not enough data";
    default: return "unknown error";
    }
}

[[noreturn]] void raise(const char* text) { throw EInvalidGraphic(std::string("WebP: ") + text); }

struct DemuxDelete {
    void operator()(WebPDemuxer* d) const { WebPDemuxDelete(d); }
};
struct AnimDelete {
    void operator()(WebPAnimDecoder* d) const { WebPAnimDecoderDelete(d); }
};
struct BufferFree {
    void operator()(uint8_t* p) const { WebPFree(p); }
};

void copyRgbaRows(const uint8_t* rgba, int w, int h, TDIB& out)
{
    out.Allocate(w, h, 24);
    for (int y = 0; y < h; ++y)
        compositeRgbaOnWhite(rgba + size_t(y) * size_t(w) * 4, out.RowPointer(y), w);
}

}  // namespace

void TWebPGraphic::LoadFromMemory(const uint8_t* data, size_t size)
{
    WebPBitstreamFeatures features {};
    const VP8StatusCode status = WebPGetFeatures(data, size, &features);
    if (status != VP8_STATUS_OK)
        raise(statusText(status));
    const int64_t w = features.width, h = features.height;
    if (w * h > kMaxPicturePixels
        || (w * 3 + 3) / 4 * 4 * h > std::max(kUncheckedRasterBytes, kMaxExpansion * int64_t(size)))
        raise("picture too large");

    const WebPData whole{data, size};
    std::unique_ptr<WebPDemuxer, DemuxDelete> demux(WebPDemux(&whole));
    int orientation = 1;
    if (demux) {
        WebPChunkIterator chunk;
        if (WebPDemuxGetChunk(demux.get(), "EXIF", 1, &chunk)) {
            orientation = exifOrientation({chunk.chunk.bytes, chunk.chunk.size});
            WebPDemuxReleaseChunkIterator(&chunk);
        }
    }

    TDIB result;
    if (features.has_animation) {
        WebPAnimDecoderOptions options;
        if (!WebPAnimDecoderOptionsInit(&options))
            raise("invalid parameter");
        options.color_mode = MODE_RGBA;
        options.use_threads = 0;
        std::unique_ptr<WebPAnimDecoder, AnimDelete> anim(WebPAnimDecoderNew(&whole, &options));
        if (!anim)
            raise("bitstream error");
        WebPAnimInfo info {};
        WebPAnimDecoderGetInfo(anim.get(), &info);
        if (int64_t(info.canvas_width) * info.canvas_height > kMaxPicturePixels)
            raise("picture too large");
        uint8_t* frame = nullptr;
        int timestamp = 0;
        // the first frame alone: the canvas as it stands after it
        if (!WebPAnimDecoderGetNext(anim.get(), &frame, &timestamp) || !frame)
            raise("bitstream error");
        copyRgbaRows(frame, int(info.canvas_width), int(info.canvas_height), result);
    } else {
        int dw = 0, dh = 0;
        std::unique_ptr<uint8_t, BufferFree> rgba(WebPDecodeRGBA(data, size, &dw, &dh));
        if (!rgba)
            raise("bitstream error");
        copyRgbaRows(rgba.get(), dw, dh, result);
    }
    dib_ = result;
    orientation_ = orientation;
}

}  // namespace tsx

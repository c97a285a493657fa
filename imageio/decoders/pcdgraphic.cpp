#include <cstring>

#include "imageio/decoders/decode_support.h"
#include "imageio/decoders/graphics.h"

namespace tsx {

namespace {
constexpr const char* kWrongPCD = "PCD: wrong image format.";
constexpr const char* kPCDNotDecoded = "PCD: Photo-CD images cannot be shown.";

constexpr size_t kSignatureAt = 2048;
}  // namespace

// Photo-CD files are recognised so that the user learns why they do not load;
// their Photo YCC pictures are not decoded.
void TPCDGraphic::LoadFromMemory(const uint8_t* data, size_t size)
{
    if (size < kSignatureAt + 7 || std::memcmp(data + kSignatureAt, "PCD_IPI", 7) != 0)
        decode::fail(kWrongPCD);
    decode::fail(kPCDNotDecoded);
}

}  // namespace tsx

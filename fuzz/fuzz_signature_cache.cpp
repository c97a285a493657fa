// The signature cache file: any bytes are refused or read, and what is read
// is written back to the same bytes
#include <cstdlib>

#include "wizard/signature_cache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto entries = tsx::SignatureCache::parse({data, size});
    if (!entries)
        return 0;
    tsx::SignatureCache cache;
    for (const auto& [key, entry] : *entries)
        cache.store(key, entry);
    const auto again = tsx::SignatureCache::parse(cache.serialize());
    if (!again || again->size() != cache.size())
        std::abort();
    return 0;
}

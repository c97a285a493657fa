// The registry that maps a file extension to the graphic class reading it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "raster/dib.h"

namespace tsx {

struct TFileFormat {
    std::string extension;    // lower case, no dot
    std::string description;
    std::string className;    // the class registered
    std::function<std::unique_ptr<TGraphic>()> create;
};

class TFileFormatsList {
public:
    void Add(std::string extension, std::string description, std::string className,
             std::function<std::unique_ptr<TGraphic>()> create);
    // Newest entry first; the extension in any case, without the dot.
    const TFileFormat* Find(const std::string& extension) const;
    const std::vector<TFileFormat>& Entries() const { return entries_; }

private:
    std::vector<TFileFormat> entries_;
};

// The registry, filled on first use with all entries in their fixed order.
const TFileFormatsList& fileFormats();

// Registers entries 8 to 35 (the decoders' module) in their order.
void registerDecoderFormats(TFileFormatsList& list);

// The extension of a file name: the text after the last "." that follows the
// last "/"; empty when there is none. Returned as written (case kept).
std::string extractExtension(const std::string& fileName);

}  // namespace tsx

// The Intel-hex reader of EEPROM images: the input as hex text must load with
// a range that covers every byte it stored, or be refused; the input as an
// image must come back unchanged through the writer and the reader.
#include "tools/intel_hex.hpp"

#include <algorithm>
#include <array>

#include "support/byte_reader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::array<uint8_t, kHexImageBytes> image;
    static HexCoverage loaded;

    image.fill(0xFF);
    const HexLoad load = ParseIntelHex(fuzzsupport::asText({data, size}), image, loaded);
    FUZZ_CHECK(load.result == kHexLoaded || load.result == kHexFormatError ||
               load.result == kHexChecksumError);
    // A loaded file's range covers every byte it gave (a refused one is not written).
    if (load.result == kHexLoaded) {
        if (load.length > 0) FUZZ_CHECK(load.start + load.length <= kHexImageBytes);
        for (size_t i = 0; i < kHexImageBytes; ++i) {
            if (loaded[i]) FUZZ_CHECK(i >= load.start && i < load.start + load.length);
        }
    }

    const size_t bytes = std::min(size, kHexImageBytes);
    const std::string text = FormatIntelHex({data, bytes});
    image.fill(0);
    const HexLoad back = ParseIntelHex(text, image, loaded);
    FUZZ_CHECK(back.result == kHexLoaded && loaded.count() == bytes);
    FUZZ_CHECK(std::equal(data, data + bytes, image.begin()));
    if (bytes > 0) FUZZ_CHECK(back.start == 0 && back.length == bytes);
    return 0;
}

// The bridge's firmware loader: the input's lines (split at LF) are written to
// it one after the other, 100 ms apart, so that an erase completes after a few
// lines; every reply is read after each line.
#include "ecsim/firmware_loader.hpp"

#include <algorithm>
#include <string>

#include "support/byte_reader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string flashed;
    ecsim::FirmwareLoader loader([&flashed](std::string_view text) { flashed = text; });
    ecsim::Clock::time_point now{};
    const std::string_view text = fuzzsupport::asText({data, size});
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        // Each write carries what one SDO download may: longer lines arrive in pieces.
        std::string_view line = text.substr(at, end - at);
        do {
            loader.write(line.substr(0, ecsim::FirmwareLoader::kMaxWrite), now);
            line.remove_prefix(std::min(line.size(), ecsim::FirmwareLoader::kMaxWrite));
        } while (!line.empty());
        now += std::chrono::milliseconds(100);
        loader.tick(now);
        for (int i = 0; i < 4; ++i) (void)loader.read();
        at = end + 1;
    }
    FUZZ_CHECK(flashed.size() <= 32);
    return 0;
}

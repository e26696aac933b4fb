// zrsim's command line.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "ecsim/segment.hpp"

namespace zrsim {

struct Options {
    std::string interfaceName;
    std::vector<ecsim::SlaveSpec> slaves;
    std::string controlPath;  // empty = no control channel
    std::chrono::milliseconds watchdog{100};
    std::string firmwarePath;  // --write-firmware: write the sample image there and end
    bool help = false;
};

extern const char* const kUsage;

// The options, or nothing with `error` set.
std::optional<Options> parseOptions(const std::vector<std::string>& args, std::string* error);

}  // namespace zrsim

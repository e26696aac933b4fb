#include "options.hpp"

#include <charconv>

namespace zrsim {

const char* const kUsage =
    "usage: zrsim --iface IF --slaves LIST [--control PATH] [--watchdog MS]\n"
    "       zrsim --write-firmware FILE\n"
    "  --iface IF       network interface to serve the segment on (needs CAP_NET_RAW)\n"
    "  --slaves LIST    slaves in line order, e.g. ZR12,IO,ZR02 or ZR12:1-3,CPL@1024\n"
    "                   (@BYTES: EEPROM size)\n"
    "  --control PATH   Unix socket taking fault commands, one per line\n"
    "  --watchdog MS    sync manager watchdog in ms (default 100, 0 = off)\n"
    "  --write-firmware FILE   write a firmware image for the simulated bridges\n"
    "                   (S-record text, a newer version than theirs) and end\n";

std::optional<Options> parseOptions(const std::vector<std::string>& args, std::string* error) {
    Options o;
    bool haveSlaves = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            o.help = true;
            return o;
        }
        if (a != "--iface" && a != "--slaves" && a != "--control" && a != "--watchdog" &&
            a != "--write-firmware") {
            *error = "unknown option '" + a + "'";
            return std::nullopt;
        }
        if (i + 1 >= args.size()) {
            *error = a + " needs a value";
            return std::nullopt;
        }
        const std::string& v = args[++i];
        if (a == "--iface") {
            o.interfaceName = v;
        } else if (a == "--control") {
            o.controlPath = v;
        } else if (a == "--write-firmware") {
            o.firmwarePath = v;
        } else if (a == "--slaves") {
            std::string why;
            auto specs = ecsim::parseSlaveList(v, &why);
            if (!specs) {
                *error = "--slaves: " + why;
                return std::nullopt;
            }
            o.slaves = std::move(*specs);
            haveSlaves = true;
        } else {
            unsigned ms = 0;
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), ms);
            if (ec != std::errc() || end != v.data() + v.size() || ms > 600'000) {
                *error = "--watchdog '" + v + "' is not 0 to 600000 ms";
                return std::nullopt;
            }
            o.watchdog = std::chrono::milliseconds(ms);
        }
    }
    if (!o.firmwarePath.empty()) {
        if (!o.interfaceName.empty() || haveSlaves || !o.controlPath.empty()) {
            *error = "--write-firmware serves no segment; give it alone";
            return std::nullopt;
        }
        return o;
    }
    if (o.interfaceName.empty()) {
        *error = "--iface is required";
        return std::nullopt;
    }
    if (!haveSlaves) {
        *error = "--slaves is required";
        return std::nullopt;
    }
    return o;
}

}  // namespace zrsim

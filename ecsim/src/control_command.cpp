#include "ecsim/control_command.hpp"

#include <charconv>
#include <chrono>
#include <vector>

#include "ecsim/bridge.hpp"
#include "ecsim/slave.hpp"

namespace ecsim {

namespace {

constexpr uint32_t kMaxDelayUs = 10'000'000;  // a longer delay is a lost frame to any master
constexpr uint32_t kMaxDropNext = 1'000'000;
constexpr uint32_t kMaxLoaderLines = 1'000'000;
constexpr uint32_t kMaxLateReads = 10'000;

struct LoaderFaultName {
    std::string_view name;
    ControlCommand::LoaderFault fault;
    bool takesLines;  // a line count N
    bool takesReads;  // and, optionally, a read count READS
};
constexpr LoaderFaultName kLoaderFaults[] = {
    {"clear", ControlCommand::LoaderFault::Clear, false, false},
    {"refuse-prgmo", ControlCommand::LoaderFault::RefuseProgramMode, false, false},
    {"never-ready", ControlCommand::LoaderFault::NeverReady, false, false},
    {"late", ControlCommand::LoaderFault::Late, true, true},
    {"mute", ControlCommand::LoaderFault::Mute, true, false},
    {"silent", ControlCommand::LoaderFault::Silent, false, false},
};

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

// Decimal, or hexadecimal with 0x.
bool parseUnsigned(std::string_view text, uint64_t max, uint64_t& out) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return ec == std::errc() && end == text.data() + text.size() && out <= max;
}

bool parseRate(std::string_view text, double& out) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && out >= 0.0 && out <= 1.0;
}

std::string applyLoaderFault(Segment& segment, const ControlCommand& c) {
    const auto lock = segment.lock();
    auto* bridge = dynamic_cast<BridgeDevice*>(&segment.slave(c.position).device());
    if (bridge == nullptr) {
        return "error: slave " + std::to_string(c.position) + " is not a bridge";
    }
    FirmwareLoader::Faults faults = bridge->loader().faults();
    using Fault = ControlCommand::LoaderFault;
    switch (c.fault) {
        case Fault::Clear:
            faults = {};
            break;
        case Fault::RefuseProgramMode:
            faults.refuseProgramMode = true;
            break;
        case Fault::NeverReady:
            faults.neverReady = true;
            break;
        case Fault::Late:
            faults.lateLines = c.count;
            faults.lateReads = c.reads;
            break;
        case Fault::Mute:
            faults.mutedLines = c.count;
            break;
        case Fault::Silent:
            faults.silent = true;
            break;
    }
    bridge->setLoaderFaults(faults);
    return "ok";
}

}  // namespace

std::variant<ControlCommand, std::string> parseControlCommand(std::string_view line) {
    const auto w = words(line);
    if (w.empty()) return std::string("empty command");
    const std::string_view name = w[0];
    ControlCommand c;
    auto arguments = [&](size_t min, size_t max) -> std::string {
        if (w.size() - 1 < min || w.size() - 1 > max) {
            return std::string(name) + " takes " +
                   (min == max ? std::to_string(min)
                               : std::to_string(min) + " or " + std::to_string(max)) +
                   (max == 1 ? " argument" : " arguments");
        }
        return {};
    };
    auto position = [&](std::string_view text) -> std::string {
        uint64_t v = 0;
        if (!parseUnsigned(text, 0xFFFF, v) || v == 0) {
            return "slave position '" + std::string(text) + "' is not a number from 1";
        }
        c.position = static_cast<size_t>(v);
        return {};
    };
    std::string error;
    if (name == "drop") {
        c.kind = ControlCommand::Kind::Drop;
        if (!(error = arguments(1, 1)).empty()) return error;
        if (!parseRate(w[1], c.rate)) return "drop rate '" + std::string(w[1]) + "' is not 0 to 1";
    } else if (name == "delay" || name == "drop-next") {
        const bool delay = name == "delay";
        c.kind = delay ? ControlCommand::Kind::Delay : ControlCommand::Kind::DropNext;
        if (!(error = arguments(1, 1)).empty()) return error;
        const uint32_t max = delay ? kMaxDelayUs : kMaxDropNext;
        uint64_t v = 0;
        if (!parseUnsigned(w[1], max, v)) {
            return std::string(name) + " '" + std::string(w[1]) + "' is not 0 to " +
                   std::to_string(max) + (delay ? " us" : " frames");
        }
        c.count = static_cast<uint32_t>(v);
    } else if (name == "power-off" || name == "power-on") {
        c.kind =
            name == "power-off" ? ControlCommand::Kind::PowerOff : ControlCommand::Kind::PowerOn;
        if (!(error = arguments(1, 1)).empty()) return error;
        if (!(error = position(w[1])).empty()) return error;
    } else if (name == "safeop-error") {
        c.kind = ControlCommand::Kind::SafeOpError;
        if (!(error = arguments(1, 2)).empty()) return error;
        if (!(error = position(w[1])).empty()) return error;
        if (w.size() == 3) {
            uint64_t v = 0;
            if (!parseUnsigned(w[2], 0xFFFF, v) || v == 0) {
                return "AL status code '" + std::string(w[2]) + "' is not 1 to 0xFFFF";
            }
            c.code = static_cast<uint16_t>(v);
        }
    } else if (name == "loader") {
        c.kind = ControlCommand::Kind::Loader;
        if (w.size() < 3) return "loader takes a slave position and a fault";
        if (!(error = position(w[1])).empty()) return error;
        const LoaderFaultName* found = nullptr;
        for (const LoaderFaultName& f : kLoaderFaults) {
            if (f.name == w[2]) found = &f;
        }
        if (found == nullptr) {
            return "unknown loader fault '" + std::string(w[2]) +
                   "' (refuse-prgmo, never-ready, late, mute, silent, clear)";
        }
        c.fault = found->fault;
        const size_t maxWords = 3 + size_t{found->takesLines} + size_t{found->takesReads};
        if (w.size() > maxWords || (found->takesLines && w.size() < 4)) {
            return "loader " + std::string(found->name) +
                   (found->takesReads   ? " takes N [READS]"
                    : found->takesLines ? " takes N"
                                        : " takes no argument");
        }
        uint64_t v = 0;
        if (found->takesLines) {
            if (!parseUnsigned(w[3], kMaxLoaderLines, v)) {
                return "line count '" + std::string(w[3]) + "' is not 0 to " +
                       std::to_string(kMaxLoaderLines);
            }
            c.count = static_cast<uint32_t>(v);
        }
        if (w.size() == 5) {
            if (!parseUnsigned(w[4], kMaxLateReads, v) || v == 0) {
                return "read count '" + std::string(w[4]) + "' is not 1 to " +
                       std::to_string(kMaxLateReads);
            }
            c.reads = static_cast<uint32_t>(v);
        }
    } else {
        return "unknown command '" + std::string(name) +
               "' (drop, delay, drop-next, power-off, power-on, safeop-error, loader)";
    }
    return c;
}

std::string runControlLine(Segment& segment, std::string_view line) {
    auto parsed = parseControlCommand(line);
    if (auto* error = std::get_if<std::string>(&parsed)) return "error: " + *error;
    const auto& c = std::get<ControlCommand>(parsed);
    using Kind = ControlCommand::Kind;
    const bool needsSlave = c.kind == Kind::PowerOff || c.kind == Kind::PowerOn ||
                            c.kind == Kind::SafeOpError || c.kind == Kind::Loader;
    if (needsSlave && c.position > segment.slaveCount()) {
        return "error: no slave at position " + std::to_string(c.position) + " (the segment has " +
               std::to_string(segment.slaveCount()) + ")";
    }
    switch (c.kind) {
        case Kind::Drop:
            segment.setDropRate(c.rate);
            break;
        case Kind::Delay:
            segment.setDelay(std::chrono::microseconds(c.count));
            break;
        case Kind::DropNext:
            segment.dropNext(c.count);
            break;
        case Kind::PowerOff:
            segment.powerOff(c.position);
            break;
        case Kind::PowerOn:
            segment.powerOn(c.position);
            break;
        case Kind::SafeOpError:
            segment.forceSafeOpError(c.position, c.code);
            break;
        case Kind::Loader:
            return applyLoaderFault(segment, c);
    }
    return "ok";
}

}  // namespace ecsim

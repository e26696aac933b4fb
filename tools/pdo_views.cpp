#include "tools/pdo_views.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "bus/globals.hpp"
#include "bus/process_image.hpp"
#include "ethercat.h"
#include "tools/field_number.hpp"

int32_t g_pdoTick = 0;
PdoChangeTables g_pdoChangeTables;

namespace {

constexpr int32_t kMarkTick = 5;
constexpr int32_t kRebuildTick = 10;

constexpr size_t kMaxAddressChars = 3;
constexpr size_t kBytesChars = 1;
constexpr size_t kMaxDataChars = 9;

// Whether the ramp hold in g_moveStop is the one the dialog's box made, and the
// count of stops given when it was made: a stop since then is in force too.
bool holdIsTheDialogs = false;
uint32_t stopsAtHold = 0;

// An area's start and size, when it lies inside the process image.
struct Area {
    uint8_t* start = nullptr;
    uint32_t size = 0;
};

Area ImageArea(uint8_t* start, uint32_t size) {
    if (start < g_ioMap || start > g_ioMap + kIoMapSize) return {};
    const auto room = static_cast<uint32_t>(g_ioMap + kIoMapSize - start);
    return {start, std::min(size, room)};
}

// The caller holds the image lock.
PdoSlaveBytes SlaveBytes(const Area& area, int slaveCount, int slavesFound, bool inputs) {
    PdoSlaveBytes slaves(static_cast<size_t>(std::max(0, slaveCount)));
    uint32_t offset = 0;
    for (int s = 1; s <= slaveCount && s <= slavesFound && s < EC_MAXSLAVE; ++s) {
        const uint16_t bits = inputs ? ec_slave[s].Ibits : ec_slave[s].Obits;
        if (bits < 8) continue;
        const uint32_t count = bits / 8u;
        const uint32_t from = std::min(offset, area.size);
        const uint32_t to = std::min(offset + count, area.size);
        slaves[static_cast<size_t>(s - 1)].assign(area.start + from, area.start + to);
        offset += count;
    }
    return slaves;
}

PdoLineMarks Mark(const PdoSlaveBytes& slaves, uint8_t (&last)[kPdoTableRows][kPdoTableColumns],
                  uint8_t (&countdowns)[kPdoTableRows][kPdoTableColumns]) {
    PdoLineMarks marks(slaves.size());
    for (size_t line = 0; line < slaves.size(); ++line) {
        const size_t row = line + 1;
        if (row >= kPdoTableRows) break;
        const size_t tracked = std::min<size_t>(slaves[line].size(), kPdoTableColumns);
        for (size_t j = 0; j < tracked; ++j) {
            const uint8_t byte = slaves[line][j];
            if (byte != last[row][j]) {
                last[row][j] = byte;
                countdowns[row][j] = kPdoHighlightMarkings;
            } else if (countdowns[row][j] > 0) {
                --countdowns[row][j];
            }
            if (countdowns[row][j] != 0) marks[line].push_back(static_cast<int>(j));
        }
    }
    return marks;
}

}  // namespace

void ClearPdoChangeTables() {
    std::memset(&g_pdoChangeTables, 0, sizeof g_pdoChangeTables);
}

void ResetPdoViewState() {
    g_pdoTick = 0;
    ClearPdoChangeTables();
    holdIsTheDialogs = false;
    stopsAtHold = 0;
}

PdoTickWork AdvancePdoTick() {
    ++g_pdoTick;
    if (g_pdoTick == kMarkTick) return PdoTickWork::MarkChanges;
    if (g_pdoTick < kRebuildTick) return PdoTickWork::None;
    g_pdoTick = 0;
    return PdoTickWork::Rebuild;
}

PdoImage ReadPdoImage(int slaveCount) {
    const int slavesFound = g_slavesFound.load();
    auto lock = LockProcessImage();
    const Area inputs = ImageArea(ec_slave[0].inputs, MappedInputBytes());
    const Area outputs = ImageArea(ec_slave[0].outputs, MappedOutputBytes());
    return {SlaveBytes(inputs, slaveCount, slavesFound, true),
            SlaveBytes(outputs, slaveCount, slavesFound, false)};
}

std::vector<std::string> PdoViewLines(const PdoSlaveBytes& slaves) {
    std::vector<std::string> lines;
    lines.reserve(slaves.size());
    for (const std::vector<uint8_t>& bytes : slaves) {
        std::string line;
        line.reserve(3 * bytes.size());
        for (const uint8_t byte : bytes) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02X ", byte);
            line += hex;
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

PdoMarks MarkChangedBytes(const PdoImage& image) {
    PdoChangeTables& t = g_pdoChangeTables;
    return {Mark(image.inputs, t.lastInputs, t.inputCountdowns),
            Mark(image.outputs, t.lastOutputs, t.outputCountdowns)};
}

std::wstring WriteTxPdo(const std::wstring& address, const std::wstring& bytes,
                        const std::wstring& data) {
    if (address.empty() || address.size() > kMaxAddressChars || bytes.size() != kBytesChars ||
        data.empty() || data.size() > kMaxDataChars) {
        return kTxPdoDataError;
    }
    int32_t start = 0;
    int32_t count = 0;
    uint32_t value = 0;
    if (!ReadDecimalField(address, &start) || !ReadDecimalField(bytes, &count) ||
        !ReadHexField(data, &value) || start < 0 || count < 0) {
        return kTxPdoDataError;
    }
    auto lock = LockProcessImage();
    const Area outputs = ImageArea(ec_slave[0].outputs, MappedOutputBytes());
    if (outputs.start == nullptr ||
        static_cast<uint32_t>(start) + static_cast<uint32_t>(count) > outputs.size) {
        return kTxPdoDataError;
    }
    uint8_t* out = outputs.start + start;
    auto remaining = static_cast<int32_t>(value);
    for (int32_t k = 0; k < count; ++k) {
        out[k] = static_cast<uint8_t>(remaining & 0xFF);
        remaining >>= 8;  // keeps the sign: bytes past the fourth are 0x00 or 0xFF
    }
    return {};
}

void SetCia402DisableHold(bool ticked) {
    if (ticked) {
        if (g_moveStop.load() == 0) {
            g_moveStop = 1;
            holdIsTheDialogs = true;
            stopsAtHold = PositionRampStops();
        }
        return;
    }
    ReleaseCia402DisableHold();
}

void ReleaseCia402DisableHold() {
    if (holdIsTheDialogs && PositionRampStops() == stopsAtHold) g_moveStop = 0;
    holdIsTheDialogs = false;
}

void ForgetReleasedCia402DisableHold() {
    if (g_moveStop.load() == 0) holdIsTheDialogs = false;
}

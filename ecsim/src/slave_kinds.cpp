#include "ecsim/slave_kinds.hpp"

#include <algorithm>

#include "ecsim/bridge.hpp"
#include "ecsim/sii_image.hpp"
#include "ethercat.h"

namespace ecsim {

namespace {

constexpr uint32_t kBridgeVendor = 0x00000A3E;
constexpr uint32_t kTerminalVendor = 0x00000B17;
constexpr uint32_t kBridgeRevision = 0x00010007;

// Register 0x0140 / SII word 0: the kind of process data interface.
constexpr uint16_t kPdiNone = 0x0000;
constexpr uint16_t kPdiDigitalIo = 0x0004;
constexpr uint16_t kPdiSpi = 0x0005;

// Control bytes: mailbox written by the master, mailbox read by it, buffered
// outputs with watchdog, buffered inputs (PDI event on all).
constexpr uint8_t kCtlMailboxOut = 0x26;
constexpr uint8_t kCtlMailboxIn = 0x22;
constexpr uint8_t kCtlOutputs = 0x64;
constexpr uint8_t kCtlInputs = 0x20;

bool isBridge(SlaveKind kind) {
    return kind == SlaveKind::ZR01 || kind == SlaveKind::ZR02 || kind == SlaveKind::ZR12;
}

SiiSyncManager siiSm(const SmArea& a, uint8_t type) {
    return SiiSyncManager{a.start, a.length, a.control, 1, type};
}

void describeBridge(SlaveConfig& c, SiiDescription& d) {
    c.escType = 0x11;
    c.portDescriptor = 0x0F;  // ports 0 and 1 MII
    c.features = 0x000C;      // DC, 64-bit system time
    c.eeprom8Bytes = true;
    c.writeMailbox = SmArea{0, 0x1000, 128, kCtlMailboxOut};
    c.readMailbox = SmArea{1, 0x1080, 128, kCtlMailboxIn};
    c.outputs = SmArea{2, 0x1100, 24, kCtlOutputs};
    c.inputs = SmArea{3, 0x1180, 24, kCtlInputs};
    d.pdiControl = kPdiSpi;
    d.rxMailboxOffset = 0x1000;
    d.rxMailboxSize = 128;
    d.txMailboxOffset = 0x1080;
    d.txMailboxSize = 128;
    d.mailboxProtocols = ECT_MBXPROT_COE;
    d.coeDetails = ECT_COEDET_SDO | ECT_COEDET_SDOCA;
    d.strings = {c.name, "Bridges", std::string(kindName(c.kind))};
    d.fmmus = {1, 2, 3};
    d.syncManagers = {siiSm(*c.writeMailbox, 1), siiSm(*c.readMailbox, 2), siiSm(*c.outputs, 3),
                      siiSm(*c.inputs, 4)};
    for (uint16_t ch = 0; ch < 4; ++ch) {
        const auto base = static_cast<uint16_t>(ch * 0x800);
        d.rxPdos.push_back(SiiPdo{static_cast<uint16_t>(0x1600 + ch),
                                  2,
                                  {{static_cast<uint16_t>(0x6040 + base), 0, ECT_UNSIGNED16, 16},
                                   {static_cast<uint16_t>(0x607A + base), 0, ECT_INTEGER32, 32}}});
        d.txPdos.push_back(SiiPdo{static_cast<uint16_t>(0x1A00 + ch),
                                  3,
                                  {{static_cast<uint16_t>(0x6041 + base), 0, ECT_UNSIGNED16, 16},
                                   {static_cast<uint16_t>(0x6064 + base), 0, ECT_INTEGER32, 32}}});
    }
}

void describeIo(SlaveConfig& c, SiiDescription& d) {
    c.escType = 0x04;
    c.portDescriptor = 0x0A;  // ports 0 and 1 E-bus
    c.outputs = SmArea{0, 0x1000, 2, 0x44};
    c.inputs = SmArea{1, 0x1100, 2, kCtlInputs};
    d.pdiControl = kPdiDigitalIo;
    d.strings = {c.name, "I/O terminals"};
    d.fmmus = {1, 2};
    d.syncManagers = {siiSm(*c.outputs, 3), siiSm(*c.inputs, 4)};
    d.rxPdos = {SiiPdo{0x1600, 0, {{0x7000, 1, ECT_UNSIGNED16, 16}}}};
    d.txPdos = {SiiPdo{0x1A00, 1, {{0x6000, 1, ECT_UNSIGNED16, 16}}}};
    d.ebusCurrent = 90;
}

void describeCoupler(SlaveConfig& c, SiiDescription& d) {
    c.escType = 0x04;
    c.portDescriptor = 0x0A;
    d.pdiControl = kPdiNone;
    d.strings = {c.name, "Couplers"};
    d.ebusCurrent = -2000;  // supplies the terminals behind it
}

// A digital I/O terminal on a test jig: every output is wired back to the
// input of the same number.
class EchoIoDevice : public Device {
  public:
    void onOutputs(std::span<const uint8_t> outputs) override {
        std::copy_n(outputs.begin(), std::min(outputs.size(), wired_.size()), wired_.begin());
    }
    void fillInputs(std::span<uint8_t> inputs) override {
        std::copy_n(wired_.begin(), std::min(inputs.size(), wired_.size()), inputs.begin());
    }

  private:
    std::array<uint8_t, 2> wired_{};
};

}  // namespace

Identity identityOf(SlaveKind kind) {
    switch (kind) {
        case SlaveKind::ZR01:
            return {kBridgeVendor, 0x00005201, kBridgeRevision};
        case SlaveKind::ZR02:
            return {kBridgeVendor, 0x00005202, kBridgeRevision};
        case SlaveKind::ZR12:
            return {kBridgeVendor, 0x00005212, kBridgeRevision};
        case SlaveKind::IO:
            return {kTerminalVendor, 0x00001616, 0x00010000};
        case SlaveKind::CPL:
            return {kTerminalVendor, 0x00000C01, 0x00010000};
    }
    return {};
}

std::string deviceName(SlaveKind kind) {
    switch (kind) {
        case SlaveKind::IO:
            return "IO 16/16";
        case SlaveKind::CPL:
            return "CPL coupler";
        default:
            return "Torvanelix " + std::string(kindName(kind));
    }
}

SlaveConfig slaveConfigFor(const SlaveSpec& spec) {
    SlaveConfig c;
    c.kind = spec.kind;
    c.name = deviceName(spec.kind);
    SiiDescription d;
    const Identity id = identityOf(spec.kind);
    d.vendor = id.vendor;
    d.product = id.product;
    d.revision = id.revision;
    d.serial = spec.serial;
    if (spec.eepromBytes != 0) d.sizeBytes = spec.eepromBytes;
    d.nameString = 1;
    d.groupString = 2;
    if (isBridge(spec.kind)) {
        describeBridge(c, d);
        d.orderString = 3;
    } else if (spec.kind == SlaveKind::IO) {
        describeIo(c, d);
    } else {
        describeCoupler(c, d);
    }
    c.sii = buildSiiImage(d);
    return c;
}

std::unique_ptr<Device> makeDevice(const SlaveSpec& spec) {
    if (isBridge(spec.kind)) return makeBridgeDevice(spec);
    if (spec.kind == SlaveKind::IO) return std::make_unique<EchoIoDevice>();
    return std::make_unique<Device>();
}

}  // namespace ecsim

// Process-data mapping: sizes from CoE (or the SII PDO categories), sync
// manager and FMMU programming, and the layout of the image: the outputs of
// all slaves, then their inputs, small slaves bit-packed.
#include <algorithm>
#include <cstring>
#include <limits>
#include <span>

#include "ecmaster/codec.hpp"
#include "ecmaster/extras.hpp"
#include "eeprom.hpp"
#include "ethercat.h"
#include "sm_fmmu.hpp"

namespace {

using ecmaster::detail::siiGetByte;
using ecmaster::detail::siiGetWord;
using ecmaster::detail::writeFmmu;
using ecmaster::detail::writeSyncManagers;

constexpr uint8_t kSmOutputs = 3;
constexpr uint8_t kSmInputs = 4;
constexpr uint8_t kFmmuRead = 1;                 // slave to master (inputs)
constexpr uint8_t kFmmuWrite = 2;                // master to slave (outputs)
constexpr uint16_t kSiiTxPdo = ECT_SII_PDO;      // inputs
constexpr uint16_t kSiiRxPdo = ECT_SII_PDO + 1;  // outputs
constexpr uint32_t kSmEnable = ~static_cast<uint32_t>(EC_SMENABLEMASK);
constexpr uint32_t kFirstSegmentLimit =
    EC_MAXLRWDATA - EC_FIRSTDCDATAGRAM;  // room for the DC datagram
constexpr uint32_t kSegmentLimit = EC_MAXLRWDATA;
constexpr size_t kUnlimited = std::numeric_limits<size_t>::max();

bool inGroup(uint16 slave, uint8 group) {
    return group == 0 || ec_slave[slave].group == group;
}

// ---- sizes from CoE ----

template <typename T>
bool sdoRead(uint16 slave, uint16 index, uint8 sub, T& value) {
    value = 0;
    int size = sizeof value;
    return ec_SDOread(slave, index, sub, FALSE, &size, &value, EC_TIMEOUTRXM) > 0;
}

// Bits of all PDOs assigned in `assignIndex` (0x1C12, 0x1C13, ...), one SDO per entry.
uint32_t assignedBits(uint16 slave, uint16 assignIndex) {
    uint8_t count = 0;
    if (!sdoRead(slave, assignIndex, 0, count)) return 0;
    uint32_t bits = 0;
    for (uint8_t i = 1; i <= count && i != 0; ++i) {
        uint16_t pdo = 0;
        if (!sdoRead(slave, assignIndex, i, pdo) || pdo == 0) continue;
        uint8_t entries = 0;
        if (!sdoRead(slave, pdo, 0, entries)) continue;
        for (uint8_t k = 1; k <= entries && k != 0; ++k) {
            uint32_t mapping = 0;
            if (sdoRead(slave, pdo, k, mapping)) bits += mapping & 0xFF;
        }
    }
    return bits;
}

// The same with complete access: one SDO per object. Objects arrive as
// subindex 0 in 16 bits followed by the entries, so they are read as bytes.
int readComplete(uint16 slave, uint16 index, std::span<uint8_t> buffer) {
    int size = static_cast<int>(buffer.size());
    if (ec_SDOread(slave, index, 0, TRUE, &size, buffer.data(), EC_TIMEOUTRXM) <= 0 || size < 2) {
        return 0;
    }
    return size;
}

uint32_t assignedBitsCA(uint16 slave, uint16 assignIndex) {
    uint8_t assign[2 + 2 * 255];
    const int assignSize = readComplete(slave, assignIndex, assign);
    const int pdos = std::min<int>(assign[0], (assignSize - 2) / 2);
    uint32_t bits = 0;
    for (int i = 0; i < pdos; ++i) {
        const uint16_t pdo = ecat::get16(&assign[2 + 2 * i]);
        uint8_t desc[2 + 4 * 255];
        const int descSize = pdo != 0 ? readComplete(slave, pdo, desc) : 0;
        const int entries = descSize != 0 ? std::min<int>(desc[0], (descSize - 2) / 4) : 0;
        for (int k = 0; k < entries; ++k) bits += desc[2 + 4 * k];  // low byte: bit length
    }
    return bits;
}

// Sync manager types of SM2.. as 0x1C00 lists them, with the usual repairs of
// slaves that count from 0 or leave the process-data types out.
void fixSmType(uint8_t sm, uint8_t& type, bool& shiftedByOne) {
    if (sm == 2 && type == 2) shiftedByOne = true;
    if (type != 0 && shiftedByOne) ++type;
    if (sm == 2 && type == 0) type = kSmOutputs;
    if (sm == 3 && type == 0) type = kSmInputs;
}

void applySmSize(ec_slavet& s, uint8_t sm, uint8_t type, uint32_t bits, uint32_t& outBits,
                 uint32_t& inBits) {
    s.SMtype[sm] = type;
    if (type == 0) s.SM[sm].SMflags &= EC_SMENABLEMASK;
    if (bits == 0 || (type != kSmOutputs && type != kSmInputs)) return;
    s.SM[sm].SMlength = static_cast<uint16>((bits + 7) / 8);
    (type == kSmOutputs ? outBits : inBits) += bits;
}

bool coeSizes(uint16 slave, uint32_t& outBits, uint32_t& inBits) {
    ec_slavet& s = ec_slave[slave];
    uint8_t smCount = 0;
    if (!sdoRead(slave, ECT_SDO_SMCOMMTYPE, 0, smCount) || smCount <= 2) return false;
    smCount = std::min<uint8_t>(smCount, EC_MAXSM);
    bool shifted = false;
    for (uint8_t sm = 2; sm < smCount; ++sm) {
        uint8_t type = 0;
        if (!sdoRead(slave, ECT_SDO_SMCOMMTYPE, static_cast<uint8>(sm + 1), type)) continue;
        fixSmType(sm, type, shifted);
        const bool pd = type == kSmOutputs || type == kSmInputs;
        applySmSize(s, sm, type, pd ? assignedBits(slave, ECT_SDO_PDOASSIGN + sm) : 0, outBits,
                    inBits);
    }
    return outBits != 0 || inBits != 0;
}

bool coeSizesCA(uint16 slave, uint32_t& outBits, uint32_t& inBits) {
    ec_slavet& s = ec_slave[slave];
    uint8_t comm[2 + EC_MAXSM];
    const int size = readComplete(slave, ECT_SDO_SMCOMMTYPE, comm);
    if (size == 0) return false;
    const int smCount = std::min<int>({comm[0], EC_MAXSM, size - 2});
    bool shifted = false;
    for (int sm = 2; sm < smCount; ++sm) {
        uint8_t type = comm[2 + sm];
        fixSmType(static_cast<uint8_t>(sm), type, shifted);
        const bool pd = type == kSmOutputs || type == kSmInputs;
        applySmSize(s, static_cast<uint8_t>(sm), type,
                    pd ? assignedBitsCA(slave, static_cast<uint16>(ECT_SDO_PDOASSIGN + sm)) : 0,
                    outBits, inBits);
    }
    return outBits != 0 || inBits != 0;
}

// ---- sizes from the SII ----

// Sums the bits of the PDOs in SII category `cat` per sync manager, sets those
// sync managers' lengths and types and returns the total.
uint32_t siiPdoBits(uint16 slave, uint16 cat, uint8_t type) {
    const int16 found = ec_siifind(slave, cat);
    if (found <= 0) return 0;
    auto byte = [slave](uint32_t a) { return siiGetByte(slave, a); };
    uint32_t a = static_cast<uint32_t>(found);
    const uint32_t end = a + 2 + 2u * siiGetWord(slave, a);
    a += 2;
    uint32_t smBits[EC_MAXSM] = {};
    while (a + 8 <= end) {
        const uint8_t entries = byte(a + 2);
        const uint8_t sm = byte(a + 3);
        a += 8;
        for (uint8_t e = 0; e < entries && a + 8 <= end; ++e, a += 8) {
            if (sm < EC_MAXSM) smBits[sm] += byte(a + 5);
        }
    }
    ec_slavet& s = ec_slave[slave];
    uint32_t total = 0;
    for (uint8_t sm = 0; sm < EC_MAXSM; ++sm) {
        if (smBits[sm] == 0) continue;
        s.SM[sm].SMlength = static_cast<uint16>((smBits[sm] + 7) / 8);
        s.SMtype[sm] = type;
        total += smBits[sm];
    }
    return total;
}

void findSizes(uint8 group) {
    for (uint16 i = 1; i <= ec_slavecount; ++i) {
        if (!inGroup(i, group)) continue;
        ec_statecheck(i, EC_STATE_PRE_OP, EC_TIMEOUTSTATE);
        ec_slavet& s = ec_slave[i];
        if (s.PO2SOconfigx != nullptr) {
            s.PO2SOconfigx(&ecx_context, i);
        } else if (s.PO2SOconfig != nullptr) {
            s.PO2SOconfig(i);
        }
        if ((s.mbx_proto & ECT_MBXPROT_COE) == 0) continue;
        uint32_t outBits = 0;
        uint32_t inBits = 0;
        bool found = (s.CoEdetails & ECT_COEDET_SDOCA) != 0 && coeSizesCA(i, outBits, inBits);
        if (!found) {
            outBits = inBits = 0;
            coeSizes(i, outBits, inBits);
        }
        s.Obits = static_cast<uint16>(outBits);
        s.Ibits = static_cast<uint16>(inBits);
    }
    // Slaves without CoE sizes: an identical earlier slave, else the SII.
    for (uint16 i = 1; i <= ec_slavecount; ++i) {
        ec_slavet& s = ec_slave[i];
        if (!inGroup(i, group) || s.Obits != 0 || s.Ibits != 0) continue;
        bool copied = false;
        for (uint16 k = 1; k < i && !copied; ++k) {
            const ec_slavet& twin = ec_slave[k];
            if (twin.eep_man != s.eep_man || twin.eep_id != s.eep_id || twin.eep_rev != s.eep_rev ||
                (twin.Obits == 0 && twin.Ibits == 0)) {
                continue;
            }
            for (int sm = 0; sm < EC_MAXSM; ++sm) {
                s.SM[sm].SMlength = twin.SM[sm].SMlength;
                s.SMtype[sm] = twin.SMtype[sm];
            }
            s.Obits = twin.Obits;
            s.Ibits = twin.Ibits;
            copied = true;
        }
        if (!copied) {
            s.Obits = static_cast<uint16>(siiPdoBits(i, kSiiRxPdo, kSmOutputs));
            s.Ibits = static_cast<uint16>(siiPdoBits(i, kSiiTxPdo, kSmInputs));
        }
    }
    for (uint16 i = 1; i <= ec_slavecount; ++i) {
        if (!inGroup(i, group)) continue;
        ec_slavet& s = ec_slave[i];
        s.Obytes = s.Obits > 7 ? (s.Obits + 7u) / 8u : 0;
        s.Ibytes = s.Ibits > 7 ? (s.Ibits + 7u) / 8u : 0;
    }
}

// ---- layout ----

// The running logical position while FMMUs are laid out, and the LRW segments
// cut at slave boundaries.
struct Layout {
    uint32_t logStart = 0;
    uint32_t address = 0;  // logical byte address
    uint8_t bit = 0;       // bit position in that byte
    uint32_t segments[EC_MAXIOSEGMENTS] = {};
    uint16_t segmentCount = 0;
    uint32_t segmentSize = 0;
    bool tooManySegments = false;
    uint32_t accounted = 0;  // logical address up to which bytes joined a segment

    void alignToByte() {
        if (bit != 0) {
            ++address;
            bit = 0;
        }
    }
    uint32_t limit() const { return segmentCount == 0 ? kFirstSegmentLimit : kSegmentLimit; }
    void closeSegment() {
        if (segmentCount >= EC_MAXIOSEGMENTS) {
            tooManySegments = true;
            return;
        }
        segments[segmentCount++] = segmentSize;
        segmentSize = 0;
    }
    // The bytes laid out since the last call (one slave's) join the current
    // segment, or open the next one; a slave larger than a segment is split.
    void account() {
        addBytes(address - accounted);
        accounted = address;
    }
    void addBytes(uint32_t bytes) {
        if (segmentSize > 0 && segmentSize + bytes > limit()) closeSegment();
        while (!tooManySegments && segmentSize + bytes > limit()) {
            const uint32_t part = limit() - segmentSize;
            segmentSize += part;
            bytes -= part;
            closeSegment();
        }
        segmentSize += bytes;
    }
};

// Lays out the FMMUs of one direction of one slave (records only; nothing is
// written to the slave here).
void mapDirection(ec_slavet& s, uint8_t smType, Layout& layout, uint8_t* image) {
    const bool outputs = smType == kSmOutputs;
    const uint32_t bits = outputs ? s.Obits : s.Ibits;
    const uint32_t bytes = outputs ? s.Obytes : s.Ibytes;
    if (bits == 0) return;
    uint8_t*& first = outputs ? s.outputs : s.inputs;
    uint8_t& firstBit = outputs ? s.Ostartbit : s.Istartbit;
    uint32_t mappedBytes = 0;
    bool bitsMapped = false;
    auto nextSm = [&s, smType](int from) {
        while (from < EC_MAXSM && s.SMtype[from] != smType) ++from;
        return from;
    };
    for (int sm = nextSm(0); sm < EC_MAXSM && s.FMMUunused < EC_MAXFMMU; sm = nextSm(sm + 1)) {
        if (bytes == 0 ? bitsMapped : mappedBytes >= bytes) break;
        // Sync managers that follow each other in the slave's memory share one FMMU.
        const uint16_t physStart = s.SM[sm].StartAddr;
        uint32_t smBytes = s.SM[sm].SMlength;
        uint32_t physEnd = physStart + smBytes;
        for (int next = nextSm(sm + 1); next < EC_MAXSM && smBytes * 8 < bits;
             next = nextSm(next + 1)) {
            if (s.SM[next].StartAddr != physEnd) break;
            smBytes += s.SM[next].SMlength;
            physEnd += s.SM[next].SMlength;
            sm = next;
        }
        ec_fmmut& f = s.FMMU[s.FMMUunused];
        f = ec_fmmut{};
        f.PhysStart = physStart;
        if (bytes == 0) {  // bit-packed at the running bit position
            f.LogStart = layout.address;
            f.LogStartbit = layout.bit;
            const uint32_t lastBit = layout.bit + bits - 1;
            f.LogEndbit = static_cast<uint8_t>(lastBit % 8);
            f.LogLength = static_cast<uint16_t>(lastBit / 8 + 1);
            layout.address += (layout.bit + bits) / 8;
            layout.bit = static_cast<uint8_t>((layout.bit + bits) % 8);
            bitsMapped = true;
        } else {
            layout.alignToByte();
            const uint32_t length = std::min(smBytes, bytes - mappedBytes);
            f.LogStart = layout.address;
            f.LogStartbit = 0;
            f.LogEndbit = 7;
            f.LogLength = static_cast<uint16_t>(length);
            layout.address += length;
            mappedBytes += length;
        }
        f.FMMUtype = outputs ? kFmmuWrite : kFmmuRead;
        f.FMMUactive = f.LogLength != 0 ? 1 : 0;
        if (first == nullptr) {
            first = image + (f.LogStart - layout.logStart);
            firstBit = f.LogStartbit;
        }
        ++s.FMMUunused;
    }
}

void mapAll(uint8 group, uint8_t smType, Layout& layout, uint8_t* image) {
    for (uint16 i = 1; i <= ec_slavecount; ++i) {
        if (!inGroup(i, group)) continue;
        mapDirection(ec_slave[i], smType, layout, image);
        layout.account();
    }
}

// How many LRW segments a slave's FMMUs of one type touch: the working counter
// it adds per cycle for that direction.
uint16_t segmentsTouched(const ec_slavet& s, uint8_t fmmuType, const Layout& layout) {
    uint16_t count = 0;
    uint32_t segStart = layout.logStart;
    for (uint16_t k = 0; k < layout.segmentCount; ++k) {
        const uint32_t segEnd = segStart + layout.segments[k];
        for (int f = 0; f < s.FMMUunused; ++f) {
            const ec_fmmut& m = s.FMMU[f];
            if (m.FMMUtype == fmmuType && m.LogLength != 0 && m.LogStart < segEnd &&
                m.LogStart + m.LogLength > segStart) {
                ++count;
                break;
            }
        }
        segStart = segEnd;
    }
    return count;
}

void clearMapping(uint8 group) {
    for (uint16 i = 1; i <= ec_slavecount; ++i) {
        if (!inGroup(i, group)) continue;
        ec_slavet& s = ec_slave[i];
        s.outputs = s.inputs = nullptr;
        s.Ostartbit = s.Istartbit = 0;
        s.FMMUunused = 0;
        std::memset(s.FMMU, 0, sizeof s.FMMU);
    }
}

void programSlave(uint16 i) {
    ec_slavet& s = ec_slave[i];
    if (s.mbx_l == 0) {  // slaves with a mailbox had SM0/SM1 set by config_init
        for (int sm = 0; sm < 2; ++sm) {
            if (s.SM[sm].StartAddr != 0) writeSyncManagers(s, sm, 1, EC_TIMEOUTRET3);
        }
    }
    for (int sm = 2; sm < EC_MAXSM; ++sm) {
        if (s.SM[sm].StartAddr == 0) continue;
        s.SM[sm].SMflags = s.SM[sm].SMlength != 0 ? (s.SM[sm].SMflags | kSmEnable)
                                                  : (s.SM[sm].SMflags & EC_SMENABLEMASK);
        writeSyncManagers(s, sm, 1, EC_TIMEOUTRET3);
    }
    for (int f = 0; f < s.FMMUunused; ++f) {
        if (s.FMMU[f].LogLength != 0) writeFmmu(s, f, EC_TIMEOUTRET3);
    }
    ec_eeprom2pdi(i);  // some slaves need the EEPROM for the change to SAFE-OP
    if (ecx_context.manualstatechange == 0) {
        ec_FPWRw(s.configadr, ECT_REG_ALCTL, htoes(EC_STATE_SAFE_OP), EC_TIMEOUTRET3);
    }
}

int configMap(void* pIOmap, uint8 group, size_t capacity) {
    if (ec_slavecount <= 0 || group >= EC_MAXGROUP || pIOmap == nullptr) return 0;
    auto* image = static_cast<uint8_t*>(pIOmap);
    ec_groupt& g = ec_group[group];
    clearMapping(group);
    findSizes(group);

    Layout layout;
    layout.logStart = layout.address = layout.accounted = g.logstartaddr;
    mapAll(group, kSmOutputs, layout, image);
    layout.alignToByte();
    layout.account();
    const uint32_t outBytes = layout.address - g.logstartaddr;
    mapAll(group, kSmInputs, layout, image);
    layout.alignToByte();
    layout.account();
    const uint32_t total = layout.address - g.logstartaddr;
    if (layout.segmentSize > 0 || layout.segmentCount == 0) layout.closeSegment();
    if (total > capacity || layout.tooManySegments) {
        clearMapping(group);
        return 0;
    }

    g.outputs = image;
    g.Obytes = outBytes;
    g.inputs = image + outBytes;
    g.Ibytes = total - outBytes;
    g.nsegments = layout.segmentCount;
    std::copy(std::begin(layout.segments), std::end(layout.segments), std::begin(g.IOsegment));
    // The segment and offset where the inputs begin (for LRD when LRW is blocked).
    g.Isegment = 0;
    g.Ioffset = 0;
    uint32_t start = 0;
    for (uint16_t k = 0; k < layout.segmentCount; ++k) {
        if (outBytes < start + layout.segments[k] || k + 1 == layout.segmentCount) {
            g.Isegment = k;
            g.Ioffset = static_cast<uint16>(outBytes - start);
            break;
        }
        start += layout.segments[k];
    }
    g.outputsWKC = g.inputsWKC = 0;
    g.blockLRW = 0;
    g.Ebuscurrent = 0;
    for (uint16 i = 1; i <= ec_slavecount; ++i) {
        if (!inGroup(i, group)) continue;
        const ec_slavet& s = ec_slave[i];
        g.outputsWKC = static_cast<uint16>(g.outputsWKC + segmentsTouched(s, kFmmuWrite, layout));
        g.inputsWKC = static_cast<uint16>(g.inputsWKC + segmentsTouched(s, kFmmuRead, layout));
        if (s.blockLRW) ++g.blockLRW;
        g.Ebuscurrent = static_cast<int16>(g.Ebuscurrent + s.Ebuscurrent);
        programSlave(i);
    }
    if (group == 0) {
        ec_slave[0].outputs = g.outputs;
        ec_slave[0].Obytes = g.Obytes;
        ec_slave[0].inputs = g.inputs;
        ec_slave[0].Ibytes = g.Ibytes;
    }
    return static_cast<int>(total);
}

}  // namespace

int ec_config_map_group(void* pIOmap, uint8 group) {
    return configMap(pIOmap, group, kUnlimited);
}

int ec_config_map(void* pIOmap) {
    return configMap(pIOmap, 0, kUnlimited);
}

int ec_config_map_checked(void* pIOmap, size_t ioMapSize) {
    return configMap(pIOmap, 0, ioMapSize);
}

int ec_config(uint8 usetable, void* pIOmap) {
    const int slaves = ec_config_init(usetable);
    if (slaves > 0) ec_config_map(pIOmap);
    return slaves;
}

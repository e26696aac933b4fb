// The configuration path against slaves with a hostile SII image:
// ec_config_init reads identity, mailbox words and categories from it, and
// ec_config_map sizes and maps the process data from its categories. The
// slaves accept every state asked for and answer every SDO with an abort, so
// that the SII alone decides.
//
// Input: flags (u8: bit 0 reads of 8 bytes, bit 1 a second slave with the same
// image, bit 2 DC), then the EEPROM image; words past it read 0xFFFF, and
// addresses past 4 KiB are not acknowledged.
#include <algorithm>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "ecmaster/codec.hpp"
#include "ecmaster/extras.hpp"
#include "ethercat.h"
#include "support/byte_reader.hpp"
#include "support/register_line.hpp"

namespace {

using fuzzsupport::ByteReader;
using fuzzsupport::RegisterLine;
using fuzzsupport::RegisterSlave;

constexpr size_t kEepromBytes = 4096;
constexpr uint16_t kEepromRead = 0x0100;
constexpr uint16_t kReads8Bytes = 0x0040;
constexpr uint16_t kNack = 0x2000;

// Word `word` of the image; past its end the EEPROM reads 0xFFFF.
uint16_t imageWord(const std::vector<uint8_t>& eeprom, size_t word) {
    const size_t at = 2 * word;
    return at + 1 < eeprom.size() ? ecat::get16(&eeprom[at]) : 0xFFFF;
}

// What a slave does with the master's accesses. Its mailboxes are where the
// image puts them, and every read of the read mailbox holds an abort for the
// object the write mailbox asked for.
void behave(RegisterSlave& s, const std::vector<uint8_t>& eeprom, bool eightBytes, bool dc) {
    s.mem[ECT_REG_ESCSUP] = dc ? 0x04 : 0x00;
    s.setWord(ECT_REG_DLSTAT, 0x0200);  // port 0 open, with a link
    s.setWord(ECT_REG_EEPSTAT, eightBytes ? kReads8Bytes : 0);
    auto station = std::make_shared<uint16_t>(0);
    s.afterWrite = [&s, &eeprom, eightBytes, station](uint16_t address, size_t length) {
        const size_t end = address + length;
        // Only a write of its own sets the station address: one that merely
        // spans it would lose the slave, and the rest of the input would go to
        // timeouts.
        if (address == ECT_REG_STADR) {
            *station = s.station();
        } else if (address < ECT_REG_STADR + 2 && end > ECT_REG_STADR) {
            s.setWord(ECT_REG_STADR, *station);
        }
        if (address <= ECT_REG_ALCTL && ECT_REG_ALCTL < end) {
            s.setWord(ECT_REG_ALSTAT, s.word(ECT_REG_ALCTL) & 0x0F);
        }
        if (address <= ECT_REG_EEPCTL && ECT_REG_EEPCTL < end) {
            uint16_t status = eightBytes ? kReads8Bytes : 0;
            if ((s.word(ECT_REG_EEPCTL) & 0x0700) == kEepromRead) {
                const size_t at = 2 * static_cast<size_t>(s.word(ECT_REG_EEPADR));
                if (at >= kEepromBytes) status |= kNack;
                for (size_t i = 0; i < 8; ++i) {
                    s.mem[ECT_REG_EEPDAT + i] = at + i < eeprom.size() ? eeprom[at + i] : 0xFF;
                }
            }
            s.setWord(ECT_REG_EEPSTAT, status);
        }
    };
    s.beforeRead = [&s](uint16_t, size_t) {
        s.mem[ECT_REG_SM1STAT] = 0x08;  // always a message waiting
        s.mem[ECT_REG_SM0STAT] = 0x00;  // and room for the next request
        return true;
    };
    const uint16_t requestAt = imageWord(eeprom, ECT_SII_RXMBXADR);
    const uint16_t replyAt = imageWord(eeprom, ECT_SII_TXMBXADR);
    s.afterRead = [&s, requestAt, replyAt](uint16_t address, std::span<uint8_t> data) {
        namespace sdo = ecat::sdo;
        if (address != replyAt || data.size() < sdo::NormalDataOffset ||
            requestAt + sdo::NormalDataOffset > RegisterSlave::kMemory) {
            return;
        }
        std::fill(data.begin(), data.end(), 0);
        sdo::putCommand(data, sdo::InitiateLength, 1, ecat::coe::ServiceSdoRequest, sdo::Abort);
        std::copy_n(&s.mem[requestAt + sdo::IndexOffset], 3, &data[sdo::IndexOffset]);
        ecat::put32(&data[sdo::FieldOffset], sdo::abort_code::ObjectMissing);
    };
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteReader in(data, size);
    const uint8_t flags = in.u8();
    const auto image = in.bytes(kEepromBytes);
    const std::vector<uint8_t> eeprom(image.begin(), image.end());
    const size_t slaves = (flags & 0x02) != 0 ? 2 : 1;

    RegisterLine& wire = fuzzsupport::sharedLine();
    wire.reset(slaves);
    for (size_t p = 1; p <= slaves; ++p) {
        behave(wire.slave(p), eeprom, (flags & 0x01) != 0, (flags & 0x04) != 0);
    }

    const int found = ec_config_init(FALSE);
    FUZZ_CHECK(found == static_cast<int>(slaves));
    for (int k = 1; k <= found; ++k) {
        FUZZ_CHECK(std::memchr(ec_slave[k].name, 0, sizeof ec_slave[k].name) != nullptr);
        // No mailbox over the registers or past the top of the address space.
        const ec_slavet& s = ec_slave[k];
        FUZZ_CHECK(s.mbx_l == 0 || (s.mbx_wo >= ecat::reg::RegisterSpaceSize &&
                                    s.mbx_wo + s.mbx_l <= ecat::reg::AddressSpaceSize &&
                                    s.mbx_ro >= ecat::reg::RegisterSpaceSize &&
                                    s.mbx_ro + s.mbx_rl <= ecat::reg::AddressSpaceSize));
    }
    static uint8_t ioMap[4096];
    const int mapped = ec_config_map_checked(ioMap, sizeof ioMap);
    FUZZ_CHECK(mapped >= 0 && static_cast<size_t>(mapped) <= sizeof ioMap);
    fuzzsupport::drainErrors();
    return 0;
}

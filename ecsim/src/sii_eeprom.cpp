#include "ecsim/sii_eeprom.hpp"

#include "ecmaster/codec.hpp"
#include "ecsim/sii_image.hpp"

namespace ecsim {

namespace {
// A real EEPROM needs milliseconds per word; a short busy time is enough to make
// a master wait for it without slowing the tests down.
constexpr auto kWriteBusyTime = std::chrono::microseconds(300);
}  // namespace

SiiEeprom::SiiEeprom(std::vector<uint16_t> image, bool reads8Bytes)
    : image_(std::move(image)), reads8Bytes_(reads8Bytes) {
    reset();
}

void SiiEeprom::setConfig(uint8_t value) {
    pdiOwns_ = (value & 0x01) != 0 && (value & 0x02) == 0;
}

uint16_t SiiEeprom::word(size_t address) const {
    return address < image_.size() ? image_[address] : 0xFFFF;
}

bool SiiEeprom::headerValid() const {
    return (word(ecat::sii::Checksum) & 0xFF) == siiHeaderCrc(image_);
}

SiiEeprom::Result SiiEeprom::command(uint16_t control, uint32_t address, uint16_t writeData,
                                     Clock::time_point now) {
    Result result;
    // The master may not drive the EEPROM while the processor owns it or while
    // a write is still in progress; the ESC ignores such a command.
    if (pdiOwns_ || now < busyUntil_) return result;
    switch (control & ecat::eep::CmdMask) {
        case 0:
            errors_ = 0;
            break;
        case ecat::eep::CmdRead:
            errors_ = 0;
            if (address >= image_.size()) {
                errors_ |= ecat::eep::ErrNack;
                break;
            }
            for (size_t i = 0; i < 4; ++i) ecat::put16(&result.data[2 * i], word(address + i));
            result.dataReady = true;
            break;
        case ecat::eep::CmdWrite:
            errors_ = 0;
            if ((control & ecat::eep::WriteEnable) == 0) {
                errors_ |= ecat::eep::ErrWriteEnable;
                break;
            }
            if (address >= image_.size()) {
                errors_ |= ecat::eep::ErrNack;
                break;
            }
            image_[address] = writeData;
            busyUntil_ = now + kWriteBusyTime;
            break;
        case ecat::eep::CmdReload:
            errors_ = 0;
            checksumError_ = !headerValid();
            result.reloaded = true;
            break;
        default:
            errors_ = ecat::eep::ErrNack;
            break;
    }
    if (!reads8Bytes_) std::fill(result.data.begin() + 4, result.data.end(), 0);
    return result;
}

uint16_t SiiEeprom::status(Clock::time_point now) const {
    uint16_t s = errors_;
    if (reads8Bytes_) s |= ecat::eep::Read8Bytes;
    if (checksumError_) s |= ecat::eep::ErrChecksum;
    if (now < busyUntil_) s |= ecat::eep::Busy;
    return s;
}

void SiiEeprom::reset() {
    pdiOwns_ = false;
    errors_ = 0;
    busyUntil_ = {};
    checksumError_ = !headerValid();
}

}  // namespace ecsim

#include "ecsim/sii_image.hpp"

#include <stdexcept>

#include "ecmaster/codec.hpp"

namespace ecsim {

namespace {

// Byte-wise writer for category data; categories are padded to whole words.
class ByteWriter {
  public:
    void u8(uint8_t v) { bytes_.push_back(v); }
    void u16(uint16_t v) {
        u8(static_cast<uint8_t>(v));
        u8(static_cast<uint8_t>(v >> 8));
    }
    void zeros(size_t n) { bytes_.insert(bytes_.end(), n, 0); }
    std::vector<uint16_t> words() const {
        std::vector<uint16_t> out((bytes_.size() + 1) / 2, 0);
        for (size_t i = 0; i < bytes_.size(); ++i) {
            out[i / 2] = static_cast<uint16_t>(out[i / 2] | (bytes_[i] << (8 * (i % 2))));
        }
        return out;
    }

  private:
    std::vector<uint8_t> bytes_;
};

void appendCategory(std::vector<uint16_t>& image, uint16_t type, const ByteWriter& data) {
    const auto words = data.words();
    image.push_back(type);
    image.push_back(static_cast<uint16_t>(words.size()));
    image.insert(image.end(), words.begin(), words.end());
}

void put32(std::vector<uint16_t>& image, uint16_t word, uint32_t v) {
    image[word] = static_cast<uint16_t>(v);
    image[word + 1] = static_cast<uint16_t>(v >> 16);
}

ByteWriter stringsCategory(const std::vector<std::string>& strings) {
    if (strings.size() > 255) throw std::invalid_argument("SII: too many strings");
    ByteWriter w;
    w.u8(static_cast<uint8_t>(strings.size()));
    for (const auto& s : strings) {
        if (s.size() > 255) throw std::invalid_argument("SII: string too long");
        w.u8(static_cast<uint8_t>(s.size()));
        for (char c : s) w.u8(static_cast<uint8_t>(c));
    }
    return w;
}

ByteWriter generalCategory(const SiiDescription& d) {
    ByteWriter w;
    w.u8(d.groupString);
    w.u8(0);  // image
    w.u8(d.orderString);
    w.u8(d.nameString);
    w.u8(0);  // reserved
    w.u8(d.coeDetails);
    w.u8(0);  // FoE
    w.u8(0);  // EoE
    w.u8(0);  // SoE channels
    w.u8(0);  // DS402 channels
    w.u8(0);  // sysman class
    w.u8(d.generalFlags);
    w.u16(static_cast<uint16_t>(d.ebusCurrent));
    w.zeros(18);  // pads the category to its standard 16 words
    return w;
}

ByteWriter pdoCategory(const std::vector<SiiPdo>& pdos) {
    ByteWriter w;
    for (const auto& pdo : pdos) {
        if (pdo.entries.size() > 255) throw std::invalid_argument("SII: too many PDO entries");
        w.u16(pdo.index);
        w.u8(static_cast<uint8_t>(pdo.entries.size()));
        w.u8(pdo.syncManager);
        w.u8(0);   // DC sync
        w.u8(0);   // name
        w.u16(0);  // flags
        for (const auto& e : pdo.entries) {
            w.u16(e.index);
            w.u8(e.subindex);
            w.u8(0);  // name
            w.u8(e.dataType);
            w.u8(e.bitLength);
            w.u16(0);  // flags
        }
    }
    return w;
}

}  // namespace

uint8_t siiHeaderCrc(std::span<const uint16_t> words) {
    uint8_t header[14]{};
    for (size_t i = 0; i < 7 && i < words.size(); ++i) ecat::put16(&header[2 * i], words[i]);
    return ecat::sii::headerCrc(header);
}

std::vector<uint16_t> buildSiiImage(const SiiDescription& d) {
    if (d.sizeBytes < 256 || d.sizeBytes % 128 != 0) {
        throw std::invalid_argument("SII: size must be a multiple of 128 bytes, at least 256");
    }
    std::vector<uint16_t> image(ecat::sii::FirstCategory, 0);
    image[ecat::sii::PdiControl] = d.pdiControl;
    image[ecat::sii::Alias] = d.alias;
    image[ecat::sii::Checksum] = siiHeaderCrc(image);
    put32(image, ecat::sii::Vendor, d.vendor);
    put32(image, ecat::sii::Product, d.product);
    put32(image, ecat::sii::Revision, d.revision);
    put32(image, ecat::sii::Serial, d.serial);
    image[ecat::sii::BootRxMailbox] = d.rxMailboxOffset;
    image[ecat::sii::BootRxMailbox + 1] = d.rxMailboxSize;
    image[ecat::sii::BootTxMailbox] = d.txMailboxOffset;
    image[ecat::sii::BootTxMailbox + 1] = d.txMailboxSize;
    image[ecat::sii::RxMailboxOffset] = d.rxMailboxOffset;
    image[ecat::sii::RxMailboxSize] = d.rxMailboxSize;
    image[ecat::sii::TxMailboxOffset] = d.txMailboxOffset;
    image[ecat::sii::TxMailboxSize] = d.txMailboxSize;
    image[ecat::sii::MailboxProtocols] = d.mailboxProtocols;
    image[ecat::sii::SizeCode] = static_cast<uint16_t>(d.sizeBytes * 8 / 1024 - 1);
    image[ecat::sii::Version] = 1;

    if (!d.strings.empty())
        appendCategory(image, ecat::sii::CatStrings, stringsCategory(d.strings));
    appendCategory(image, ecat::sii::CatGeneral, generalCategory(d));
    if (!d.fmmus.empty()) {
        ByteWriter w;
        for (uint8_t f : d.fmmus) w.u8(f);
        appendCategory(image, ecat::sii::CatFmmu, w);
    }
    if (!d.syncManagers.empty()) {
        ByteWriter w;
        for (const auto& sm : d.syncManagers) {
            w.u16(sm.start);
            w.u16(sm.length);
            w.u8(sm.control);
            w.u8(0);  // status
            w.u8(sm.enable);
            w.u8(sm.type);
        }
        appendCategory(image, ecat::sii::CatSyncManager, w);
    }
    if (!d.txPdos.empty()) appendCategory(image, ecat::sii::CatTxPdo, pdoCategory(d.txPdos));
    if (!d.rxPdos.empty()) appendCategory(image, ecat::sii::CatRxPdo, pdoCategory(d.rxPdos));
    image.push_back(ecat::sii::CatEnd);

    const size_t words = d.sizeBytes / 2;
    if (image.size() > words) throw std::invalid_argument("SII: content exceeds the EEPROM size");
    image.resize(words, 0xFFFF);
    return image;
}

}  // namespace ecsim

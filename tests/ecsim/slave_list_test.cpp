// Slave lists as zrsim and the test fixtures take them, and the SII images
// built for each kind.
#include <gtest/gtest.h>

#include "ecmaster/codec.hpp"
#include "ecsim/segment.hpp"
#include "ecsim/sii_image.hpp"
#include "ecsim/slave.hpp"
#include "ecsim/slave_kinds.hpp"

namespace {

using ecsim::SlaveKind;

TEST(SlaveList, KindsAndMotorChannels) {
    std::string error;
    auto list = ecsim::parseSlaveList(" zr12 ,IO,ZR02:1-3,ZR01:124,ZR01:,CPL", &error);
    ASSERT_TRUE(list) << error;
    ASSERT_EQ(list->size(), 6u);
    EXPECT_EQ((*list)[0].kind, SlaveKind::ZR12);
    EXPECT_EQ((*list)[0].motors, (std::array<bool, 4>{true, true, true, true}));
    EXPECT_EQ((*list)[1].kind, SlaveKind::IO);
    EXPECT_EQ((*list)[2].motors, (std::array<bool, 4>{true, true, true, false}));
    EXPECT_EQ((*list)[3].motors, (std::array<bool, 4>{true, true, false, true}));
    EXPECT_EQ((*list)[4].motors, (std::array<bool, 4>{false, false, false, false}));
    EXPECT_EQ((*list)[5].kind, SlaveKind::CPL);
    for (auto k :
         {SlaveKind::ZR01, SlaveKind::ZR02, SlaveKind::ZR12, SlaveKind::IO, SlaveKind::CPL}) {
        auto one = ecsim::parseSlaveList(ecsim::kindName(k), nullptr);
        ASSERT_TRUE(one);
        EXPECT_EQ(one->front().kind, k);
    }
}

TEST(SlaveList, EepromSizeSetsTheImageAndItsSizeWord) {
    std::string error;
    auto list = ecsim::parseSlaveList("IO@1024, ZR12:1-3 @ 4096,CPL", &error);
    ASSERT_TRUE(list) << error;
    EXPECT_EQ((*list)[0].eepromBytes, 1024u);
    EXPECT_EQ((*list)[1].motors, (std::array<bool, 4>{true, true, true, false}));
    EXPECT_EQ((*list)[1].eepromBytes, 4096u);
    ecsim::Segment segment(*list);
    const size_t bytes[] = {1024, 4096, 2048};
    for (size_t position = 1; position <= 3; ++position) {
        const auto words = segment.slave(position).eeprom().words();
        EXPECT_EQ(words.size() * 2, bytes[position - 1]);
        EXPECT_EQ((words[ecat::sii::SizeCode] + 1u) * 128u, bytes[position - 1]);
    }
}

TEST(SlaveList, BadListsSayWhatIsWrong) {
    const struct {
        const char* text;
        const char* mentions;
    } cases[] = {
        {"", "no slaves"},
        {"ZR12,,IO", "slave 2: empty"},
        {"ZR13", "unknown kind 'ZR13'"},
        {"IO:1", "IO has no motor channels"},
        {"ZR01:5", "'5' is not 1 to 4"},
        {"ZR01:3-1", "backwards"},
        {"ZR01:1-", "no end"},
        {"ZR01:1-22", "channel 2 named twice"},
        {"IO@1000", "EEPROM size '1000'"},
        {"IO@256", "EEPROM size '256'"},
        {"ZR12:1@131072", "EEPROM size '131072'"},
        {"IO@", "EEPROM size ''"},
        {"IO@1k", "EEPROM size '1k'"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(ecsim::parseSlaveList(c.text, &error)) << c.text;
        EXPECT_NE(error.find(c.mentions), std::string::npos) << c.text << " -> " << error;
    }
    std::string many;
    for (int i = 0; i < 200; ++i) many += i ? ",IO" : "IO";
    std::string error;
    EXPECT_FALSE(ecsim::parseSlaveList(many, &error));
    EXPECT_NE(error.find("more than 199"), std::string::npos);
}

// Walks the categories the way a master does; returns the data of `type`.
std::vector<uint8_t> category(const std::vector<uint16_t>& image, uint16_t type) {
    size_t w = ecat::sii::FirstCategory;
    while (w + 1 < image.size() && image[w] != ecat::sii::CatEnd) {
        const size_t words = image[w + 1];
        if (image[w] == type) {
            std::vector<uint8_t> out;
            for (size_t i = 0; i < words; ++i) {
                out.push_back(static_cast<uint8_t>(image[w + 2 + i]));
                out.push_back(static_cast<uint8_t>(image[w + 2 + i] >> 8));
            }
            return out;
        }
        w += 2 + words;
    }
    return {};
}

TEST(SiiImage, BridgeImageCarriesIdentityMailboxAndCategories) {
    ecsim::SlaveSpec spec;
    spec.kind = SlaveKind::ZR12;
    spec.serial = 4711;
    const auto config = ecsim::slaveConfigFor(spec);
    const auto& image = config.sii;
    EXPECT_EQ(image.size(), 1024u);
    uint8_t header[14];
    for (int i = 0; i < 7; ++i) ecat::put16(&header[2 * i], image[i]);
    EXPECT_EQ(image[ecat::sii::Checksum] & 0xFF, ecat::sii::headerCrc(header));
    const auto id = ecsim::identityOf(SlaveKind::ZR12);
    EXPECT_EQ(image[ecat::sii::Vendor] | (image[ecat::sii::Vendor + 1] << 16), id.vendor);
    EXPECT_EQ(image[ecat::sii::Product] | (image[ecat::sii::Product + 1] << 16), id.product);
    EXPECT_EQ(image[ecat::sii::Serial], 4711);
    EXPECT_EQ(image[ecat::sii::RxMailboxOffset], 0x1000);
    EXPECT_EQ(image[ecat::sii::TxMailboxSize], 128);
    EXPECT_EQ(image[ecat::sii::MailboxProtocols], 0x0004);

    const auto strings = category(image, ecat::sii::CatStrings);
    ASSERT_GE(strings.size(), 17u);
    EXPECT_EQ(std::string(strings.begin() + 2, strings.begin() + 2 + strings[1]),
              "Torvanelix ZR12");
    const auto general = category(image, ecat::sii::CatGeneral);
    ASSERT_EQ(general.size(), 32u);
    EXPECT_EQ(general[5], 0x21);  // SDO and complete access
    const auto sms = category(image, ecat::sii::CatSyncManager);
    ASSERT_EQ(sms.size(), 32u);
    EXPECT_EQ(ecat::get16(&sms[16]), 0x1100);
    EXPECT_EQ(ecat::get16(&sms[18]), 24);
    // RxPDO: four PDOs of two entries, controlword and target position per channel.
    const auto rx = category(image, ecat::sii::CatRxPdo);
    ASSERT_EQ(rx.size(), 4u * (8 + 2 * 8));
    EXPECT_EQ(ecat::get16(&rx[24 * 3]), 0x1603);
    EXPECT_EQ(rx[24 * 3 + 3], 2);  // SM2
    EXPECT_EQ(ecat::get16(&rx[24 * 3 + 8]), 0x6040 + 3 * 0x800);
    EXPECT_EQ(rx[24 * 3 + 8 + 5], 16);
    EXPECT_EQ(ecat::get16(&rx[24 * 3 + 16]), 0x607A + 3 * 0x800);
    EXPECT_EQ(rx[24 * 3 + 16 + 5], 32);
    const auto tx = category(image, ecat::sii::CatTxPdo);
    EXPECT_EQ(ecat::get16(&tx[8]), 0x6041);
    EXPECT_EQ(ecat::get16(&tx[16]), 0x6064);
}

TEST(SiiImage, TerminalAndCouplerImages) {
    ecsim::SlaveSpec io;
    io.kind = SlaveKind::IO;
    const auto ioImage = ecsim::slaveConfigFor(io).sii;
    EXPECT_EQ(ioImage[ecat::sii::RxMailboxSize], 0);
    const auto strings = category(ioImage, ecat::sii::CatStrings);
    EXPECT_EQ(std::string(strings.begin() + 2, strings.begin() + 2 + strings[1]), "IO 16/16");
    EXPECT_FALSE(category(ioImage, ecat::sii::CatRxPdo).empty());
    ecsim::SlaveSpec cpl;
    cpl.kind = SlaveKind::CPL;
    const auto cplImage = ecsim::slaveConfigFor(cpl).sii;
    EXPECT_TRUE(category(cplImage, ecat::sii::CatSyncManager).empty());
    EXPECT_TRUE(category(cplImage, ecat::sii::CatTxPdo).empty());
}

TEST(SiiImage, RefusesContentBeyondTheEepromSize) {
    ecsim::SiiDescription d;
    d.sizeBytes = 256;
    d.strings.assign(10, std::string(60, 'x'));
    EXPECT_THROW(ecsim::buildSiiImage(d), std::invalid_argument);
    d.sizeBytes = 100;
    d.strings.clear();
    EXPECT_THROW(ecsim::buildSiiImage(d), std::invalid_argument);
}

}  // namespace

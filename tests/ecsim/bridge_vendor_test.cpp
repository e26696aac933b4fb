// Identity, process-data description and the bridge's own vendor objects.
#include <gtest/gtest.h>

#include "bridge_test_util.hpp"

namespace {

using bridgetest::Bridge;
using ecsim::SlaveKind;
namespace abort_code = ecsim::abort_code;

constexpr uint32_t kWindowKey = 0x6D3F1;
constexpr uint32_t kUnlock = 0x7E2B;

TEST(BridgeIdentity, NamesTheModelAndItsFirmware) {
    for (auto [kind, name] : {std::pair{SlaveKind::ZR01, "Torvanelix ZR01"},
                              std::pair{SlaveKind::ZR02, "Torvanelix ZR02"},
                              std::pair{SlaveKind::ZR12, "Torvanelix ZR12"}}) {
        Bridge bridge(kind);
        EXPECT_EQ(bridge.readText(0x1008, 0), name);
        EXPECT_EQ(bridge.readText(0x100A, 0), "V1.07");
        EXPECT_EQ(bridge.readInt(0x1018, 0), 4);
        EXPECT_EQ(bridge.readInt(0x1018, 4), 4711);
        EXPECT_EQ(bridge.readInt(0xF540, 0x0B), static_cast<int>(kind) + 1);
    }
}

TEST(BridgeIdentity, DescribesFourChannelsOfProcessData) {
    Bridge bridge;
    EXPECT_EQ(bridge.readInt(0x1C12, 0), 4);
    EXPECT_EQ(bridge.readInt(0x1C13, 0), 4);
    EXPECT_EQ(bridge.readInt(0x1C12, 3), 0x1602);
    EXPECT_EQ(bridge.readInt(0x1602, 1), 0x70400010);
    EXPECT_EQ(bridge.readInt(0x1602, 2), 0x707A0020);
    EXPECT_EQ(bridge.readInt(0x1A03, 1), 0x78410010);
    EXPECT_EQ(bridge.readInt(0x1A03, 2), 0x78640020);
}

TEST(ConfigurationWindow, GatesBridgeParametersAndChannelSpeeds) {
    Bridge bridge;
    EXPECT_EQ(bridge.write(0xF540, 1, 10), abort_code::DeviceState);
    EXPECT_EQ(bridge.write(0xF514, 2, 6), abort_code::DeviceState);
    EXPECT_EQ(bridge.device.channelSpeedCode(3), 0u);

    ASSERT_EQ(bridge.write(0xF550, 3, kWindowKey), 0u);
    EXPECT_TRUE(bridge.device.configWindowOpen());
    for (uint8_t sub : {1, 2, 3, 5, 6, 7}) {
        EXPECT_EQ(bridge.write(0xF540, sub, -sub), 0u) << int(sub);
        EXPECT_EQ(bridge.readInt(0xF540, sub), -sub);
    }
    std::vector<uint8_t> unused;
    EXPECT_EQ(bridge.device.dictionary().upload(0xF540, 4, unused), abort_code::SubindexMissing);
    EXPECT_EQ(bridge.write(0xF514, 2, 6), 0u);
    EXPECT_EQ(bridge.write(0xF514, 2, 3), 0u);
    EXPECT_EQ(bridge.write(0xF514, 2, 5), abort_code::ValueRange);
    EXPECT_EQ(bridge.device.channelSpeedCode(3), 3u);

    ASSERT_EQ(bridge.write(0xF550, 3, 0), 0u);
    EXPECT_EQ(bridge.write(0xF540, 7, 1), abort_code::DeviceState);
    EXPECT_EQ(bridge.readInt(0xF540, 7), -7);
}

TEST(UnlockWord, GatesBoardIdentityAndMotorKindsUntilInit) {
    Bridge bridge(SlaveKind::ZR01);
    EXPECT_EQ(bridge.write(0xF540, 0x0C, 123), abort_code::DeviceState);
    EXPECT_EQ(bridge.write(0xF540, 0x0B, 3), abort_code::DeviceState);
    EXPECT_EQ(bridge.write(0xF513, 1, 2), abort_code::DeviceState);

    // Board initialisation as the tool runs it: unlock, number, type, kinds.
    ASSERT_EQ(bridge.write(0xF550, 2, kUnlock), 0u);
    EXPECT_EQ(bridge.write(0xF540, 0x0C, 123), 0u);
    EXPECT_EQ(bridge.write(0xF540, 0x0B, 3), 0u);
    for (uint16_t ch = 0; ch < 4; ++ch) {
        EXPECT_EQ(bridge.write(static_cast<uint16_t>(0xF511 + ch), 1, ch < 2 ? 1 : 2), 0u);
    }
    EXPECT_EQ(bridge.readInt(0xF540, 0x0B), 3);
    EXPECT_EQ(bridge.readInt(0xF540, 0x0C), 123);
    EXPECT_EQ(bridge.readInt(0x1018, 4), 123) << "the board number is the serial number";
    EXPECT_EQ(bridge.readInt(0xF513, 1), 2);
    EXPECT_EQ(bridge.write(0xF540, 0x0B, 4), abort_code::ValueRange);
    EXPECT_EQ(bridge.write(0xF511, 1, 0), abort_code::ValueRange);
    // The unlock does not open the configuration window.
    EXPECT_EQ(bridge.write(0xF540, 1, 1), abort_code::DeviceState);

    bridge.device.onStateChange(0x08, 0x04);
    EXPECT_EQ(bridge.write(0xF540, 0x0C, 5), 0u) << "only INIT locks";
    bridge.device.onStateChange(0x04, 0x01);
    EXPECT_FALSE(bridge.device.unlocked());
    EXPECT_EQ(bridge.write(0xF540, 0x0C, 6), abort_code::DeviceState);

    ASSERT_EQ(bridge.write(0xF550, 2, kUnlock), 0u);
    ASSERT_EQ(bridge.write(0xF550, 2, 1), 0u);
    EXPECT_FALSE(bridge.device.unlocked()) << "a wrong word locks";
}

TEST(BridgeObjects, TakeEveryNumberAsFourBytesAndKeepTheLowBytes) {
    Bridge bridge;
    // 8-bit objects
    EXPECT_EQ(bridge.write(0x6060, 0, 0x12345608), 0u);
    EXPECT_EQ(bridge.readInt(0x6060, 0), 8);
    EXPECT_EQ(bridge.write(0x6098, 0, 0x7F00FF04), 0u);
    EXPECT_EQ(bridge.readInt(0x6098, 0), 4);
    // The 8-bit channel kind takes 4 bytes too.
    ASSERT_EQ(bridge.write(0xF550, 2, kUnlock), 0u);
    EXPECT_EQ(bridge.write(0xF512, 1, 0x00000002), 0u);
    // Vendor command words
    EXPECT_EQ(bridge.write(0xF550, 4, 0x05B2D7E1 + 10), 0u);
    EXPECT_EQ(bridge.readInt(0xF550, 4), 0x05B2D7E1 + 10);
    EXPECT_EQ(bridge.write(0xF550, 6, 0x0639A4D2), 0u);
    std::vector<uint8_t> data;
    EXPECT_EQ(bridge.device.dictionary().upload(0xF550, 6, data), abort_code::WriteOnly);
}

TEST(AccessRecord, KeepsTheNewestVendorAccessesInOrder) {
    using ecsim::VendorAccess;
    Bridge bridge;
    const std::vector<uint8_t> open = {0xF1, 0xD3, 0x06, 0x00};
    EXPECT_EQ(bridge.write(0x6060, 0, 8), 0u);  // not a vendor object
    EXPECT_EQ(bridge.write(0xF540, 1, 10), abort_code::DeviceState);
    ASSERT_EQ(bridge.write(0xF550, 3, kWindowKey), 0u);
    EXPECT_EQ(bridge.writeText(0xF582, 0, "K20.1=0"), 0u);
    EXPECT_EQ(bridge.readText(0xF592, 0), "NoData");
    EXPECT_EQ(bridge.readInt(0xF550, 3), kWindowKey);
    EXPECT_EQ(bridge.write(0xF550, 0, 1), abort_code::ReadOnly);  // refused before the object
    const std::vector<VendorAccess> expected = {
        {true, 0xF540, 1, {10, 0, 0, 0}},
        {true, 0xF550, 3, open},
        {true, 0xF582, 0, {'K', '2', '0', '.', '1', '=', '0'}},
        {false, 0xF592, 0, {}},
        {false, 0xF550, 3, {}},
    };
    EXPECT_EQ(std::vector<VendorAccess>(bridge.device.accessRecord().begin(),
                                        bridge.device.accessRecord().end()),
              expected);

    // A bounded record: the oldest accesses go first.
    const size_t limit = ecsim::BridgeDevice::kAccessRecordLimit;
    for (size_t i = 0; i < limit; ++i) bridge.readInt(0xF550, 2);
    bridge.readInt(0xF550, 4);
    const auto& record = bridge.device.accessRecord();
    ASSERT_EQ(record.size(), limit);
    EXPECT_EQ(record.front(), (VendorAccess{false, 0xF550, 2, {}}));
    EXPECT_EQ(record.back(), (VendorAccess{false, 0xF550, 4, {}}));
    bridge.device.clearAccessRecord();
    EXPECT_TRUE(bridge.device.accessRecord().empty());
}

}  // namespace

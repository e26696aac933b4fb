// Packing the shadow arrays into the bridges' output blocks (with the position
// ramp) and unpacking their input blocks, on a local image.
#include "bus/process_image.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "bus/bus_threads.hpp"
#include "bus/globals.hpp"
#include "ethercat.h"
#include "support/all_layers.hpp"

namespace {

class ProcessImageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testsupport::ResetAllLayers();
        SetMappedAreaSizes(static_cast<uint32_t>(out_.size()), static_cast<uint32_t>(in_.size()));
    }
    void TearDown() override {
        testsupport::ResetAllLayers();
        ec_slave[2].Obits = 0;
        ec_slave[2].Ibits = 0;
    }

    void OneBridgeAt(uint32_t outOffset, uint32_t inOffset) {
        ec_slave[2].Obits = 192;
        ec_slave[2].Ibits = 192;
        g_bridgeSlave[0] = 2;
        g_bridgeModel[0] = kModelZr12;
        g_bridgeOutOffset[0] = outOffset;
        g_bridgeInOffset[0] = inOffset;
        g_bridgeCount = 1;
    }
    std::vector<int32_t> RampTargets(int passes) {
        std::vector<int32_t> targets;
        for (int i = 0; i < passes; ++i) {
            PackBridgeOutputs(out_.data());
            targets.push_back(g_targetPos[0]);
        }
        return targets;
    }

    std::vector<uint8_t> out_ = std::vector<uint8_t>(64, 0xAA);
    std::vector<uint8_t> in_ = std::vector<uint8_t>(64, 0);
};

TEST_F(ProcessImageTest, RampMovesTowardTheGoalAndLandsOnIt) {
    OneBridgeAt(0, 0);
    g_moveSpeed[0] = 100;
    g_movePos[0] = 1000;
    EXPECT_EQ(RampTargets(5), (std::vector<int32_t>{300, 600, 900, 1000, 1000}));
    g_movePos[0] = 0;
    EXPECT_EQ(RampTargets(4), (std::vector<int32_t>{700, 400, 100, 0}));
}

TEST_F(ProcessImageTest, RampStandsWithoutSpeedOrWhileStopped) {
    OneBridgeAt(0, 0);
    g_targetPos[0] = -500;
    EXPECT_EQ(RampTargets(2), (std::vector<int32_t>{-500, -500}));
    g_moveSpeed[0] = 100;
    g_moveStop = 1;
    EXPECT_EQ(RampTargets(2), (std::vector<int32_t>{-500, -500}));
    // The block is written all the same.
    EXPECT_EQ(out_[2], 0x0C);
    EXPECT_EQ(out_[5], 0xFF);
}

TEST_F(ProcessImageTest, RampDoesNotOverflowNearTheLimits) {
    OneBridgeAt(0, 0);
    g_targetPos[1] = INT32_MAX - 10;
    g_movePos[1] = INT32_MAX;
    g_moveSpeed[1] = UINT32_MAX;
    PackBridgeOutputs(out_.data());
    EXPECT_EQ(g_targetPos[1], INT32_MAX);
}

TEST_F(ProcessImageTest, ControlByteCarriesOutputsExceptOnTheCoePage) {
    OneBridgeAt(6, 0);
    g_bridgeMode = kCia402Page;
    g_ctrlWord[0] = 0x000F;
    g_digOut[0] = 0x5;
    g_ctrlWord[1] = 0xC00F;
    // Bits 4 to 7 of the controlword give way to the outputs.
    g_ctrlWord[2] = 0x00F7;
    g_digOut[2] = 0x5;
    g_targetPos[3] = 0x01020304;
    PackBridgeOutputs(out_.data());
    EXPECT_EQ(out_[6], 0x5F);
    EXPECT_EQ(out_[7], 0x00);
    EXPECT_EQ(out_[12], 0x0F);
    EXPECT_EQ(out_[13], 0xC0);
    EXPECT_EQ(out_[18], 0x57);
    EXPECT_EQ((std::vector<uint8_t>(out_.begin() + 26, out_.begin() + 30)),
              (std::vector<uint8_t>{0x04, 0x03, 0x02, 0x01}));
    EXPECT_EQ(out_[5], 0xAA);   // before the block: untouched
    EXPECT_EQ(out_[30], 0xAA);  // after it: untouched

    g_bridgeMode = kCoePage;
    g_ctrlWord[0] = 0x001F;
    g_ctrlWord[1] = 0x010F;
    g_ctrlWord[2] = 0x00FF;  // bits 5 to 7 are dropped
    PackBridgeOutputs(out_.data());
    EXPECT_EQ(out_[6], 0x1F);
    EXPECT_EQ(out_[12], 0x0F);
    EXPECT_EQ(out_[13], 0x01);
    EXPECT_EQ(out_[18], 0x1F);
}

// Both bytes of a controlword come from one value, even while a page changes it.
TEST_F(ProcessImageTest, ControlwordBytesComeFromOneValue) {
    OneBridgeAt(0, 0);
    g_bridgeMode = kCoePage;
    std::atomic<bool> done{false};
    std::thread page([&] {
        while (!done) {
            g_ctrlWord[0] = 0x0000;
            g_ctrlWord[0] = 0xFFFF;
        }
    });
    int mixed = 0;
    for (int pass = 0; pass < 200000; ++pass) {
        PackBridgeOutputs(out_.data());
        if ((out_[0] == 0) != (out_[1] == 0)) ++mixed;
    }
    done = true;
    page.join();
    EXPECT_EQ(mixed, 0);
}

TEST_F(ProcessImageTest, UnpacksStatuswordsAndPositions) {
    OneBridgeAt(0, 2);
    in_[2 + 6] = 0x37;
    in_[2 + 7] = 0x16;
    for (int k = 0; k < 4; ++k) in_[2 + 8 + k] = 0xFF;
    UnpackBridgeInputs(in_.data());
    EXPECT_EQ(g_statusWord[1], 0x1637u);
    EXPECT_EQ(g_actualPos[1], -1);
}

TEST_F(ProcessImageTest, WithoutBridgesNothingIsTouched) {
    g_ctrlWord[0] = 0x1234;
    PackBridgeOutputs(out_.data());
    UnpackBridgeInputs(in_.data());
    ResetMotorOutputs();
    EXPECT_EQ(out_, std::vector<uint8_t>(64, 0xAA));
    EXPECT_EQ(g_ctrlWord[0], 0x1234);
}

// A block past the mapped area, or of a bridge that mapped other sizes, would
// overrun the image or a neighbour's data: it is neither written nor read.
TEST_F(ProcessImageTest, UnusableBlocksAreNeitherWrittenNorRead) {
    const auto expectUntouched = [this](const char* why) {
        g_actualPos[0] = 77;
        in_[2] = in_[50] = 1;
        PackBridgeOutputs(out_.data());
        UnpackBridgeInputs(in_.data());
        EXPECT_EQ(out_, std::vector<uint8_t>(64, 0xAA)) << why;
        EXPECT_EQ(g_actualPos[0], 77) << why;
    };
    OneBridgeAt(48, 48);
    expectUntouched("48 + 24 > 64");
    OneBridgeAt(0, 0);
    ec_slave[2].Obits = 96;
    ec_slave[2].Ibits = 200;
    expectUntouched("12 bytes out, 25 in");
}

TEST_F(ProcessImageTest, ResetMotorOutputsEnablesOperationAndClearsOutputs) {
    OneBridgeAt(0, 0);
    g_bridgeCount = 2;
    for (int i = 0; i < 12; ++i) {
        g_ctrlWord[i] = 0x0007;
        g_digOut[i] = 0xF;
        g_targetPos[i] = 5;
    }
    ResetMotorOutputs();
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(g_ctrlWord[i], 0x000F);
        EXPECT_EQ(g_digOut[i], 0u);
        EXPECT_EQ(g_targetPos[i], 5);
    }
    EXPECT_EQ(g_ctrlWord[8], 0x0007);  // beyond the table
}

TEST(IoMap, ClearIoMapZeroesAll4096Bytes) {
    {
        auto lock = LockProcessImage();
        g_ioMap[0] = 1;
        g_ioMap[kIoMapSize - 1] = 2;
    }
    ClearIoMap();
    auto lock = LockProcessImage();
    EXPECT_EQ(g_ioMap[0], 0);
    EXPECT_EQ(g_ioMap[kIoMapSize - 1], 0);
}

}  // namespace

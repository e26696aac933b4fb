#include "platform/adapters.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "bus/adapter_choice.hpp"

namespace {

namespace fs = std::filesystem;

// A directory laid out like /sys/class/net with adapters of our choosing.
class FakeAdaptersTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("adapters_test_" + std::to_string(getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(root_);
        SetNetworkClassRoot(root_.string());
        g_lanScanState = 1;
        g_adapterCount = 0;
    }
    void TearDown() override {
        SetNetworkClassRoot("");
        fs::remove_all(root_);
        g_lanScanState = 0;
        g_adapterCount = 0;
    }
    void Add(const std::string& name, int index, int type, long speedMbit, bool wireless = false) {
        const fs::path dir = root_ / name;
        fs::create_directories(dir);
        std::ofstream(dir / "ifindex") << index << "\n";
        std::ofstream(dir / "type") << type << "\n";
        if (speedMbit != 0) std::ofstream(dir / "speed") << speedMbit << "\n";
        if (wireless) fs::create_directories(dir / "wireless");
    }

    fs::path root_;
};

TEST_F(FakeAdaptersTest, ClassifiesAdaptersInIndexOrder) {
    Add("wlan0", 3, 1, 300, true);
    Add("lo", 1, 772, 0);
    Add("eth0", 2, 1, 1000);
    Add("tun0", 4, 65534, 10);
    std::vector<NetworkAdapter> adapters;
    ASSERT_TRUE(EnumerateNetworkAdapters(&adapters));
    ASSERT_EQ(adapters.size(), 4u);
    EXPECT_EQ(adapters[0].guidName, "lo");
    EXPECT_EQ(adapters[0].ifType, kIfTypeLoopback);
    EXPECT_EQ(adapters[1].guidName, "eth0");
    EXPECT_EQ(adapters[1].friendlyName, "eth0");
    EXPECT_EQ(adapters[1].ifType, kIfTypeEthernet);
    EXPECT_EQ(adapters[1].transmitLinkSpeed, 1000000000u);
    EXPECT_EQ(adapters[2].ifType, kIfTypeWireless);
    EXPECT_EQ(adapters[3].ifType, kIfTypeOther);
}

TEST_F(FakeAdaptersTest, ListsEthernetAdaptersOfAtLeast100Mbit) {
    Add("eth0", 1, 1, 10);
    Add("eth1", 2, 1, 100);
    Add("wlan0", 3, 1, 1000, true);
    Add("lo", 4, 772, 0);
    Add("eth2", 5, 1, -1);  // down: no speed
    Add("eth3", 6, 1, 10000);
    EXPECT_EQ(ListEthernetAdapters(), 0);
    EXPECT_EQ(g_lanScanState, 2);
    ASSERT_EQ(g_adapterCount, 2);
    EXPECT_STREQ(g_adapterNames[0], "eth1");
    EXPECT_STREQ(g_adapterGuids[0], "eth1");
    EXPECT_STREQ(g_adapterGuids[1], "eth3");
}

TEST_F(FakeAdaptersTest, ListsAtMostTenAdapters) {
    for (int i = 0; i < 11; ++i) Add("eth" + std::to_string(i), i + 1, 1, 1000);
    EXPECT_EQ(ListEthernetAdapters(), 0);
    ASSERT_EQ(g_adapterCount, 10);
    EXPECT_STREQ(g_adapterGuids[9], "eth9");
}

TEST_F(FakeAdaptersTest, AnEmptyListIsPublished) {
    Add("lo", 1, 772, 0);
    EXPECT_EQ(ListEthernetAdapters(), 0);
    EXPECT_EQ(g_lanScanState, 2);
    EXPECT_EQ(g_adapterCount, 0);
}

TEST_F(FakeAdaptersTest, AnUnreadableDirectoryLeavesTheRequestOpen) {
    SetNetworkClassRoot((root_ / "missing").string());
    EXPECT_EQ(ListEthernetAdapters(), -1);
    EXPECT_EQ(g_lanScanState, 1);
    char guid[16] = "unchanged";
    EXPECT_EQ(PickFirstEthernetAdapter(guid, sizeof guid), -1);
    EXPECT_STREQ(guid, "unchanged");
}

TEST_F(FakeAdaptersTest, PicksTheFirstEthernetAdapterWhateverItsSpeed) {
    Add("wlan0", 1, 1, 1000, true);
    Add("enp3s0", 2, 1, 10);
    Add("eth1", 3, 1, 1000);
    char guid[256] = {};
    EXPECT_EQ(PickFirstEthernetAdapter(guid, sizeof guid), 1);
    EXPECT_STREQ(guid, "enp3s0");
    char small[4] = {};
    EXPECT_EQ(PickFirstEthernetAdapter(small, sizeof small), 1);
    EXPECT_STREQ(small, "enp");
}

TEST_F(FakeAdaptersTest, NoEthernetAdapterPicksNothing) {
    Add("lo", 1, 772, 0);
    char guid[256] = {};
    EXPECT_EQ(PickFirstEthernetAdapter(guid, sizeof guid), 0);
}

}  // namespace

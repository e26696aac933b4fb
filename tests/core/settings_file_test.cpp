#include "settings/settings_file.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>

#include "core/message_box_recorder.hpp"
#include "settings/access_level.hpp"
#include "settings/number_text.hpp"
#include "support/all_layers.hpp"
#include "support/failing_disk.hpp"

namespace {

class SettingsFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testsupport::ResetAllLayers();
        dir_ = std::filesystem::temp_directory_path() /
               ("settings_test_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
        path_ = (dir_ / kSettingsFileName).string();
    }
    void TearDown() override {
        std::filesystem::remove_all(dir_);
        testsupport::ResetAllLayers();
    }
    void WriteFile(const std::string& content) {
        std::ofstream(path_, std::ios::binary) << content;
    }
    std::string ReadFile() {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::filesystem::path dir_;
    std::string path_;
    testsupport::MessageBoxRecorder boxes_;
};

TEST_F(SettingsFileTest, MissingFileKeepsTheDefaultsAndSaveCreatesNineLines) {
    LoadSettingsFileFrom(path_);
    EXPECT_EQ(boxes_.texts(), std::vector<std::wstring>{L"SetDataFile Read Error"});
    EXPECT_EQ(g_lanName.get(), "");
    EXPECT_EQ(g_accessLevel, 0);
    EXPECT_EQ(g_slaveCount, 1);
    EXPECT_EQ(g_cia402Pos, 2500);
    EXPECT_EQ(g_cia402Speed, 60);
    EXPECT_EQ(g_cia402Accel, 1000);
    EXPECT_EQ(g_rxTxPdoModeless, 0);
    EXPECT_EQ(g_tqlSendAfterClear, 1);
    EXPECT_EQ(g_selectLan, 0);
    SaveSettingsFileTo(path_);
    EXPECT_EQ(ReadFile(), "\n0\n1\n2500\n60\n1000\n0\n1\n0\n");
}

TEST_F(SettingsFileTest, ReadsAllNineLinesAndWritesThemBack) {
    const std::string content = "\\Device\\NPF_eth1\n9751\n3\n-400\n120\n250\n1\n0\n1\n";
    WriteFile(content);
    LoadSettingsFileFrom(path_);
    EXPECT_TRUE(boxes_.texts().empty());
    EXPECT_EQ(g_lanName.get(), "\\Device\\NPF_eth1");
    EXPECT_EQ(g_accessLevel, 9751);
    EXPECT_EQ(g_slaveCount, 3);
    EXPECT_EQ(g_cia402Pos, -400);
    EXPECT_EQ(g_cia402Speed, 120);
    EXPECT_EQ(g_cia402Accel, 250);
    EXPECT_EQ(g_rxTxPdoModeless, 1);
    EXPECT_EQ(g_tqlSendAfterClear, 0);
    EXPECT_EQ(g_selectLan, 1);
    std::filesystem::remove(path_);
    SaveSettingsFileTo(path_);
    EXPECT_EQ(ReadFile(), content);
}

TEST_F(SettingsFileTest, AShortFileNamesTheFirstMissingLine) {
    WriteFile("eth0\n9617\n2\n");
    LoadSettingsFileFrom(path_);
    EXPECT_EQ(boxes_.texts(), std::vector<std::wstring>{L"File read Error!!!"});
    EXPECT_EQ(g_lanName.get(), "eth0");
    EXPECT_EQ(g_accessLevel, 9617);
    EXPECT_EQ(g_slaveCount, 2);
    EXPECT_EQ(g_cia402Pos, 2500);

    boxes_.clear();
    WriteFile("eth0\n9617\n2\n7\n");
    LoadSettingsFileFrom(path_);
    EXPECT_EQ(boxes_.texts(), std::vector<std::wstring>{L"File read  Error!!!"});
    EXPECT_EQ(g_cia402Pos, 7);

    boxes_.clear();
    WriteFile("");
    LoadSettingsFileFrom(path_);
    EXPECT_EQ(boxes_.texts(), std::vector<std::wstring>{L"File Read Error!!!"});
}

TEST_F(SettingsFileTest, ALastLineWithoutLineEndLosesItsLastCharacter) {
    WriteFile("eth0\n0\n1\n2500\n60\n1000\n0\n1\n1");
    LoadSettingsFileFrom(path_);
    EXPECT_EQ(g_selectLan, 0);
    WriteFile("eth0\n0\n12");
    LoadSettingsFileFrom(path_);
    EXPECT_EQ(g_slaveCount, 12);  // line 3 keeps all its digits
}

TEST_F(SettingsFileTest, TextThatIsNoNumberKeepsTheValue) {
    WriteFile("eth0\nabc\n1\n2500\nfast\n1000\n0\n1\n0\n");
    LoadSettingsFileFrom(path_);
    EXPECT_EQ(g_accessLevel, 0);
    EXPECT_EQ(g_cia402Speed, 60);
}

TEST_F(SettingsFileTest, ALongFirstLineIsCutAndItsRestReadAsTheSecond) {
    const std::string longName = std::string(89, 'a') + "42\n";
    WriteFile(longName + "5\n6\n7\n8\n9\n1\n0\n");
    LoadSettingsFileFrom(path_);
    EXPECT_EQ(g_lanName.get(), std::string(80, 'a'));
    EXPECT_EQ(g_accessLevel, 42);
    EXPECT_EQ(g_slaveCount, 5);
}

TEST_F(SettingsFileTest, CarriageReturnLineEndsAreRead) {
    WriteFile("eth2\r\n9751\r\n4\r\n10\r\n20\r\n30\r\n0\r\n1\r\n1\r\n");
    LoadSettingsFileFrom(path_);
    EXPECT_EQ(g_lanName.get(), "eth2");
    EXPECT_EQ(g_accessLevel, 9751);
    EXPECT_EQ(g_slaveCount, 4);
    EXPECT_EQ(g_selectLan, 1);
}

TEST_F(SettingsFileTest, ValuesOthersRelyOnAreKeptInRange) {
    WriteFile("eth0\n0\n40\n2500\n60\n0\n0\n1\n0\n");
    LoadSettingsFileFrom(path_);
    EXPECT_EQ(g_slaveCount, 32);
    EXPECT_EQ(g_cia402Accel, 1);
    WriteFile("eth0\n0\n0\n2500\n60\n-5\n0\n1\n0\n");
    LoadSettingsFileFrom(path_);
    EXPECT_EQ(g_slaveCount, 1);
    EXPECT_EQ(g_cia402Accel, -5);  // only 0 has no quotient
}

TEST_F(SettingsFileTest, AFileThatCannotBeWrittenIsReported) {
    EXPECT_EQ(SaveSettingsFileTo(dir_.string()), L"File Write Open Error");  // a directory
}

// The tool runs as root: a link in the file's place is refused and what it
// points to stays as it was; a write that fails keeps the old file and says so.
TEST_F(SettingsFileTest, SavingRefusesALinkAndKeepsTheOldFileWhenTheDiskIsFull) {
    const std::filesystem::path elsewhere = dir_ / "elsewhere";
    std::ofstream(elsewhere) << "precious\n";
    std::filesystem::create_symlink(elsewhere, path_);
    EXPECT_EQ(SaveSettingsFileTo(path_), L"File Write Open Error");
    EXPECT_TRUE(std::filesystem::is_symlink(path_));
    EXPECT_EQ(ReadFile(), "precious\n");

    std::filesystem::remove(path_);
    const std::string old = "eth0\n0\n1\n2500\n60\n1000\n0\n1\n0\n";
    WriteFile(old);
    ASSERT_EQ(::chmod(path_.c_str(), 0640), 0);
    g_cia402Pos = 7777;
    {
        testsupport::FailingDisk full;
        EXPECT_EQ(SaveSettingsFileTo(path_),
                  L"File Write Error: No space left on device\r\nThe settings were not saved; "
                  L"the file keeps its earlier values.");
    }
    EXPECT_EQ(ReadFile(), old);
    EXPECT_EQ(SaveSettingsFileTo(path_), L"");
    EXPECT_EQ(ReadFile(), "\n0\n1\n7777\n60\n1000\n0\n1\n0\n");
    EXPECT_EQ(std::filesystem::status(path_).permissions(),
              std::filesystem::perms(0640));  // still as readable as it was
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir_)) ++files;
    EXPECT_EQ(files, 2u) << "no half-written file is left beside it";
    EXPECT_TRUE(boxes_.texts().empty());
}

// Opening a pipe would wait for its other end: at start-up and at Quit alike.
TEST_F(SettingsFileTest, APipeIsRefusedWithoutWaitingForItsOtherEnd) {
    ASSERT_EQ(mkfifo(path_.c_str(), 0600), 0);
    // Opens the other end when the call under test hangs, so that the test ends.
    auto finishes = [this](const std::function<void()>& call, int otherEnd) {
        auto done = std::async(std::launch::async, call);
        if (done.wait_for(std::chrono::seconds(5)) == std::future_status::ready) return true;
        const int fd = ::open(path_.c_str(), otherEnd);
        const bool reader = otherEnd != O_WRONLY;
        if (!reader) ::close(fd);  // the hung read sees the end of the file
        done.wait();
        if (reader) ::close(fd);  // after the hung write had somewhere to go
        return false;
    };
    EXPECT_TRUE(finishes([this] { LoadSettingsFileFrom(path_); }, O_WRONLY));
    std::wstring saved;
    EXPECT_TRUE(finishes([&] { saved = SaveSettingsFileTo(path_); }, O_RDONLY | O_NONBLOCK));
    EXPECT_EQ(boxes_.texts(), std::vector<std::wstring>{L"SetDataFile Read Error"});
    EXPECT_EQ(saved, L"File Write Open Error");
    EXPECT_EQ(g_slaveCount, 1);
}

TEST(ReadLeadingInteger, ReadsLikeTheSettingsFile) {
    int32_t value = 0;
    EXPECT_TRUE(ReadLeadingInteger("  -12abc", &value));
    EXPECT_EQ(value, -12);
    EXPECT_TRUE(ReadLeadingInteger("+7", &value));
    EXPECT_EQ(value, 7);
    EXPECT_TRUE(ReadLeadingInteger("-2147483648", &value));
    EXPECT_EQ(value, INT32_MIN);
    value = 99;
    EXPECT_FALSE(ReadLeadingInteger("", &value));
    EXPECT_FALSE(ReadLeadingInteger("x1", &value));
    EXPECT_FALSE(ReadLeadingInteger("-", &value));
    EXPECT_FALSE(ReadLeadingInteger("2147483648", &value));
    EXPECT_EQ(value, 99);
}

// The hexadecimal fields of the device tools: "1008h" and "0x6041" address the
// objects a user means; a text without a digit, a sign or more than 32 bits is
// refused, never read as some other number.
TEST(ReadLeadingHex, ReadsLikeTheToolsFields) {
    uint32_t value = 0;
    EXPECT_TRUE(ReadLeadingHex(" 1008h", &value));
    EXPECT_EQ(value, 0x1008u);
    EXPECT_TRUE(ReadLeadingHex("0x6041", &value));
    EXPECT_EQ(value, 0x6041u);
    EXPECT_TRUE(ReadLeadingHex("fFfFfFfF", &value));
    EXPECT_EQ(value, 0xFFFFFFFFu);
    EXPECT_TRUE(ReadLeadingHex("0x", &value));
    EXPECT_EQ(value, 0u);
    value = 99;
    EXPECT_FALSE(ReadLeadingHex("zz", &value));
    EXPECT_FALSE(ReadLeadingHex("", &value));
    EXPECT_FALSE(ReadLeadingHex("-1", &value));
    EXPECT_FALSE(ReadLeadingHex("100000000", &value));
    EXPECT_EQ(value, 99u);
}

TEST(AccessLevel, GreysToolsItemsByLevel) {
    testsupport::ResetAllLayers();
    EXPECT_FALSE(IsToolsItemEnabled(ToolsItem::SoftwareUpDate));
    EXPECT_FALSE(IsToolsItemEnabled(ToolsItem::BoardInit));
    g_accessLevel = kServiceLevel;
    EXPECT_TRUE(IsServiceOrMakerLevel());
    EXPECT_FALSE(IsMakerLevel());
    EXPECT_TRUE(IsToolsItemEnabled(ToolsItem::SoftwareUpDate));
    EXPECT_FALSE(IsToolsItemEnabled(ToolsItem::MailBox));
    g_accessLevel = kMakerLevel;
    EXPECT_TRUE(IsToolsItemEnabled(ToolsItem::BoardInit));
    EXPECT_TRUE(IsToolsItemEnabled(ToolsItem::SlaveMemory));
    testsupport::ResetAllLayers();
}

}  // namespace

#include "motor/param_file.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "motor_bus.hpp"

namespace {

using motortest::MotorBus;

class ParamFile : public ::testing::Test {
  protected:
    void SetUp() override { testsupport::ResetAllLayers(); }
    void TearDown() override {
        testsupport::ResetAllLayers();
        std::filesystem::remove_all(dir_);
    }

    std::string WriteFile(const std::string& data) {
        std::filesystem::create_directories(dir_);
        const std::string path = (dir_ / ("f" + std::to_string(files_++) + ".txt")).string();
        std::ofstream(path, std::ios::binary) << data;
        return path;
    }

    ParamFileLoad Start(const std::string& data) {
        std::string error;
        return StartParameterFile(WriteFile(data), &error);
    }

    // Every cut until the data ends or a line is refused.
    std::vector<std::string> CutAll(ParamLineCut* last) {
        std::vector<std::string> lines;
        std::string text;
        while ((*last = CutParameterFileLine(&text)) == ParamLineCut::Line) lines.push_back(text);
        return lines;
    }

    std::filesystem::path dir_ =
        std::filesystem::temp_directory_path() /
        ("motor_param_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
         std::to_string(reinterpret_cast<uintptr_t>(this)));
    int files_ = 0;
};

TEST_F(ParamFile, LinesEndAtLfAndTheirTextAtCr) {
    ASSERT_EQ(Start("K1.1=2\r\n\r\n\nW.1=358\n"), ParamFileLoad::Started);
    EXPECT_EQ(g_paramFileSending, 1);
    ParamLineCut last;
    EXPECT_EQ(CutAll(&last), (std::vector<std::string>{"K1.1=2", "", "", "W.1=358"}));
    EXPECT_EQ(last, ParamLineCut::End);
}

TEST_F(ParamFile, ALastLineWithoutLfIsSentAndNothingPastTheDataIsRead) {
    ASSERT_EQ(Start("K1.1=2\nK2.1=3"), ParamFileLoad::Started);
    // Bytes after the data must never become part of a line.
    g_paramFileBuf[g_paramFileLength] = 'X';
    g_paramFileBuf[g_paramFileLength + 1] = '\n';
    ParamLineCut last;
    EXPECT_EQ(CutAll(&last), (std::vector<std::string>{"K1.1=2", "K2.1=3"}));
    EXPECT_EQ(last, ParamLineCut::End);
    EXPECT_EQ(g_paramFileOffset, g_paramFileLength);
}

TEST_F(ParamFile, SixtyBytesAndLfPassButSixtyOneWithoutLfAreTooLong) {
    const std::string sixty(60, 'A');
    ASSERT_EQ(Start(sixty + "\n" + sixty + "\r\nK1.1=1\n"), ParamFileLoad::Started);
    ParamLineCut last;
    EXPECT_EQ(CutAll(&last), std::vector<std::string>{sixty});
    EXPECT_EQ(last, ParamLineCut::TooLong);

    // A last line without LF gets the same limit.
    ASSERT_EQ(Start(sixty), ParamFileLoad::Started);
    EXPECT_EQ(CutAll(&last), std::vector<std::string>{sixty});
    ASSERT_EQ(Start(sixty + "B"), ParamFileLoad::Started);
    EXPECT_TRUE(CutAll(&last).empty());
    EXPECT_EQ(last, ParamLineCut::TooLong);
}

TEST_F(ParamFile, AZeroByteEndsTheText) {
    ASSERT_EQ(Start(std::string("K1.1=2\0junk\nK2.1=1\n", 19)), ParamFileLoad::Started);
    ParamLineCut last;
    EXPECT_EQ(CutAll(&last), (std::vector<std::string>{"K1.1=2", "K2.1=1"}));
}

TEST_F(ParamFile, SizeLimitAndAnEmptyFile) {
    EXPECT_EQ(Start(std::string(kParamFileMaxBytes, '\n')), ParamFileLoad::Started);
    EXPECT_EQ(g_paramFileLength, kParamFileMaxBytes);

    ASSERT_EQ(Start("K1.1=2\n"), ParamFileLoad::Started);
    std::string text;
    ASSERT_EQ(CutParameterFileLine(&text), ParamLineCut::Line);
    ASSERT_EQ(Start("K9.1=9\nK8.1=8\n"), ParamFileLoad::Started);  // a new file starts afresh
    EXPECT_EQ(g_paramFileOffset, 0);

    // A refused file leaves the running send and its data untouched.
    ASSERT_EQ(CutParameterFileLine(&text), ParamLineCut::Line);
    EXPECT_EQ(Start(std::string(kParamFileMaxBytes + 1, 'Z')), ParamFileLoad::TooBig);
    EXPECT_EQ(g_paramFileSending, 1);
    ASSERT_EQ(CutParameterFileLine(&text), ParamLineCut::Line);
    EXPECT_EQ(text, "K8.1=8");

    std::string error;
    EXPECT_EQ(StartParameterFile((dir_ / "missing.txt").string(), &error),
              ParamFileLoad::OpenFailed);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(StartParameterFile(dir_.string(), &error), ParamFileLoad::OpenFailed);  // a folder

    ASSERT_EQ(Start(""), ParamFileLoad::Started);
    EXPECT_EQ(SendParameterFileLine(1, 0), ParamFileStep::Idle);
    EXPECT_EQ(g_paramFileSending, 0);
}

// Only a file with an end is read: a pipe would hold the window until someone
// wrote to it.
TEST_F(ParamFile, APipeIsRefusedWithoutWaitingForAWriter) {
    std::filesystem::create_directories(dir_);
    const std::string path = (dir_ / "pipe.txt").string();
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    std::string error;
    auto load = std::async(std::launch::async, [&] { return StartParameterFile(path, &error); });
    const bool returned = load.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!returned) ::close(::open(path.c_str(), O_WRONLY));  // let the reader end
    EXPECT_TRUE(returned);
    EXPECT_EQ(load.get(), ParamFileLoad::OpenFailed);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(g_paramFileSending, 0);
}

// The file's lines go to the chosen motor as the page sends them, one per call.
TEST_F(ParamFile, LinesReachTheMotorAndTheSentLog) {
    MotorBus bus("ZR12,IO");
    ASSERT_EQ(Start("W.1=358\r\n\r\nK33.1=5\nK34.1=6"), ParamFileLoad::Started);
    std::vector<ParamFileStep> steps;
    while (g_paramFileSending == 1) steps.push_back(SendParameterFileLine(1, 1));
    EXPECT_EQ(steps, std::vector<ParamFileStep>(4, ParamFileStep::Sent));
    EXPECT_EQ(g_paramFileOffset, 0);
    EXPECT_EQ(g_strTqlLog.copy(),
              L"TQ[1.2]:W.1=358\r\nTQ[1.2]:\r\nTQ[1.2]:K33.1=5\r\nTQ[1.2]:K34.1=6\r\n");
    EXPECT_EQ(bus.motor(1, 2).param(33), 5);
    EXPECT_EQ(bus.motor(1, 2).param(34), 6);
    EXPECT_EQ(bus.motor(1, 1).param(33), 0);

    // Above the slaves found a line is skipped, neither written nor logged.
    g_strTqlLog.clear();
    ASSERT_EQ(Start("K35.1=7\n"), ParamFileLoad::Started);
    EXPECT_EQ(SendParameterFileLine(3, 1), ParamFileStep::Skipped);
    EXPECT_EQ(g_paramFileSending, 0);
    EXPECT_EQ(g_strTqlLog.length(), 0u);

    // "MotorID1-ID4" names no line object: the send stops without writing.
    ASSERT_EQ(Start("K35.1=7\n"), ParamFileLoad::Started);
    EXPECT_EQ(SendParameterFileLine(1, 4), ParamFileStep::NoMotor);
    EXPECT_EQ(g_paramFileSending, 0);
    EXPECT_EQ(bus.motor(1, 2).param(35), 0);

    ASSERT_EQ(Start(std::string(61, 'K') + "\n"), ParamFileLoad::Started);
    EXPECT_EQ(SendParameterFileLine(1, 0), ParamFileStep::TooLong);
    EXPECT_EQ(g_paramFileSending, 0);
    EXPECT_EQ(g_paramFileOffset, 0);
    EXPECT_EQ(g_strTqlLog.length(), 0u);
}

}  // namespace

// A fresh, empty working folder for one test: files that the tool reads and
// writes by fixed name land there. The previous folder comes back, and the
// folder goes, when the object does.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace testsupport {

class ScopedWorkingFolder {
  public:
    ScopedWorkingFolder() : previous_(std::filesystem::current_path()) {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = std::filesystem::temp_directory_path() /
                  ("quendrel_" + std::to_string(getpid()) + "_" + test->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        std::filesystem::current_path(folder_);
    }
    ~ScopedWorkingFolder() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
        std::filesystem::remove_all(folder_, ignored);
    }
    ScopedWorkingFolder(const ScopedWorkingFolder&) = delete;
    ScopedWorkingFolder& operator=(const ScopedWorkingFolder&) = delete;

    const std::filesystem::path& path() const { return folder_; }

  private:
    std::filesystem::path previous_;
    std::filesystem::path folder_;
};

}  // namespace testsupport

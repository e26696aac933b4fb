// The device tools' tests on a simulated segment opened by the master, with the
// bridge table filled from it (the motor pages' fixture), and the tools' own
// state at program-load values on both ends.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "motor/motor_bus.hpp"
#include "tools/board_identity.hpp"
#include "tools/self_prg.hpp"

namespace tooltest {

class ToolBus : public motortest::MotorBus {
  public:
    explicit ToolBus(const std::string& slaves) : MotorBus(slaves) {}
};

// A file of the test's own, removed when it goes.
class TempFile {
  public:
    explicit TempFile(const std::string& data, const std::string& name = "firmware.srec")
        : path_(std::filesystem::temp_directory_path() /
                ("quendrel-" + std::to_string(::getpid()) + "-" + std::to_string(++count_) + "-" +
                 name)) {
        std::ofstream(path_, std::ios::binary) << data;
    }
    ~TempFile() {
        std::error_code ec;
        std::filesystem::remove(path_, ec);
    }
    std::string path() const { return path_.string(); }

  private:
    static inline int count_ = 0;
    std::filesystem::path path_;
};

}  // namespace tooltest

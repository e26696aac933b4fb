// A simulated Tarnquisel motor: the TQL command interpreter behind one serial
// channel of a bridge, its parameters K1..K99, lock and serial speed.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ecsim {

enum class MotorKind : uint8_t { A = 1, B = 2 };

// Line speeds of a motor channel; a line passes only between equal speeds.
enum class SerialSpeed : uint8_t { Baud38400, Baud170k, Third, Unusable };

// Speed of a bridge channel by its speed code (0, 6, 3); other codes are unusable.
SerialSpeed channelSpeed(uint32_t code);
// Speed of a motor by its K20 value: 0 and 3 for both kinds, 6 (kind A) or 8
// (kind B) for 170 kbit/s; any other value is not one the motor takes.
SerialSpeed motorSpeed(MotorKind kind, int32_t k20);

class TqlMotor {
  public:
    static constexpr int kFirstParam = 1;
    static constexpr int kLastParam = 99;

    explicit TqlMotor(MotorKind kind);

    // Runs one received line and returns the replies in order. The replies of a
    // line leave at the speed the line came in; a K20 change holds from the
    // next line on.
    std::vector<std::string> runLine(std::string_view line);

    MotorKind kind() const { return kind_; }
    bool locked() const { return locked_; }
    SerialSpeed serialSpeed() const { return motorSpeed(kind_, param(20)); }

    // Parameter n in kFirstParam..kLastParam (others read 0 and ignore writes).
    int32_t param(int n) const;
    // The bridge's own access (its CiA402 objects), which needs no unlock.
    void setParam(int n, int32_t value);

    // Motion state, driven by the bridge's axis of this channel.
    int32_t position() const { return position_; }
    void setPosition(int32_t p) { position_ = p; }
    int32_t velocity() const { return velocity_; }
    void setVelocity(int32_t v) { velocity_ = v; }

  private:
    void runCommand(std::string_view command, std::vector<std::string>& replies);
    void runQuery(int code, std::vector<std::string>& replies) const;
    void runParameter(int n, std::string_view value, std::vector<std::string>& replies);

    MotorKind kind_;
    bool locked_ = true;
    std::array<int32_t, kLastParam + 1> params_{};
    int32_t position_ = 0;
    int32_t velocity_ = 0;
};

}  // namespace ecsim

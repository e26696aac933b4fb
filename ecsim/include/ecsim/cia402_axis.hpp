// One CiA402 axis of a bridge: the drive state machine, modes of operation
// (cyclic synchronous position, homing, the bridge's CPIO mode and TQL
// pass-through), its objects at index + channel × 0x800, and four digital
// outputs wired back to four inputs.
#pragma once

#include <chrono>
#include <cstdint>

#include "ecsim/device.hpp"
#include "ecsim/object_dictionary.hpp"

namespace ecsim {

class TqlMotor;

namespace cia402 {
inline constexpr int8_t kModeHoming = 6;
inline constexpr int8_t kModeCsp = 8;
inline constexpr int8_t kModeTql = 101;
inline constexpr int8_t kModeCpio = 121;

inline constexpr uint16_t kBitHomingStart = 1 << 4;
inline constexpr uint16_t kBitHalt = 1 << 8;

inline constexpr uint16_t kBitTargetReached = 1 << 10;
inline constexpr uint16_t kBitHomingAttained = 1 << 12;
inline constexpr uint16_t kBitFollowing = 1 << 12;
inline constexpr uint16_t kBitHomingError = 1 << 13;
inline constexpr uint16_t kBitMotorError = 1 << 14;

// Modes of operation display lags the written mode by about one or two cycles.
inline constexpr std::chrono::milliseconds kModeDisplayLag{30};
// Largest move per process-data cycle in mode 8.
inline constexpr int32_t kMaxCspStep = 10000;
// A switch homing that never meets its input gives up after this.
inline constexpr std::chrono::milliseconds kSwitchSearchTimeout{2000};
}  // namespace cia402

enum class DriveState { SwitchOnDisabled, ReadyToSwitchOn, SwitchedOn, OperationEnabled };

enum class HomingState { NotStarted, Running, Attained, Failed, MotorError };

class Cia402Axis {
  public:
    // `motor` is null when no motor is fitted to the channel. The axis adds its
    // objects to `od` at `indexOffset` (channel × 0x800).
    Cia402Axis(ObjectDictionary& od, uint16_t indexOffset, TqlMotor* motor, Clock::time_point now);
    Cia402Axis(const Cia402Axis&) = delete;
    Cia402Axis& operator=(const Cia402Axis&) = delete;

    // One process-data cycle: the controlword and target position received.
    void onCycle(uint16_t controlword, int32_t target);
    void tick(Clock::time_point now);
    // The process data stopped (the slave left OP): as if the controlword were 0.
    void disable() { onCycle(0, target_); }

    uint16_t statusword() const;
    int32_t positionActual() const;

    DriveState state() const { return state_; }
    int8_t modeDisplay() const { return modeDisplay_; }
    HomingState homing() const { return homing_; }
    uint8_t outputs() const;                      // the four physical outputs, bits 0..3
    uint8_t inputs() const { return outputs(); }  // wired back from the outputs

  private:
    struct Homing {
        int method = 0;
        int32_t from = 0;
        int32_t to = 0;
        int64_t searchSpeed = 1;
        bool findsInput = true;
        Clock::time_point start{};
        std::chrono::milliseconds duration{0};
    };

    void addObjects();
    void startHoming();
    void advanceHoming();
    void endHoming(HomingState result);
    int64_t param(uint16_t index, uint8_t sub) const;

    ObjectDictionary& od_;
    uint16_t offset_;
    TqlMotor* motor_;
    Clock::time_point now_;

    int8_t modeRequested_ = cia402::kModeTql;
    int8_t modeDisplay_ = cia402::kModeTql;
    Clock::time_point modeWritten_{};

    uint16_t controlword_ = 0;
    int32_t target_ = 0;
    DriveState state_ = DriveState::SwitchOnDisabled;

    HomingState homing_ = HomingState::NotStarted;
    Homing run_;
};

}  // namespace ecsim

#include "ecsim/cia402_axis.hpp"

#include <algorithm>
#include <limits>
#include <string>

#include "bridge_entries.hpp"
#include "ecsim/tql_motor.hpp"

namespace ecsim {

namespace {

using namespace cia402;
using std::chrono::milliseconds;

constexpr uint16_t kControlword = 0x6040;
constexpr uint16_t kStatusword = 0x6041;
constexpr uint16_t kModes = 0x6060;
constexpr uint16_t kModesDisplay = 0x6061;
constexpr uint16_t kPositionActual = 0x6064;
constexpr uint16_t kTargetPosition = 0x607A;
constexpr uint16_t kHomeOffset = 0x607C;
constexpr uint16_t kHomingMethod = 0x6098;
constexpr uint16_t kHomingSpeeds = 0x6099;
constexpr uint16_t kHomingAcceleration = 0x609A;
constexpr uint16_t kMotorParams = 0x60F6;
constexpr uint16_t kDigitalInputs = 0x60FD;
constexpr uint16_t kDigitalOutputs = 0x60FE;

// 0x60F6 subindex n is motor parameter K(n + 20).
constexpr int kMotorParamBase = 20;
constexpr uint8_t kMotorParamSubs = TqlMotor::kLastParam - kMotorParamBase;

constexpr int kMethodStopperCw = 1;
constexpr int kMethodSwitchCcw = 4;

// Homing path: the search runs past the home position by this much, then
// backs off to the mark at the zero-search speed. Speeds are in units per 10 ms.
constexpr int64_t kSearchOvershoot = 2000;
constexpr int64_t kBackOff = 200;
constexpr int64_t kSpeedTimeBaseMs = 10;
constexpr int64_t kHomingSettleMs = 100;

constexpr int32_t kDefaultHomingSpeed = 500;
constexpr int32_t kDefaultHomingAcceleration = 500;

bool supportedMode(int64_t mode) {
    return mode == kModeHoming || mode == kModeCsp || mode == kModeTql || mode == kModeCpio;
}

DriveState stateFor(uint16_t controlword) {
    // Lenient: the command bits select the state directly, from any state.
    if ((controlword & 0x0F) == 0x0F) return DriveState::OperationEnabled;
    if ((controlword & 0x07) == 0x07) return DriveState::SwitchedOn;
    if ((controlword & 0x07) == 0x06) return DriveState::ReadyToSwitchOn;
    return DriveState::SwitchOnDisabled;
}

uint16_t stateBits(DriveState state) {
    switch (state) {
        case DriveState::SwitchOnDisabled:
            return 0x0040;
        case DriveState::ReadyToSwitchOn:
            return 0x0031;
        case DriveState::SwitchedOn:
            return 0x0033;
        case DriveState::OperationEnabled:
            return 0x0037;
    }
    return 0;
}

uint16_t homingBits(HomingState homing) {
    switch (homing) {
        case HomingState::NotStarted:
            return kBitTargetReached;
        case HomingState::Running:
            return 0;
        case HomingState::Attained:
            return kBitHomingAttained | kBitTargetReached;
        case HomingState::Failed:
            return kBitHomingError | kBitTargetReached;
        case HomingState::MotorError:
            return kBitMotorError | kBitTargetReached;
    }
    return 0;
}

int32_t saturate(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

uint32_t positive(int64_t v) {
    return v > 0 ? abort_code::None : abort_code::ValueRange;
}

// K27 marks the homing input with the digit 2.
bool marksHomingInput(int32_t k27) {
    return std::to_string(k27).find('2') != std::string::npos;
}

}  // namespace

Cia402Axis::Cia402Axis(ObjectDictionary& od, uint16_t indexOffset, TqlMotor* motor,
                       Clock::time_point now)
    : od_(od), offset_(indexOffset), motor_(motor), now_(now) {
    addObjects();
}

void Cia402Axis::addObjects() {
    using bridge_entries::addChecked;
    using bridge_entries::addComputed;
    auto at = [this](uint16_t base) { return static_cast<uint16_t>(base + offset_); };

    // Written by SDO they act as one cycle would; running process data overrides them.
    addComputed(
        od_, at(kControlword), 0, DataType::Unsigned16, [this] { return controlword_; },
        [this](int64_t v) {
            onCycle(static_cast<uint16_t>(v), target_);
            return abort_code::None;
        });
    addComputed(od_, at(kStatusword), 0, DataType::Unsigned16, [this] { return statusword(); });
    addComputed(
        od_, at(kModes), 0, DataType::Integer8, [this] { return modeRequested_; },
        [this](int64_t mode) {
            if (!supportedMode(mode)) return abort_code::ValueRange;
            modeRequested_ = static_cast<int8_t>(mode);
            modeWritten_ = now_;
            return abort_code::None;
        });
    addComputed(od_, at(kModesDisplay), 0, DataType::Integer8, [this] { return modeDisplay_; });
    addComputed(od_, at(kPositionActual), 0, DataType::Integer32,
                [this] { return positionActual(); });
    addComputed(
        od_, at(kTargetPosition), 0, DataType::Integer32, [this] { return target_; },
        [this](int64_t v) {
            onCycle(controlword_, static_cast<int32_t>(v));
            return abort_code::None;
        });

    od_.addI32(at(kHomeOffset), 0, 0);
    addChecked(od_, at(kHomingMethod), 0, DataType::Integer8, kMethodStopperCw, [](int64_t m) {
        return m >= kMethodStopperCw && m <= kMethodSwitchCcw ? abort_code::None
                                                              : abort_code::ValueRange;
    });
    od_.addU8(at(kHomingSpeeds), 0, 2, Access::ReadOnly);
    // Zero speeds or acceleration would make the homing time meaningless.
    addChecked(od_, at(kHomingSpeeds), 1, DataType::Unsigned32, kDefaultHomingSpeed, positive);
    addChecked(od_, at(kHomingSpeeds), 2, DataType::Unsigned32, kDefaultHomingSpeed, positive);
    addChecked(od_, at(kHomingAcceleration), 0, DataType::Unsigned32, kDefaultHomingAcceleration,
               positive);

    od_.addU8(at(kMotorParams), 0, kMotorParamSubs, Access::ReadOnly);
    for (uint8_t sub = 1; sub <= kMotorParamSubs; ++sub) {
        const int n = sub + kMotorParamBase;
        // The bridge asks its motor; without one nothing can answer.
        addComputed(
            od_, at(kMotorParams), sub, DataType::Integer32,
            [this, n]() -> std::optional<int64_t> {
                if (motor_ == nullptr) return std::nullopt;
                return motor_->param(n);
            },
            [this, n](int64_t v) {
                if (motor_ == nullptr) return abort_code::CannotStore;
                motor_->setParam(n, static_cast<int32_t>(v));
                return abort_code::None;
            });
    }

    addComputed(od_, at(kDigitalInputs), 0, DataType::Integer32, [this] { return inputs(); });
    od_.addU8(at(kDigitalOutputs), 0, 2, Access::ReadOnly);
    od_.addU32(at(kDigitalOutputs), 1, 0);
    od_.addU32(at(kDigitalOutputs), 2, 0);  // outputs stay off until the master enables them
}

int64_t Cia402Axis::param(uint16_t index, uint8_t sub) const {
    return od_.getInt(static_cast<uint16_t>(index + offset_), sub);
}

int32_t Cia402Axis::positionActual() const {
    return motor_ != nullptr ? motor_->position() : 0;
}

uint8_t Cia402Axis::outputs() const {
    if (modeDisplay_ == kModeCpio) return static_cast<uint8_t>((controlword_ >> 4) & 0x0F);
    return static_cast<uint8_t>(param(kDigitalOutputs, 1) & param(kDigitalOutputs, 2) & 0x0F);
}

uint16_t Cia402Axis::statusword() const {
    uint16_t sw = stateBits(state_) | 0x0200;  // remote
    switch (modeDisplay_) {
        case kModeCpio:
            sw = static_cast<uint16_t>((sw & ~0x00F0) | (inputs() << 4));
            break;
        case kModeCsp:
            if (state_ == DriveState::OperationEnabled) sw |= kBitFollowing;
            if (positionActual() == target_) sw |= kBitTargetReached;
            break;
        case kModeHoming:
            sw |= homingBits(homing_);
            break;
        default:
            break;
    }
    return sw;
}

void Cia402Axis::onCycle(uint16_t controlword, int32_t target) {
    const bool startEdge =
        (controlword & kBitHomingStart) != 0 && (controlword_ & kBitHomingStart) == 0;
    controlword_ = controlword;
    target_ = target;
    state_ = stateFor(controlword);
    const bool moving = state_ == DriveState::OperationEnabled && (controlword & kBitHalt) == 0;

    if (modeDisplay_ == kModeCsp && motor_ != nullptr) {
        const int32_t step =
            moving ? saturate(std::clamp<int64_t>(int64_t{target} - motor_->position(),
                                                  -kMaxCspStep, kMaxCspStep))
                   : 0;
        motor_->setPosition(saturate(int64_t{motor_->position()} + step));
        motor_->setVelocity(step);
    } else if (modeDisplay_ == kModeHoming) {
        // Halt, or leaving operation enabled, ends a homing without reaching home.
        if (homing_ == HomingState::Running && !moving) {
            endHoming(HomingState::Failed);
        } else if (startEdge && state_ == DriveState::OperationEnabled) {
            startHoming();
        }
    }
}

void Cia402Axis::tick(Clock::time_point now) {
    now_ = now;
    if (modeDisplay_ != modeRequested_ && now_ - modeWritten_ >= kModeDisplayLag) {
        modeDisplay_ = modeRequested_;
    }
    advanceHoming();
}

void Cia402Axis::startHoming() {
    if (motor_ == nullptr) {
        homing_ = HomingState::MotorError;
        return;
    }
    const auto method = static_cast<int>(param(kHomingMethod, 0));
    const int64_t searchSpeed = std::max<int64_t>(param(kHomingSpeeds, 1), 1);
    const int64_t zeroSpeed = std::max<int64_t>(param(kHomingSpeeds, 2), 1);
    const int64_t acceleration = std::max<int64_t>(param(kHomingAcceleration, 0), 1);

    run_.method = method;
    run_.from = motor_->position();
    run_.to = static_cast<int32_t>(param(kHomeOffset, 0));
    run_.searchSpeed = searchSpeed;
    run_.findsInput = method < 3 || marksHomingInput(motor_->param(27));
    run_.start = now_;
    if (run_.findsInput) {
        const int64_t distance = std::abs(int64_t{run_.to} - run_.from) + kSearchOvershoot;
        run_.duration = milliseconds(kHomingSettleMs + distance * kSpeedTimeBaseMs / searchSpeed +
                                     kBackOff * kSpeedTimeBaseMs / zeroSpeed +
                                     2 * kSpeedTimeBaseMs * searchSpeed / acceleration);
    } else {
        run_.duration = kSwitchSearchTimeout;
    }
    homing_ = HomingState::Running;
    motor_->setVelocity(saturate(run_.searchSpeed));
}

void Cia402Axis::advanceHoming() {
    if (homing_ != HomingState::Running) return;
    if (modeDisplay_ != kModeHoming) {
        endHoming(HomingState::Failed);
        return;
    }
    const Clock::duration sinceStart = std::min<Clock::duration>(now_ - run_.start, run_.duration);
    const int64_t elapsed = std::chrono::duration_cast<milliseconds>(sinceStart).count();
    if (run_.findsInput) {
        const int64_t total = std::max<int64_t>(run_.duration.count(), 1);
        motor_->setPosition(saturate(run_.from + (int64_t{run_.to} - run_.from) * elapsed / total));
    } else {
        // Searching for an input that never comes: CW methods run up, CCW down.
        const int64_t direction = run_.method % 2 == 1 ? 1 : -1;
        motor_->setPosition(
            saturate(run_.from + direction * run_.searchSpeed * elapsed / kSpeedTimeBaseMs));
    }
    if (now_ - run_.start >= run_.duration) {
        endHoming(run_.findsInput ? HomingState::Attained : HomingState::Failed);
    }
}

void Cia402Axis::endHoming(HomingState result) {
    homing_ = result;
    if (motor_ != nullptr) motor_->setVelocity(0);
}

}  // namespace ecsim

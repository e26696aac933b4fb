#include "motor/tq_init.hpp"

#include <cstdio>

#include "bus/bus_stop.hpp"
#include "bus/globals.hpp"
#include "bus/sdo_text.hpp"
#include "motor/motor_setup.hpp"
#include "motor/tql_command.hpp"
#include "motor/tql_reply.hpp"

std::atomic<int32_t> g_tqInitRunning{0};
std::atomic<int32_t> g_tqInitStep{0};
std::atomic<int32_t> g_tqInitTickActive{0};
std::atomic<int32_t> g_tqInitOk{0};
std::atomic<int32_t> g_tqInitError{0};
std::atomic<int32_t> g_tqParamMatchCount[kMotorsPerBridge]{};
std::atomic<int32_t> g_tqInitCheckOnline[kMotorsPerBridge]{1, 1, 1, 1};

namespace {

constexpr int kDrainReadsPerChannel = 64;
constexpr int kReadBackRounds = 10;

struct ExpectedParameter {
    int32_t number;
    int32_t value;
};
constexpr ExpectedParameter kExpected[] = {{16, 4}, {23, 9}, {37, 10}, {67, 1}, {70, 0}};

bool IsExpected(int32_t number, int32_t value) {
    for (const auto& e : kExpected) {
        if (e.number == number && e.value == value) return true;
    }
    return false;
}

void TrailingPause(int32_t model) {
    if (PassesLinesSlowly(model)) PauseMs(20);
}

// Unlocks the four motors of a bridge of a known model.
void UnlockGroup(int slave, int32_t model) {
    SendToEachMotor(slave, model, UnlockLine, BlankFirst::Yes);
    TrailingPause(model);
}

bool IsKnownModel(int32_t model) {
    MotorKind kind;
    return MotorKindOf(model, 1, &kind);
}

void Stop(TqInitView& view, const char* status) {
    view.showStatus(status);
    g_tqInitRunning = 0;
}

void Step0(int slave, TqInitView& view) {
    view.showProgress(1);
    g_tqInitError = 0;
    g_tqInitOk = 0;
    const int32_t model = BridgeModelOfSlave(slave);
    if (!IsKnownModel(model)) return Stop(view, "SlaveNo Error !");
    UnlockGroup(slave, model);
    PauseMs(120);
    SendToEachMotor(slave, kSpeed38400Line, BlankFirst::Yes);
    PauseMs(150);
    SetBridgeChannelSpeeds(slave, kUartCode38400);
    view.showStatus("Step< 2 >");
    g_tqInitStep = 1;
    PauseMs(50);
}

void Step1(int slave, TqInitView& view) {
    view.showProgress(2);
    PauseMs(100);
    SendToEachMotor(slave, kParamSetLine, BlankFirst::Yes);
    g_tqInitStep = 2;
    PauseMs(20);
    view.showStatus("Step< 3 >");
}

void Step2(int slave, TqInitView& view) {
    PauseMs(100);
    int32_t model = BridgeModelOfSlave(slave);
    if (!IsKnownModel(model)) return Stop(view, "SlaveNo Error !");
    UnlockGroup(slave, model);
    PauseMs(20);
    model = BridgeModelOfSlave(slave);
    if (model == kNotABridge) return Stop(view, "SlaveNo Erro !");
    if (!SendToEachMotor(slave, model, Speed170kLine, BlankFirst::Yes)) {
        return Stop(view, "Slave Type Error !");
    }
    TrailingPause(model);
    PauseMs(50);
    SetBridgeChannelSpeeds(slave, kUartCode170k);
    PauseMs(20);
    view.showStatus("Step< 4 >");
    g_tqInitStep = 3;
    PauseMs(200);
}

std::string CurrentFailureList() {
    std::array<int32_t, kMotorsPerBridge> counts;
    std::array<bool, kMotorsPerBridge> checked;
    for (int i = 0; i < kMotorsPerBridge; ++i) {
        counts[i] = g_tqParamMatchCount[i];
        checked[i] = g_tqInitCheckOnline[i] != 0;
    }
    return TqInitFailureList(counts, checked);
}

void Step3(int slave, TqInitView& view) {
    view.showProgress(3);
    PauseMs(10);
    view.showStatus("Step< 5 >");
    if (VerifyMotorParameters(slave) == 0 || CurrentFailureList().empty()) {
        g_tqInitStep = 5;
    } else {
        g_tqInitStep = 4;
    }
}

void Step4(int slave, TqInitView& view) {
    view.showProgress(4);
    PauseMs(100);
    view.showStatus("......Run Step<6>");
    if (VerifyMotorParameters(slave) == 0) {
        g_tqInitStep = 5;
        return;
    }
    const std::string failures = CurrentFailureList();
    if (failures.empty()) {
        g_tqInitStep = 5;
        return;
    }
    g_tqInitError = 1;
    view.showStatus(failures);
    g_tqInitStep = 0;
    g_tqInitRunning = 0;
}

void Step5(int slave, TqInitView& view) {
    view.showProgress(5);
    g_tqInitOk = 1;
    view.showStatus("TQ Init Parameter OK.");
    g_tqInitStep = 0;
    g_tqInitRunning = 0;
    CloseConfigWindow(slave);
}

}  // namespace

bool StartTqInit(int slave, TqInitView& view) {
    if (g_tqInitRunning != 0) return false;
    OpenConfigWindow(slave);
    g_tqInitStep = 0;
    g_tqInitRunning = 1;
    g_tqInitOk = 0;
    PauseMs(10);
    view.showStatus("Step< 1 >");
    return true;
}

void RunInitStep(int slave, TqInitView& view) {
    switch (g_tqInitStep.load()) {
        case 0:
            return Step0(slave, view);
        case 1:
            return Step1(slave, view);
        case 2:
            return Step2(slave, view);
        case 3:
            return Step3(slave, view);
        case 4:
            return Step4(slave, view);
        case 5:
            return Step5(slave, view);
        default:
            view.showStatus("Error 001.");
            g_tqInitStep = 0;
            g_tqInitRunning = 0;
    }
}

int VerifyMotorParameters(int slave) {
    int32_t counts[kMotorsPerBridge] = {};
    for (auto& count : g_tqParamMatchCount) count = 0;
    for (int channel = 1; channel <= kMotorsPerBridge; ++channel) {
        for (int read = 0; read < kDrainReadsPerChannel; ++read) {
            PauseMs(10);
            if (ReadMotorResponse(static_cast<uint16_t>(slave), channel).starts_with('N')) break;
        }
    }
    PauseMs(50);
    SendToEachMotor(slave, kParamQueryLine, BlankFirst::No);
    PauseMs(50);
    for (int round = 0; round < kReadBackRounds; ++round) {
        PauseMs(20);
        for (int channel = 1; channel <= kMotorsPerBridge; ++channel) {
            PauseMs(20);
            std::string reply;
            if (!ReadMotorReply(slave, channel, &reply) || reply[0] != 'K') continue;
            int32_t number = 0;
            int32_t value = 0;
            int32_t id = 0;
            if (ParseTqlParameterReply(reply.c_str(), &number, &value, &id) == 1 &&
                IsExpected(number, value)) {
                ++counts[channel - 1];
            }
        }
    }
    int below = 0;
    for (int i = 0; i < kMotorsPerBridge; ++i) {
        g_tqParamMatchCount[i] = counts[i];
        if (counts[i] < kTqExpectedMatches) ++below;
    }
    return below;
}

std::string TqInitFailureList(const std::array<int32_t, kMotorsPerBridge>& counts,
                              const std::array<bool, kMotorsPerBridge>& checked) {
    static const char* const kLabels[kMotorsPerBridge] = {"ID1 ERROR! ", "ID2 ERROR! ; ",
                                                          "ID3 ERROR! ; ", "ID4 ERROR! ; "};
    std::string list;
    for (int i = 0; i < kMotorsPerBridge; ++i) {
        if (counts[i] == kTqExpectedMatches || !checked[i]) continue;
        char count[24];
        std::snprintf(count, sizeof count, "(%d) ;", counts[i]);
        list += kLabels[i];
        list += count;
    }
    return list;
}

void ResetTqInit() {
    for (auto* flag :
         {&g_tqInitRunning, &g_tqInitStep, &g_tqInitTickActive, &g_tqInitOk, &g_tqInitError}) {
        *flag = 0;
    }
    for (auto& count : g_tqParamMatchCount) count = 0;
    for (auto& check : g_tqInitCheckOnline) check = 1;
}

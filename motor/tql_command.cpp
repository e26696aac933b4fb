#include "motor/tql_command.hpp"

#include <cstdio>

#include "bus/globals.hpp"
#include "bus/sdo_text.hpp"

std::atomic<int32_t> g_tqlReplyLines{0};
std::atomic<int32_t> g_tqlBoardComboFilled{0};

std::string TqlLogLine(int slave, int motor, std::string_view text) {
    char line[256];
    std::snprintf(line, sizeof line, "TQ[%d.%d]:%.*s", slave, motor, static_cast<int>(text.size()),
                  text.data());
    return line;
}

// A line the bridge did not take says so after it, so that the sent log never
// shows as sent what never arrived.
void LogSentTqlLine(int slave, int motor, std::string_view text, const std::string& failure) {
    std::string line = TqlLogLine(slave, motor, text);
    if (!failure.empty()) line += "  (" + failure + ")";
    g_strTqlLog.appendBytes(line + "\r\n");
}

void SendTqlCommand(int slave, int motorIndex, std::string_view text) {
    const auto slaveNo = static_cast<uint16_t>(slave);
    if (motorIndex == kTqlAllMotors) {
        std::string failure;
        for (int motor = 1; motor <= kMotorsPerBridge; ++motor) {
            std::string outcome = WriteMotorCommand(slaveNo, motor, text);
            if (failure.empty()) failure = std::move(outcome);
        }
        LogSentTqlLine(slave, 0, text, failure);
    } else if (motorIndex >= 0 && motorIndex < kTqlAllMotors) {
        LogSentTqlLine(slave, motorIndex + 1, text,
                       WriteMotorCommand(slaveNo, motorIndex + 1, text));
    }
}

bool ReadMotorReply(int slave, int motor, std::string* text) {
    *text = ReadMotorResponse(static_cast<uint16_t>(slave), motor);
    if (text->empty() || (*text)[0] == 'N') return false;
    return text->compare(0, 2, "Ti") != 0;
}

void ResetTqlCommandState() {
    g_tqlReplyLines = 0;
    g_tqlBoardComboFilled = 0;
}

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

void LogSentTqlLine(int slave, int motor, std::string_view text) {
    g_strTqlLog.appendBytes(TqlLogLine(slave, motor, text) + "\r\n");
}

void SendTqlCommand(int slave, int motorIndex, std::string_view text) {
    const auto slaveNo = static_cast<uint16_t>(slave);
    if (motorIndex == kTqlAllMotors) {
        for (int motor = 1; motor <= kMotorsPerBridge; ++motor)
            WriteMotorCommand(slaveNo, motor, text);
        LogSentTqlLine(slave, 0, text);
    } else if (motorIndex >= 0 && motorIndex < kTqlAllMotors) {
        WriteMotorCommand(slaveNo, motorIndex + 1, text);
        LogSentTqlLine(slave, motorIndex + 1, text);
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

#include "motor/param_file.hpp"

#include <cstring>
#include <vector>

#include "bus/globals.hpp"
#include "bus/sdo_text.hpp"
#include "motor/tql_command.hpp"
#include "platform/file_read.hpp"

char g_paramFileBuf[kParamFileBufBytes];
int32_t g_paramFileLength = 0;
int32_t g_paramFileOffset = 0;
int32_t g_paramFileSending = 0;

ParamFileLoad StartParameterFile(const std::string& path, std::string* error) {
    // Read aside first: a refused file must not disturb a send that is running.
    std::vector<char> data;
    if (!ReadFileStart(path, kParamFileReadBytes, &data, error)) return ParamFileLoad::OpenFailed;
    const size_t got = data.size();
    if (got > static_cast<size_t>(kParamFileMaxBytes)) return ParamFileLoad::TooBig;
    std::memcpy(g_paramFileBuf, data.data(), got);
    g_paramFileBuf[got] = '\0';
    g_paramFileLength = static_cast<int32_t>(got);
    g_paramFileOffset = 0;
    g_paramFileSending = 1;
    return ParamFileLoad::Started;
}

void StopParameterFile() {
    g_paramFileSending = 0;
    g_paramFileOffset = 0;
}

ParamLineCut CutParameterFileLine(std::string* text) {
    if (g_paramFileOffset < 0 || g_paramFileOffset >= g_paramFileLength) return ParamLineCut::End;
    char line[kParamLineMaxTaken + 1] = {};
    int taken = 0;
    while (g_paramFileOffset < g_paramFileLength) {
        const char c = g_paramFileBuf[g_paramFileOffset++];
        if (c == '\n') {
            text->assign(line);  // up to the first zero: a CR ends the text
            return ParamLineCut::Line;
        }
        line[taken++] = c == '\r' ? '\0' : c;
        if (taken == kParamLineMaxTaken) return ParamLineCut::TooLong;
    }
    text->assign(line);  // the last line, without LF
    return ParamLineCut::Line;
}

ParamFileStep SendParameterFileLine(int slave, int motorIndex) {
    if (g_paramFileSending != 1) return ParamFileStep::Idle;
    if (motorIndex < 0 || motorIndex >= kTqlAllMotors) {
        StopParameterFile();
        return ParamFileStep::NoMotor;
    }
    std::string text;
    switch (CutParameterFileLine(&text)) {
        case ParamLineCut::End:
            StopParameterFile();
            return ParamFileStep::Idle;
        case ParamLineCut::TooLong:
            StopParameterFile();
            return ParamFileStep::TooLong;
        case ParamLineCut::Line:
            break;
    }
    ParamFileStep step = ParamFileStep::Skipped;
    if (slave >= 1 && slave <= g_slavesFound.load()) {
        LogSentTqlLine(slave, motorIndex + 1, text,
                       WriteMotorCommand(static_cast<uint16_t>(slave), motorIndex + 1, text));
        step = ParamFileStep::Sent;
    }
    if (g_paramFileOffset >= g_paramFileLength) StopParameterFile();
    return step;
}

void ResetParamFile() {
    StopParameterFile();
    g_paramFileLength = 0;
}

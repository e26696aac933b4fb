// Motor parameter files: text files of TQL lines that the TQL page sends to one
// motor, one line per timer tick.
#pragma once

#include <cstdint>
#include <string>

inline constexpr int32_t kParamFileMaxBytes = 10240;   // a bigger file is refused
inline constexpr int32_t kParamFileReadBytes = 10256;  // read at most, to tell "too big"
inline constexpr int32_t kParamFileBufBytes = 10496;
inline constexpr int32_t kParamLineMaxTaken = 61;  // bytes of one line incl. CR, without LF

// The file being sent, followed by a zero byte; its length, the offset of the
// next line (0 whenever no file is being sent) and 1 while it is being sent.
extern char g_paramFileBuf[kParamFileBufBytes];
extern int32_t g_paramFileLength;
extern int32_t g_paramFileOffset;
extern int32_t g_paramFileSending;

enum class ParamFileLoad { Started, TooBig, OpenFailed };

// Reads the file at `path`. A file that fits replaces whatever is being sent and
// starts from its first line; a refused or unreadable one leaves a running send
// as it was. `error` receives the reason when the file can't be read or is no
// regular file (a pipe, say, that would hold the caller waiting for a writer).
ParamFileLoad StartParameterFile(const std::string& path, std::string* error);

enum class ParamLineCut { Line, TooLong, End };

// Takes the next line at g_paramFileOffset and moves the offset past it: LF ends
// the line and is dropped, CR ends its text, the text stops at the first zero
// byte. A last line without LF ends at the end of the data; no byte at or past
// g_paramFileLength is looked at. TooLong when 61 bytes come without LF; End when
// no data is left.
ParamLineCut CutParameterFileLine(std::string* text);

enum class ParamFileStep {
    Idle,     // nothing was being sent, or the data had ended
    Sent,     // a line went out and is in the sent log
    Skipped,  // the slave number lies above the slaves found; nothing written
    TooLong,  // a line without LF within 61 bytes: the send stopped
    NoMotor,  // "MotorID1-ID4" chosen: no single line object, the send stopped
};

// One tick of a running send to motor index 0..3 of `slave`: cuts one line,
// writes and logs it; stops the send after the last line or on an error.
ParamFileStep SendParameterFileLine(int slave, int motorIndex);

void StopParameterFile();

// Stops a send and forgets the file read (tests).
void ResetParamFile();

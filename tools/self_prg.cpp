#include "tools/self_prg.hpp"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "bus/bridge_board.hpp"
#include "bus/bus_stop.hpp"
#include "bus/format_text.hpp"
#include "bus/globals.hpp"
#include "bus/sdo_text.hpp"
#include "platform/file_read.hpp"
#include "platform/latin1.hpp"

std::atomic<int32_t> g_selfPrgState{0};
std::atomic<int32_t> g_selfPrgFileLoaded{0};
char g_selfPrgBuf[kFirmwareFileMaxBytes + 1];
std::atomic<int32_t> g_selfPrgFileLen{0};
std::atomic<int32_t> g_selfPrgReadPos{0};
std::atomic<int32_t> g_selfPrgLines{0};
std::atomic<int32_t> g_selfPrgLostCnt{0};
std::atomic<int32_t> g_selfPrgRetry{0};
std::atomic<int32_t> g_selfPrgSlave{1};

namespace {

using Clock = SelfPrgLink::Clock;
using std::chrono::milliseconds;

constexpr std::string_view kProgramModeCommand = "!PRGMO\r\n";
constexpr std::string_view kEraseCommand = "!110.9\r\n";

constexpr int kProgramModeAttempts = 5;
constexpr int kErasePasses = 3;
constexpr int kReadyPolls = 10;
constexpr int kLineSlots = 10;
constexpr int kLineSends = 30;
constexpr int kLinePolls = 10;
constexpr int kFailureLimit = 3;
constexpr int kErasePauseMs = 3000;
constexpr milliseconds kTickBudget{500};

constexpr int kProgressStart = 4;
constexpr int kProgressLines = 8;  // where the lines' share of the bar begins
constexpr int kProgressLineSpan = 94;
constexpr int kProgressEnd = 100;

struct Failure {
    int pauseMs;  // before the run starts again
    const char* finalStatus;
};
constexpr Failure kFailures[] = {
    {550, "SelfPrgError-001"}, {1250, "SelfPrgError-002"}, {2250, "SelfPrgError-003"}};

// A run's place inside its state, so that a tick that runs out of time leaves
// off between two device accesses and the next tick goes on from there.
struct RunPlace {
    int modeAttempts = 0;     // state 1: "!PRGMO" sent so far
    bool modeAsked = false;   // state 1: its reply is still to be read
    int erasePasses = 0;      // state 2: "!110.9" sent so far
    int readyPolls = -1;      // state 2: replies read in this pass; -1 before its command
    bool haveLine = false;    // state 3: `line` is the line in hand
    std::string line;         // with its line feed
    bool lastLine = false;    // its line feed ends the file
    int sends = 0;            // state 3: sends of the line completed
    int linePolls = -1;       // replies read for the current send; -1 before it goes
    std::string lastRefusal;  // the last reply to the line that began with 'E'
    bool restartDue = false;  // a failed run waits to start again
    Clock::time_point restartAt{};
};
RunPlace place;

class TickBudget {
  public:
    explicit TickBudget(SelfPrgLink& link) : link_(link), end_(link.Now() + kTickBudget) {}
    bool Left() { return link_.Now() < end_; }
    void Add(milliseconds time) { end_ += time; }

  private:
    SelfPrgLink& link_;
    Clock::time_point end_;
};

int Slave() {
    return g_selfPrgSlave.load();
}

void Finish(SelfPrgView& view, const std::string& status) {
    g_selfPrgReadPos = 0;
    g_selfPrgLines = 0;
    g_selfPrgState = 0;
    place = RunPlace{};
    view.showStatus(status);
}

// Failure 1, 2 or 3 of a run: it starts again after its pause, unless this was
// the third, which ends it.
void Fail(int failure, SelfPrgLink& link, SelfPrgView& view) {
    const Failure& f = kFailures[failure - 1];
    if (++g_selfPrgRetry < kFailureLimit) {
        // Waited for tick by tick; the run stays busy until it starts again.
        place = RunPlace{};
        place.restartDue = true;
        place.restartAt = link.Now() + milliseconds(f.pauseMs);
        return;
    }
    g_selfPrgRetry = 0;
    Finish(view, f.finalStatus);
}

bool IsProgramModeReply(std::string_view reply) {
    return reply.size() >= 12 && reply.starts_with("Prg") && reply[7] == 'O';
}

bool IsReadyReply(std::string_view reply) {
    return reply.size() >= 16 && reply.starts_with("Down");
}

enum class LineVerdict { Undecided, Accepted, Refused };

LineVerdict JudgeLineReply(std::string_view reply) {
    if (reply.size() < 6) return LineVerdict::Undecided;
    if ((reply.size() >= 8 && reply[0] == 'B' && reply[6] == '\r' && reply[7] == '\n') ||
        reply.starts_with("Fla")) {
        return LineVerdict::Accepted;
    }
    return reply[0] == 'E' ? LineVerdict::Refused : LineVerdict::Undecided;
}

void EnterProgramMode(SelfPrgLink& link, SelfPrgView& view, TickBudget& budget) {
    if (place.modeAttempts == 0 && !place.modeAsked) g_selfPrgLostCnt = 0;
    while (budget.Left()) {
        if (!place.modeAsked) {
            link.Send(Slave(), kProgramModeCommand);
            link.Pause(100);
            ++place.modeAttempts;
            place.modeAsked = true;
            continue;
        }
        const std::string reply = link.Read(Slave());
        place.modeAsked = false;
        if (IsProgramModeReply(reply)) {
            view.showProgress(kProgressStart);
            view.showStatus("Erease Flash Memory...");
            place = RunPlace{};
            g_selfPrgState = 2;
            link.Pause(200);
            return;
        }
        if (place.modeAttempts == kProgramModeAttempts) return Fail(1, link, view);
    }
}

void EraseAndWait(SelfPrgLink& link, SelfPrgView& view, TickBudget& budget) {
    while (budget.Left()) {
        if (place.readyPolls < 0) {
            link.Send(Slave(), kEraseCommand);
            ++place.erasePasses;
            link.Pause(kErasePauseMs);
            budget.Add(milliseconds(kErasePauseMs));
            place.readyPolls = 0;
            continue;
        }
        const std::string reply = link.Read(Slave());
        ++place.readyPolls;
        view.showStatus(reply);
        if (IsReadyReply(reply)) {
            place = RunPlace{};
            g_selfPrgState = 3;
            link.Pause(30);
            view.showProgress(kProgressLines);
            return;
        }
        link.Pause(100);
        if (place.readyPolls == kReadyPolls) {
            if (place.erasePasses == kErasePasses) return Fail(2, link, view);
            place.readyPolls = -1;
        }
    }
}

// Data that ran out before a last line went out: the loader cannot have finished.
void EndUnfinished(SelfPrgView& view) {
    g_selfPrgRetry = 0;
    Finish(view, FormatText<64>("SelfPrgError-004 , Lines= %d", g_selfPrgLines.load()));
}

// The file's last line is accepted, by either test: the run succeeded. (A
// termination record followed by blank lines is acknowledged line by line, so
// the loader's "Fla..." need not be the last reply.)
// Returns the success to show.
std::wstring EndWithLastLine(SelfPrgView& view) {
    g_selfPrgRetry = 0;
    Finish(view, FormatText<64>("SelfPrgOk , Lines= %d ,lostCnt = %d", g_selfPrgLines.load(),
                                g_selfPrgLostCnt.load()));
    return Latin1ToWide(FormatText<64>("SlaveNo.%d\r\nSoftware Update OK.", Slave()));
}

// Takes the next line into `place`; false when the slot is spent on a line that
// is never sent, or when the run has ended because the data ran out.
bool TakeLine(SelfPrgView& view) {
    const size_t length = static_cast<size_t>(std::max(0, g_selfPrgFileLen.load()));
    const size_t from = static_cast<size_t>(std::max(0, g_selfPrgReadPos.load()));
    const FirmwareLine cut = CutFirmwareLine(std::string_view(g_selfPrgBuf, length), from);
    g_selfPrgReadPos = static_cast<int32_t>(cut.next);
    switch (cut.kind) {
        case FirmwareLine::Kind::TooLong:
            return false;
        case FirmwareLine::Kind::Unended:
        case FirmwareLine::Kind::End:
            EndUnfinished(view);
            return false;
        case FirmwareLine::Kind::Line:
            break;
    }
    // The line goes as far as its first NUL, as any text does.
    place.line.assign(cut.text.data(), strnlen(cut.text.data(), cut.text.size()));
    place.lastLine = cut.last;
    place.haveLine = true;
    place.sends = 0;
    place.linePolls = -1;
    place.lastRefusal.clear();
    return true;
}

// Thirty sends of a line without acceptance.
void GiveUpLine(SelfPrgLink& link, SelfPrgView& view) {
    // A line the loader refused ends the run with its refusal, whatever it
    // answered after that (or did not).
    const std::string refusal = place.lastRefusal;
    g_selfPrgReadPos = 0;
    g_selfPrgLines = 0;
    place.haveLine = false;
    if (!refusal.empty()) return Finish(view, refusal);
    Fail(3, link, view);
}

// Returns what to show: the success when the last line was accepted.
std::wstring SendLines(SelfPrgLink& link, SelfPrgView& view, TickBudget& budget) {
    int slot = 0;
    while (slot < kLineSlots && g_selfPrgState == 3 && !place.restartDue) {
        if (!place.haveLine) {
            if (!TakeLine(view)) {
                ++slot;
                continue;
            }
        }
        if (!budget.Left()) break;
        if (place.linePolls < 0) {
            link.Send(Slave(), place.line);
            link.Pause(1);
            place.linePolls = 0;
            continue;
        }
        const std::string reply = link.Read(Slave());
        ++place.linePolls;
        const LineVerdict verdict = JudgeLineReply(reply);
        if (verdict == LineVerdict::Accepted) {
            if (place.sends > 0) ++g_selfPrgLostCnt;
            ++g_selfPrgLines;
            view.showStatus(FormatText<64>("SelfPrgLines = %d", g_selfPrgLines.load()));
            place.haveLine = false;
            if (place.lastLine) return EndWithLastLine(view);
            ++slot;
            continue;
        }
        if (verdict == LineVerdict::Refused) {
            place.lastRefusal = reply;
        } else {
            link.Pause(2);
            if (place.linePolls < kLinePolls) continue;
        }
        // This send is over; the next one follows at once.
        place.linePolls = -1;
        if (++place.sends == kLineSends) {
            GiveUpLine(link, view);
            return {};
        }
    }
    const int32_t length = g_selfPrgFileLen.load();
    if (g_selfPrgState == 3 && !place.restartDue && length > 0) {
        const int64_t share = int64_t{g_selfPrgReadPos.load()} * kProgressLineSpan / length;
        view.showProgress(
            static_cast<int>(std::min<int64_t>(share + kProgressLines, kProgressEnd)));
    }
    return {};
}

}  // namespace

void BusSelfPrgLink::WriteUnlockWord(int slave) {
    ::WriteUnlockWord(slave);
}

void BusSelfPrgLink::Send(int slave, std::string_view text) {
    SdoWriteBytes(static_cast<uint16_t>(slave), ObjSelfPrgCommand, 0,
                  static_cast<uint16_t>(text.size()), text.data());
}

std::string BusSelfPrgLink::Read(int slave) {
    return SdoReadAsText(static_cast<uint16_t>(slave), ObjSelfPrgResponse, 0, kCoeVisibleString);
}

void BusSelfPrgLink::Pause(int ms) {
    PauseMs(ms);
}

SelfPrgLink::Clock::time_point BusSelfPrgLink::Now() {
    return TheProcedureClock().Now();
}

SelfPrgFileLoad LoadSelfPrgFile(const std::string& path, std::string* reason) {
    std::vector<char> data;
    if (!ReadFileStart(path, kFirmwareFileMaxBytes, &data, reason)) return SelfPrgFileLoad::Refused;
    const FirmwareFileCheck check = CheckFirmwareFile(std::string_view(data.data(), data.size()));
    if (check.fault == FirmwareFileCheck::Fault::TooBig) return SelfPrgFileLoad::TooBig;
    if (check.fault != FirmwareFileCheck::Fault::None) {
        *reason = FirmwareFileFaultText(check);
        return SelfPrgFileLoad::Refused;
    }
    std::memcpy(g_selfPrgBuf, data.data(), data.size());
    g_selfPrgBuf[data.size()] = '\0';
    g_selfPrgFileLen = static_cast<int32_t>(data.size());
    g_selfPrgFileLoaded = 1;
    return SelfPrgFileLoad::Loaded;
}

std::wstring StartSelfPrg(int slave, SelfPrgLink& link, SelfPrgView& view) {
    if (BridgeOrdinalOfSlave(slave) < 0) return L"Self Update Board Select Error!";
    if (g_selfPrgState != 0) return L"SelfPrgRun!...";
    if (g_selfPrgFileLoaded != 1) return L"Please OpenSendFile!";
    link.Pause(100);
    g_selfPrgReadPos = 0;
    g_selfPrgSlave = slave;
    g_selfPrgLines = 0;
    view.showStatus("SelfPrgStart....");
    view.showProgress(kProgressStart);
    link.WriteUnlockWord(slave);
    link.Pause(10);
    place = RunPlace{};
    g_selfPrgState = 1;
    return {};
}

std::wstring SelfPrgStep(SelfPrgLink& link, SelfPrgView& view) {
    if (g_selfPrgState == 0) return {};
    if (place.restartDue) {
        if (link.Now() < place.restartAt) return {};
        // The run's own bridge, whatever the list shows by now.
        place.restartDue = false;
        g_selfPrgState = 0;
        return StartSelfPrg(g_selfPrgSlave, link, view);
    }
    TickBudget budget(link);
    switch (g_selfPrgState.load()) {
        case 1:
            EnterProgramMode(link, view, budget);
            return {};
        case 2:
            EraseAndWait(link, view, budget);
            return {};
        case 3:
            return SendLines(link, view, budget);
        default:
            return {};
    }
}

void ResetSelfPrg() {
    g_selfPrgState = 0;
    g_selfPrgFileLoaded = 0;
    std::memset(g_selfPrgBuf, 0, sizeof g_selfPrgBuf);
    g_selfPrgFileLen = 0;
    g_selfPrgReadPos = 0;
    g_selfPrgLines = 0;
    g_selfPrgLostCnt = 0;
    g_selfPrgRetry = 0;
    g_selfPrgSlave = 1;
    place = RunPlace{};
}

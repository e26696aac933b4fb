#include "ecsim/slave.hpp"

#include <algorithm>
#include <bit>
#include <bitset>

namespace ecsim {

using ecat::get16;
using ecat::get32;
using ecat::put16;
using ecat::put32;
using ecat::put64;
namespace reg = ecat::reg;
namespace al = ecat::al;

namespace {

// 64-bit so that ranges at the top of the logical address space do not wrap.
bool overlaps(uint64_t a, uint64_t n, uint64_t b, uint64_t m) {
    return a < b + m && b < a + n;
}

using RegisterMask = std::bitset<reg::RegisterSpaceSize>;

// Registers the master may not change: identity and capabilities, link and AL
// status, PDI set-up, error counters, EEPROM status, sync manager status and PDI
// bytes, latched DC times; without distributed clocks, none of the DC unit's.
const RegisterMask& writableRegisters(bool dc) {
    static const auto withDc = [] {
        RegisterMask m;
        m.set();
        auto protect = [&m](uint32_t from, uint32_t to) {
            for (uint32_t a = from; a <= to; ++a) m.reset(a);
        };
        protect(0x0000, 0x000F);
        protect(reg::DlStatus, reg::DlStatus + 1);
        protect(reg::AlStatus, 0x013F);
        protect(reg::PdiControl, 0x014F);
        protect(0x0210, 0x021F);
        protect(reg::RxErrors, 0x03FF);
        protect(reg::EepromPdiState, reg::EepromControl + 1);
        for (uint32_t n = 0; n < 16; ++n) {
            protect(reg::Sm0 + reg::SmSize * n + 5, reg::Sm0 + reg::SmSize * n + 5);
            protect(reg::Sm0 + reg::SmSize * n + 7, reg::Sm0 + reg::SmSize * n + 7);
        }
        protect(reg::DcRecvTime0, reg::DcRecvTimeEpu + 7);
        protect(reg::DcSystemDiff, reg::DcSystemDiff + 3);
        return m;
    }();
    static const auto withoutDc = [] {
        RegisterMask m = withDc;
        for (uint32_t a = reg::DcRecvTime0; a < 0x0A00; ++a) m.reset(a);
        return m;
    }();
    return dc ? withDc : withoutDc;
}

// Sync managers act on process memory only; an access below it concerns none.
bool reachesProcessMemory(uint32_t address, size_t length) {
    return uint64_t{address} + length > reg::RegisterSpaceSize;
}

bool isKnownState(uint16_t s) {
    return s == al::Init || s == al::PreOp || s == al::Boot || s == al::SafeOp || s == al::Op;
}

// INIT < PRE-OP < SAFE-OP < OP; the state codes order the same way.
bool isLower(uint16_t a, uint16_t b) {
    return a < b;
}

constexpr uint8_t kSmWatchdogEnable = 0x40;
constexpr uint16_t kDlStatusPdiOperational = 0x0001;

// The numbers of the bits set in `bits`, lowest first: `for (Bits b{mask}; b; ++b) use(*b);`
struct Bits {
    unsigned bits;
    explicit operator bool() const { return bits != 0; }
    size_t operator*() const { return static_cast<size_t>(std::countr_zero(bits)); }
    void operator++() { bits &= bits - 1; }
};

}  // namespace

// ---- sync manager register view ----

struct Slave::Sm {
    uint16_t start = 0;
    uint16_t length = 0;
    uint8_t control = 0;
    uint8_t status = 0;
    uint8_t activate = 0;
    uint8_t pdi = 0;

    bool enabled() const { return (activate & ecat::sm::ActivateEnable) != 0 && length > 0; }
    bool mailbox() const { return (control & ecat::sm::ModeMask) == ecat::sm::ModeMailbox; }
    bool ecatWrites() const { return (control & ecat::sm::DirMask) == ecat::sm::DirEcatWrites; }
    bool full() const { return (status & ecat::sm::StatusMailboxFull) != 0; }
    // A sync manager acts on process memory only: the registers below it stay
    // registers whatever window the master gives it.
    uint32_t from() const { return std::max<uint32_t>(start, reg::RegisterSpaceSize); }
    uint32_t end() const { return uint32_t{start} + length; }
    bool touches(uint32_t a, size_t n) const {
        return enabled() && end() > from() && overlaps(a, n, from(), end() - from());
    }
    bool reachesLastByte(uint32_t a, size_t n) const {
        const uint32_t last = start + length - 1u;
        return a <= last && a + n > last;
    }
};

Slave::Sm Slave::sm(size_t n) const {
    const uint8_t* r = &mem_[reg::Sm0 + reg::SmSize * n];
    return Sm{get16(r), get16(r + 2), r[4], r[5], r[6], r[7]};
}

std::span<uint8_t> Slave::smArea(const Sm& s) {
    const uint32_t end = std::min<uint32_t>(s.end(), kMemorySize);
    return {mem_.data() + std::min<uint32_t>(s.from(), end), mem_.data() + end};
}

void Slave::setSmFull(size_t n, bool full) {
    uint8_t& status = mem_[reg::Sm0 + reg::SmSize * n + 5];
    status = full ? (status | ecat::sm::StatusMailboxFull)
                  : (status & static_cast<uint8_t>(~ecat::sm::StatusMailboxFull));
}

// The slave's processor keeps mailbox sync managers deactivated in INIT and
// process-data sync managers below SAFE-OP, whatever the master enabled.
bool Slave::smActive(size_t n) const {
    const Sm s = sm(n);
    if (!s.enabled()) return false;
    const uint16_t state = alState();
    if (s.mailbox()) return state != al::Init && state != al::Boot;
    return state == al::SafeOp || state == al::Op;
}

// ---- construction and power ----

class Slave::Outbox : public MailboxOutbox {
  public:
    explicit Outbox(Slave& slave) : slave_(slave) {}
    void post(std::vector<uint8_t> message) override {
        slave_.outbox_.push_back(std::move(message));
    }

  private:
    Slave& slave_;
};

Slave::Slave(SlaveConfig config, std::unique_ptr<Device> device, int64_t clockOffsetNs)
    : config_(std::move(config)),
      device_(std::move(device)),
      eeprom_(config_.sii, config_.eeprom8Bytes),
      writable_(writableRegisters(config_.hasDc())),
      clockOffsetNs_(clockOffsetNs) {
    resetRegisters();
}

void Slave::resetRegisters() {
    mem_.fill(0);
    mem_[reg::Type] = config_.escType;
    mem_[reg::Revision] = config_.escRevision;
    put16(&mem_[reg::Build], 1);
    mem_[reg::FmmuCount] = kFmmus;
    mem_[reg::SmCount] = kSyncManagers;
    mem_[reg::RamSize] = static_cast<uint8_t>((kMemorySize - reg::RegisterSpaceSize) / 1024);
    mem_[reg::PortDescriptor] = config_.portDescriptor;
    put16(&mem_[reg::Features], config_.features);
    put16(&mem_[reg::AlControl], al::Init);
    put16(&mem_[reg::AlStatus], al::Init);
    noteSmRegisters();
    noteFmmuRegisters();
    eeprom_.reset();
    loadFromEeprom();
    put16(&mem_[reg::EepromControl], eeprom_.status(pass_.now));
    outbox_.clear();
    lastSent_.clear();
    lastCounter_ = 0;
    mailboxArrived_ = false;
}

void Slave::loadFromEeprom() {
    put16(&mem_[reg::PdiControl], eeprom_.word(ecat::sii::PdiControl));
    put16(&mem_[reg::StationAlias], eeprom_.word(ecat::sii::Alias));
}

void Slave::powerOn(std::unique_ptr<Device> freshDevice) {
    const uint16_t before = alState();
    if (freshDevice) device_ = std::move(freshDevice);
    resetRegisters();
    if (before != al::Init && stateHook_) stateHook_(before, al::Init);
}

// ---- frame processing ----

void Slave::beginFrame(const FramePass& pass) {
    pass_ = pass;
    // Port 0 faces the master; port 1 is open when a slave answers behind it,
    // otherwise its loop is closed. Ports 2 and 3 are not fitted.
    uint16_t dl = kDlStatusPdiOperational | 0x0010 | 0x0200 | 0x1000 | 0x4000;
    dl |= pass.downstreamLink ? (0x0020 | 0x0800) : 0x0400;
    put16(&mem_[reg::DlStatus], dl);
    device_->tick(pass.now);
    checkWatchdog(pass.now);
}

void Slave::tick(Clock::time_point now) {
    pass_.now = now;
    device_->tick(now);
    checkWatchdog(now);
}

void Slave::process(ecat::Datagram& d) {
    const ecat::Cmd cmd = d.cmd();
    if (ecat::isAutoIncrement(cmd)) {
        processPhysical(d, d.adp() == 0);
        d.setAdp(static_cast<uint16_t>(d.adp() + 1));
    } else if (ecat::isConfigured(cmd)) {
        const bool aliasEnabled = (mem_[reg::DlAlias] & 0x01) != 0;
        const uint16_t adp = d.adp();
        processPhysical(
            d, adp == stationAddress() || (aliasEnabled && adp == get16(&mem_[reg::StationAlias])));
    } else if (ecat::isBroadcast(cmd)) {
        processPhysical(d, true);
        d.setAdp(static_cast<uint16_t>(d.adp() + 1));
    } else if (ecat::isLogical(cmd)) {
        processLogical(d);
    }
}

void Slave::processPhysical(ecat::Datagram& d, bool addressed) {
    const auto cmd = d.cmd();
    const uint16_t ado = d.ado();
    const auto payload = d.payload();
    switch (cmd) {
        case ecat::Cmd::APRD:
        case ecat::Cmd::FPRD:
        case ecat::Cmd::BRD:
            if (addressed && readRange(ado, payload, cmd == ecat::Cmd::BRD)) d.addWkc(1);
            break;
        case ecat::Cmd::APWR:
        case ecat::Cmd::FPWR:
        case ecat::Cmd::BWR:
            if (addressed && writeRange(ado, payload)) d.addWkc(1);
            break;
        case ecat::Cmd::APRW:
        case ecat::Cmd::FPRW:
        case ecat::Cmd::BRW: {
            if (!addressed) break;
            // The memory takes the data as it arrived; the frame leaves with
            // what the memory held.
            const auto incoming = std::span(scratch_).first(payload.size());
            std::copy(payload.begin(), payload.end(), incoming.begin());
            const bool read = readRange(ado, payload, cmd == ecat::Cmd::BRW);
            const bool written = writeRange(ado, incoming);
            d.addWkc(static_cast<uint16_t>((read ? 1 : 0) + (written ? 2 : 0)));
            break;
        }
        case ecat::Cmd::ARMW:
        case ecat::Cmd::FRMW:
            // The addressed slave reads, every other slave writes what it read.
            if (addressed ? readRange(ado, payload, false) : writeRange(ado, payload)) {
                d.addWkc(1);
            }
            break;
        default:
            break;
    }
}

void Slave::processLogical(ecat::Datagram& d) {
    const auto cmd = d.cmd();
    const uint32_t start = d.logicalAddress();
    const auto payload = d.payload();
    bool read = false;
    bool written = false;
    // Writes first: they take the data as it arrived, before this slave's
    // inputs replace bytes of the same datagram.
    for (int pass = 0; pass < 2; ++pass) {
        const bool writing = pass == 0;
        if (writing && cmd == ecat::Cmd::LRD) continue;
        if (!writing && cmd == ecat::Cmd::LWR) continue;
        for (Bits on{fmmuOn_}; on; ++on) {
            const uint8_t* r = &mem_[reg::Fmmu0 + reg::FmmuSize * *on];
            if ((r[11] & (writing ? 0x02 : 0x01)) == 0) continue;
            const uint32_t logStart = get32(r);
            const uint16_t logLength = get16(r + 4);
            if (!overlaps(start, payload.size(), logStart, logLength)) continue;
            const uint32_t lo = std::max(start, logStart);
            const uint32_t hi = std::min<uint64_t>(uint64_t{start} + payload.size(),
                                                   uint64_t{logStart} + logLength);
            const uint32_t phys = get16(r + 8) + (lo - logStart);
            const auto part = payload.subspan(lo - start, hi - lo);
            if (writing) {
                written = writeRange(phys, part) || written;
            } else {
                read = readRange(phys, part, false) || read;
            }
        }
    }
    // Once per slave per datagram, however many of its FMMUs matched.
    const uint16_t writeWeight = cmd == ecat::Cmd::LRW ? 2 : 1;
    d.addWkc(static_cast<uint16_t>((read ? 1 : 0) + (written ? writeWeight : 0)));
}

void Slave::endFrame() {
    deliverMailbox();
    loadReadMailbox();
}

// ---- memory access ----

bool Slave::smAllows(uint32_t address, size_t length, bool write) const {
    if (!reachesProcessMemory(address, length)) return true;
    for (Bits on{sms_.on}; on; ++on) {
        const size_t n = *on;
        const Sm s = sm(n);
        if (!s.touches(address, length)) continue;
        if (!smActive(n)) return false;
        if (s.ecatWrites()) {
            if (write && s.mailbox() && s.full()) return false;
        } else {
            if (write) return false;
            if (s.mailbox() && !s.full()) return false;
        }
    }
    return true;
}

bool Slave::readRange(uint32_t address, std::span<uint8_t> out, bool orInto) {
    if (!smAllows(address, out.size(), false)) return false;
    refreshBeforeRead(address, out.size());
    // Beyond the memory a read gives zeros; within it, whole runs at once.
    const size_t inMemory =
        address < kMemorySize ? std::min<size_t>(out.size(), kMemorySize - address) : 0;
    if (orInto) {
        for (size_t i = 0; i < inMemory; ++i)
            out[i] = static_cast<uint8_t>(out[i] | mem_[address + i]);
    } else {
        if (inMemory > 0) std::copy_n(mem_.begin() + address, inMemory, out.begin());
        std::fill(out.begin() + static_cast<std::ptrdiff_t>(inMemory), out.end(), 0);
    }
    afterRead(address, out.size());
    return true;
}

bool Slave::writeRange(uint32_t address, std::span<const uint8_t> in) {
    if (!smAllows(address, in.size(), true)) return false;
    // Registers byte by byte, as each may be protected; process memory at once.
    size_t i = 0;
    for (; i < in.size() && address + i < reg::RegisterSpaceSize; ++i) {
        if (writable_.test(address + i)) mem_[address + i] = in[i];
    }
    const size_t from = address + i;
    if (from < kMemorySize) {
        std::copy_n(in.begin() + static_cast<std::ptrdiff_t>(i),
                    std::min(in.size() - i, kMemorySize - from), mem_.begin() + from);
    }
    afterWrite(address, in);
    return true;
}

void Slave::refreshBeforeRead(uint32_t address, size_t length) {
    if (address < reg::RegisterSpaceSize) {
        if (overlaps(address, length, reg::EepromControl, 2)) {
            put16(&mem_[reg::EepromControl], eeprom_.status(pass_.now));
        }
        if (config_.hasDc() && overlaps(address, length, reg::DcSystemTime, 8)) {
            const auto offset = static_cast<int64_t>(ecat::get64(&mem_[reg::DcSystemOffset]));
            put64(&mem_[reg::DcSystemTime], static_cast<uint64_t>(localTimeNs() + offset));
        }
    }
    if (!reachesProcessMemory(address, length)) return;
    for (Bits on{sms_.inputs}; on; ++on) {
        const Sm s = sm(*on);
        if (s.touches(address, length)) device_->fillInputs(smArea(s));
    }
}

void Slave::afterRead(uint32_t address, size_t length) {
    if (!reachesProcessMemory(address, length)) return;
    for (Bits on{sms_.readMailboxes}; on; ++on) {
        const size_t n = *on;
        const Sm s = sm(n);
        if (s.touches(address, length) && s.reachesLastByte(address, length)) setSmFull(n, false);
    }
}

void Slave::afterWrite(uint32_t address, std::span<const uint8_t> in) {
    if (address < reg::RegisterSpaceSize) registersWritten(address, in);
    const size_t length = in.size();
    if (!reachesProcessMemory(address, length)) return;
    for (Bits on{sms_.ecatWrites}; on; ++on) {
        const size_t n = *on;
        const Sm s = sm(n);
        if (!s.touches(address, length) || !s.reachesLastByte(address, length)) continue;
        if (s.mailbox()) {
            setSmFull(n, true);  // the processor takes it at the end of the frame
            mailboxArrived_ = true;
        } else {
            lastOutputs_ = pass_.now;
            if (alState() == al::Op) device_->onOutputs(smArea(s));
        }
    }
}

void Slave::registersWritten(uint32_t address, std::span<const uint8_t> in) {
    const size_t length = in.size();
    // A protected register's new value comes from the datagram, not the memory.
    auto written16 = [&](uint32_t r) {
        uint8_t bytes[2];
        for (uint32_t i = 0; i < 2; ++i) {
            const uint32_t a = r + i;
            bytes[i] = (a >= address && a < address + length) ? in[a - address] : mem_[a];
        }
        return get16(bytes);
    };
    if (overlaps(address, length, reg::Sm0, reg::SmSize * kSyncManagers)) {
        for (size_t n = 0; n < kSyncManagers; ++n) {
            if (overlaps(address, length, reg::Sm0 + reg::SmSize * n, reg::SmSize)) {
                smRegistersWritten(n);
            }
        }
    }
    if (overlaps(address, length, reg::Fmmu0, reg::FmmuSize * kFmmus)) noteFmmuRegisters();
    if (overlaps(address, length, reg::EepromConfig, 1)) {
        eeprom_.setConfig(mem_[reg::EepromConfig]);
        mem_[reg::EepromPdiState] = eeprom_.pdiOwns() ? 1 : 0;
    }
    if (overlaps(address, length, reg::EepromControl, 2)) {
        eepromControlWritten(written16(reg::EepromControl));
    }
    if (config_.hasDc() && overlaps(address, length, reg::DcRecvTime0, 4)) latchReceiveTimes();
    if (overlaps(address, length, reg::AlControl, 1)) {
        alControlWritten(get16(&mem_[reg::AlControl]));
    }
}

// ---- sync managers and mailbox ----

void Slave::noteSmRegisters() {
    sms_ = {};
    for (size_t n = 0; n < kSyncManagers; ++n) {
        const Sm s = sm(n);
        if (!s.enabled()) continue;
        const auto bit = static_cast<uint8_t>(1u << n);
        sms_.on |= bit;
        if (s.ecatWrites()) {
            sms_.ecatWrites |= bit;
        } else if (s.mailbox()) {
            sms_.readMailboxes |= bit;
        } else {
            sms_.inputs |= bit;
        }
    }
}

void Slave::noteFmmuRegisters() {
    fmmuOn_ = 0;
    for (size_t f = 0; f < kFmmus; ++f) {
        if ((mem_[reg::Fmmu0 + reg::FmmuSize * f + 12] & 0x01) != 0) {
            fmmuOn_ |= static_cast<uint8_t>(1u << f);
        }
    }
}

void Slave::smRegistersWritten(size_t n) {
    noteSmRegisters();
    const Sm s = sm(n);
    if (!s.enabled()) {
        setSmFull(n, false);
        return;
    }
    if (!s.mailbox() || s.ecatWrites()) return;
    // A toggled repeat request asks for the last message again (the master lost
    // the frame that read it); the acknowledge follows the request.
    const uint8_t request = s.activate & ecat::sm::ActivateRepeat;
    if (request == (s.pdi & ecat::sm::PdiRepeatAck)) return;
    if (!lastSent_.empty() && smActive(n)) repeatReadMailbox(n);
    uint8_t& pdi = mem_[reg::Sm0 + reg::SmSize * n + 7];
    pdi = static_cast<uint8_t>((pdi & ~ecat::sm::PdiRepeatAck) | request);
}

void Slave::repeatReadMailbox(size_t n) {
    const auto area = smArea(sm(n));
    std::fill(area.begin(), area.end(), 0);
    std::copy_n(lastSent_.begin(), std::min(lastSent_.size(), area.size()), area.begin());
    setSmFull(n, true);
}

void Slave::deliverMailbox() {
    if (!mailboxArrived_) return;
    mailboxArrived_ = false;
    for (Bits on{sms_.ecatWrites}; on; ++on) {
        const size_t n = *on;
        const Sm s = sm(n);
        if (!s.mailbox() || !s.full()) continue;
        if (outbox_.size() >= kQueuedMailboxReplies) {
            mailboxArrived_ = true;  // taken once one is read
            continue;
        }
        setSmFull(n, false);
        const auto area = smArea(s);
        const std::optional<ecat::mbx::Header> header = ecat::mbx::parseHeader(area);
        if (!header) continue;
        const uint8_t counter = header->counter;
        if (counter != 0 && counter == lastCounter_) continue;  // a repeated message
        lastCounter_ = counter;
        const size_t length = ecat::mbx::HeaderSize + ecat::mbx::contentLength(area);
        const std::vector<uint8_t> message(area.begin(), area.begin() + length);
        Outbox outbox(*this);
        device_->onMailbox(message, outbox);
    }
}

void Slave::loadReadMailbox() {
    if (outbox_.empty()) return;
    for (Bits on{sms_.readMailboxes}; on; ++on) {
        const size_t n = *on;
        const Sm s = sm(n);
        if (!smActive(n)) continue;
        if (s.full()) return;
        lastSent_ = std::move(outbox_.front());
        outbox_.pop_front();
        if (lastSent_.size() > s.length) {
            // A reply that does not fit would arrive cut off; say so instead.
            lastSent_ = ecat::mbx::errorMessage(ecat::mbx::ErrInvalidSize, 0);
        }
        repeatReadMailbox(n);
        return;
    }
}

// ---- AL state machine ----

void Slave::alControlWritten(uint16_t control) {
    const uint16_t requested = control & al::StateMask;
    const bool acknowledge = (control & al::ErrorFlag) != 0;
    const uint16_t current = alState();
    if ((alStatus() & al::ErrorFlag) != 0) {
        if (!acknowledge) {
            // Until the error is acknowledged only a step down is carried out,
            // and the error stays.
            if (isKnownState(requested) && requested != al::Boot && isLower(requested, current)) {
                changeState(requested, alStatusCode());
            }
            return;
        }
        setAlStatus(current, false, al::NoError);
    }
    if (requested == current) return;
    if (const uint16_t code = checkTransition(current, requested); code != al::NoError) {
        setAlStatus(current, true, code);
        return;
    }
    changeState(requested);
}

uint16_t Slave::checkTransition(uint16_t from, uint16_t to) {
    if (!isKnownState(to)) return al::UnknownState;
    if (to == al::Boot) return al::BootstrapNotSupported;
    const bool valid = to == al::Init || (from == al::Init && to == al::PreOp) ||
                       (from == al::PreOp && to == al::SafeOp) ||
                       (from == al::SafeOp && to == al::Op) ||
                       (from == al::Op && (to == al::SafeOp || to == al::PreOp)) ||
                       (from == al::SafeOp && to == al::PreOp);
    if (!valid) return al::InvalidStateChange;
    uint16_t code = al::NoError;
    if (from == al::Init && to == al::PreOp) code = checkMailboxConfig();
    // Process data is checked on the way to SAFE-OP and again to OP: the
    // master may have changed its set-up in SAFE-OP.
    if ((from == al::PreOp && to == al::SafeOp) || to == al::Op) code = checkProcessDataConfig();
    if (code != al::NoError) return code;
    return device_->checkStateChange(from, to);
}

uint16_t Slave::checkMailboxConfig() const {
    for (const auto* area : {&config_.writeMailbox, &config_.readMailbox}) {
        if (!*area) continue;
        const Sm s = sm((*area)->syncManager);
        const bool writes = area == &config_.writeMailbox;
        if (!s.enabled() || !s.mailbox() || s.ecatWrites() != writes || s.start != (*area)->start ||
            s.length != (*area)->length) {
            return al::InvalidMailboxConfig;
        }
    }
    return al::NoError;
}

// Every byte of the area must be reachable through one FMMU of the right
// direction; an FMMU covering only part of it is a configuration error.
uint16_t Slave::checkArea(const SmArea& area, bool outputs) const {
    const uint16_t invalid = outputs ? al::InvalidOutputConfig : al::InvalidInputConfig;
    const Sm s = sm(area.syncManager);
    if (!s.enabled() || s.length != area.length) return invalid;
    if (s.mailbox() || s.ecatWrites() != outputs || s.start != area.start) {
        return al::InvalidSmConfig;
    }
    bool covered = false;
    for (size_t f = 0; f < kFmmus; ++f) {
        const uint8_t* r = &mem_[reg::Fmmu0 + reg::FmmuSize * f];
        if ((r[12] & 0x01) == 0 || (r[11] & (outputs ? 0x02 : 0x01)) == 0) continue;
        const uint32_t phys = get16(r + 8);
        const uint32_t length = get16(r + 4);
        if (!overlaps(phys, length, area.start, area.length)) continue;
        if (phys > area.start || phys + length < uint32_t{area.start} + area.length) return invalid;
        covered = true;
    }
    return covered ? al::NoError : invalid;
}

uint16_t Slave::checkProcessDataConfig() const {
    if (config_.outputs) {
        if (const uint16_t code = checkArea(*config_.outputs, true)) return code;
    }
    if (config_.inputs) {
        if (const uint16_t code = checkArea(*config_.inputs, false)) return code;
    }
    return al::NoError;
}

void Slave::setAlStatus(uint16_t state, bool error, uint16_t code) {
    put16(&mem_[reg::AlStatus], static_cast<uint16_t>(state | (error ? al::ErrorFlag : 0)));
    put16(&mem_[reg::AlStatusCode], code);
}

void Slave::changeState(uint16_t to, uint16_t errorCode) {
    const uint16_t from = alState();
    setAlStatus(to, errorCode != al::NoError, errorCode);
    if (from == to) return;
    if (to == al::Init) {
        // Below PRE-OP the mailbox is closed: its sync managers are switched
        // off and anything pending is forgotten.
        for (size_t n = 0; n < kSyncManagers; ++n) {
            const Sm s = sm(n);
            if (!s.mailbox()) continue;
            mem_[reg::Sm0 + reg::SmSize * n + 6] &= static_cast<uint8_t>(~ecat::sm::ActivateEnable);
            setSmFull(n, false);
        }
        noteSmRegisters();
        outbox_.clear();
        lastSent_.clear();
        lastCounter_ = 0;
    }
    if (to == al::Op) lastOutputs_ = pass_.now;
    device_->onStateChange(from, to);
    if (stateHook_) stateHook_(from, to);
}

void Slave::forceSafeOpError(uint16_t alStatusCode) {
    const uint16_t state = alState();
    if (state == al::SafeOp || state == al::Op) {
        changeState(al::SafeOp, alStatusCode);
    } else {
        setAlStatus(state, true, alStatusCode);
    }
}

bool Slave::watchdogGuardsOutputs() const {
    if (!config_.outputs) return false;
    const Sm s = sm(config_.outputs->syncManager);
    return s.enabled() && (s.control & kSmWatchdogEnable) != 0;
}

void Slave::checkWatchdog(Clock::time_point now) {
    if (watchdog_.count() <= 0 || alStatus() != al::Op || !watchdogGuardsOutputs()) return;
    if (now - lastOutputs_ > watchdog_) changeState(al::SafeOp, al::SmWatchdog);
}

// ---- EEPROM and distributed clocks ----

void Slave::eepromControlWritten(uint16_t control) {
    const auto result = eeprom_.command(control, get32(&mem_[reg::EepromAddress]),
                                        get16(&mem_[reg::EepromData]), pass_.now);
    if (result.dataReady) {
        std::copy(result.data.begin(), result.data.end(), &mem_[reg::EepromData]);
    }
    if (result.reloaded) loadFromEeprom();
    put16(&mem_[reg::EepromControl], eeprom_.status(pass_.now));
}

void Slave::latchReceiveTimes() {
    const int64_t port0 = localTimeNs();
    put32(&mem_[reg::DcRecvTime0], static_cast<uint32_t>(port0));
    put32(&mem_[reg::DcRecvTime1],
          pass_.returnAfterNs > 0 ? static_cast<uint32_t>(port0 + pass_.returnAfterNs) : 0);
    put32(&mem_[reg::DcRecvTime2], 0);
    put32(&mem_[reg::DcRecvTime3], 0);
    put64(&mem_[reg::DcRecvTimeEpu], static_cast<uint64_t>(port0));
}

}  // namespace ecsim

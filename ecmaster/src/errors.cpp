// The error list: a ring of EC_MAXELIST entries (one slot kept free) in the
// context, written by mailbox code in any thread and read by the application.
#include <time.h>

#include <cstdio>
#include <mutex>

#include "ecmaster/codec.hpp"
#include "ethercat.h"
#include "mailbox.hpp"

namespace {

constexpr int kRingSize = EC_MAXELIST + 1;

std::mutex& ringLock() {
    static std::mutex lock;
    return lock;
}

// The application may read EcatError without a lock; store it atomically.
void setErrorFlag(boolean value) {
    if (ecx_context.ecaterror != nullptr) {
        __atomic_store_n(ecx_context.ecaterror, value, __ATOMIC_RELEASE);
    }
}

struct Text {
    uint32_t code;
    const char* text;
};

template <size_t N>
char* lookup(const Text (&table)[N], uint32_t code) {
    for (const Text& t : table) {
        if (t.code == code) return const_cast<char*>(t.text);
    }
    return const_cast<char*>("Unknown");
}

namespace code = ecat::sdo::abort_code;

constexpr Text kSdoErrors[] = {
    {code::None, "No error"},
    {code::ToggleBit, "Toggle bit not changed"},
    {code::ProtocolTimeout, "SDO protocol timeout"},
    {code::CommandSpecifier, "Client/Server command specifier not valid or unknown"},
    {code::OutOfMemory, "Out of memory"},
    {code::UnsupportedAccess, "Unsupported access to an object"},
    {code::WriteOnly, "Attempt to read to a write only object"},
    {code::ReadOnly, "Attempt to write to a read only object"},
    {code::SubindexNotWritable, "Subindex can not be written, SI0 must be 0 for write access"},
    {code::CompleteAccess, "SDO Complete access not supported for variable length objects"},
    {code::ExceedsMailbox, "Object length exceeds mailbox size"},
    {code::MappedToRxPdo, "Object mapped to RxPDO, SDO download blocked"},
    {code::ObjectMissing, "The object does not exist in the object directory"},
    {code::NotMappable, "The object can not be mapped into the PDO"},
    {code::MappingTooLong,
     "The number and length of the objects to be mapped would exceed the PDO length"},
    {code::ParameterIncompatible, "General parameter incompatibility reason"},
    {code::DeviceIncompatible, "General internal incompatibility in the device"},
    {code::HardwareError, "Access failed due to a hardware error"},
    {code::LengthMismatch, "Data type does not match, length of service parameter does not match"},
    {code::LengthTooHigh, "Data type does not match, length of service parameter too high"},
    {code::LengthTooLow, "Data type does not match, length of service parameter too low"},
    {code::SubindexMissing, "Subindex does not exist"},
    {code::ValueRange, "Value range of parameter exceeded (only for write access)"},
    {code::ValueTooHigh, "Value of parameter written too high"},
    {code::ValueTooLow, "Value of parameter written too low"},
    {code::MaximumBelowMinimum, "Maximum value is less than minimum value"},
    {code::GeneralError, "General error"},
    {code::CannotStore, "Data cannot be transferred or stored to the application"},
    {code::LocalControl,
     "Data cannot be transferred or stored to the application because of local control"},
    {code::DeviceState,
     "Data cannot be transferred or stored to the application because of the present device "
     "state"},
    {code::NoObjectDictionary,
     "Object dictionary dynamic generation fails or no object dictionary is present"},
};

namespace mbx = ecat::mbx;

constexpr Text kMailboxErrors[] = {
    {mbx::ErrNone, "No error"},
    {mbx::ErrSyntax, "Syntax of 6 octet Mailbox Header is wrong"},
    {mbx::ErrUnsupportedProtocol, "The mailbox protocol is not supported"},
    {mbx::ErrInvalidChannel, "Channel Field contains wrong value"},
    {mbx::ErrServiceNotSupported, "The service is not supported"},
    {mbx::ErrInvalidHeader, "Invalid mailbox header"},
    {mbx::ErrSizeTooShort, "Length of received mailbox data is too short"},
    {mbx::ErrNoMoreMemory, "No more memory in slave"},
    {mbx::ErrInvalidSize, "The length of data is inconsistent"},
};

}  // namespace

namespace ecmaster::detail {

ec_timet currentTime() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return {static_cast<uint32>(ts.tv_sec), static_cast<uint32>(ts.tv_nsec / 1000)};
}

void pushError(uint16_t slave, ec_err_type type, uint16_t index, uint8_t subindex,
               const ec_errort& details) {
    ec_errort e = details;
    e.Time = currentTime();
    e.Slave = slave;
    e.Etype = type;
    e.Index = index;
    e.SubIdx = subindex;
    ec_pusherror(&e);
}

}  // namespace ecmaster::detail

void ec_pusherror(const ec_errort* Ec) {
    if (Ec == nullptr) return;
    std::lock_guard<std::mutex> guard(ringLock());
    ec_eringt* ring = ecx_context.elist;
    if (ring == nullptr) return;
    ring->Error[ring->head] = *Ec;
    ring->Error[ring->head].Signal = TRUE;
    ring->head = static_cast<int16>((ring->head + 1) % kRingSize);
    if (ring->head == ring->tail) {  // full: the oldest entry gives way
        ring->tail = static_cast<int16>((ring->tail + 1) % kRingSize);
    }
    setErrorFlag(TRUE);
}

boolean ec_poperror(ec_errort* Ec) {
    std::lock_guard<std::mutex> guard(ringLock());
    ec_eringt* ring = ecx_context.elist;
    if (ring == nullptr) return FALSE;
    const bool nonEmpty = ring->head != ring->tail;
    if (Ec != nullptr) *Ec = ring->Error[ring->tail];
    ring->Error[ring->tail].Signal = FALSE;
    if (!nonEmpty) {
        setErrorFlag(FALSE);
        return FALSE;
    }
    ring->tail = static_cast<int16>((ring->tail + 1) % kRingSize);
    return TRUE;
}

boolean ec_iserror(void) {
    std::lock_guard<std::mutex> guard(ringLock());
    const ec_eringt* ring = ecx_context.elist;
    return ring != nullptr && ring->head != ring->tail ? TRUE : FALSE;
}

void ec_packeterror(uint16 Slave, uint16 Index, uint8 SubIdx, uint16 ErrorCode) {
    ec_errort e{};
    e.ErrorCode = ErrorCode;
    ecmaster::detail::pushError(Slave, EC_ERR_TYPE_PACKET_ERROR, Index, SubIdx, e);
}

char* ec_sdoerror2string(uint32 sdoerrorcode) {
    return lookup(kSdoErrors, sdoerrorcode);
}

char* ec_mbxerror2string(uint16 errorcode) {
    return lookup(kMailboxErrors, errorcode);
}

namespace {

// One buffer per thread: a caller in another thread cannot overwrite the text
// this thread is still reading.
thread_local char entryText[512];

}  // namespace

char* ec_elist2string(void) {
    ec_errort e{};
    if (!ec_poperror(&e)) {
        entryText[0] = '\0';
        return entryText;
    }
    return ecx_err2string(e);
}

char* ecx_err2string(const ec_errort e) {
    char time[32];
    std::snprintf(time, sizeof time, "Time:%12.3f", e.Time.sec + e.Time.usec / 1e6);
    switch (e.Etype) {
        case EC_ERR_TYPE_SDO_ERROR:
        case EC_ERR_TYPE_SDOINFO_ERROR:
            std::snprintf(entryText, sizeof entryText,
                          "%s %s slave:%u index:%4.4x.%2.2x error:%8.8x %s\n", time,
                          e.Etype == EC_ERR_TYPE_SDO_ERROR ? "SDO" : "SDO Info", e.Slave, e.Index,
                          e.SubIdx, static_cast<uint32>(e.AbortCode),
                          ec_sdoerror2string(static_cast<uint32>(e.AbortCode)));
            break;
        case EC_ERR_TYPE_EMERGENCY:
            std::snprintf(entryText, sizeof entryText, "%s EMERGENCY slave:%u error:%4.4x\n", time,
                          e.Slave, e.ErrorCode);
            break;
        case EC_ERR_TYPE_PACKET_ERROR:
            std::snprintf(entryText, sizeof entryText,
                          "%s PACKET slave:%u index:%4.4x.%2.2x error:%u\n", time, e.Slave, e.Index,
                          e.SubIdx, e.ErrorCode);
            break;
        case EC_ERR_TYPE_MBX_ERROR:
            std::snprintf(entryText, sizeof entryText, "%s MBX slave:%u error:%4.4x %s\n", time,
                          e.Slave, e.ErrorCode, ec_mbxerror2string(e.ErrorCode));
            break;
        case EC_ERR_TYPE_SOE_ERROR:
            std::snprintf(entryText, sizeof entryText, "%s SoE slave:%u IDN:%4.4x error:%4.4x\n",
                          time, e.Slave, e.Index, e.ErrorCode);
            break;
        default:
            std::snprintf(entryText, sizeof entryText, "%s error:%8.8x\n", time,
                          static_cast<uint32>(e.AbortCode));
            break;
    }
    return entryText;
}

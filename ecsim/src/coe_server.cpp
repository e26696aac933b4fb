// The slave side of CoE SDO transfers; the message layout is the codec's.
#include <algorithm>

#include "ecmaster/codec.hpp"
#include "ecsim/object_dictionary.hpp"

namespace ecsim {

namespace {

namespace mbx = ecat::mbx;
namespace coe = ecat::coe;
namespace sdo = ecat::sdo;

// An SDO message of `length` bytes after the mailbox header, zero-filled past its command.
std::vector<uint8_t> sdoMessage(uint16_t service, size_t length, uint8_t command, uint8_t counter) {
    std::vector<uint8_t> m(mbx::HeaderSize + length, 0);
    sdo::putCommand(m, static_cast<uint16_t>(length), counter, service, command);
    return m;
}

// A response to an initiate: the request's index and subindex with `command`.
std::vector<uint8_t> initiateResponse(size_t length, uint8_t command, uint16_t index,
                                      uint8_t subindex, uint8_t counter) {
    auto m = sdoMessage(coe::ServiceSdoResponse, length, command, counter);
    sdo::putAddress(m, index, subindex);
    return m;
}

}  // namespace

struct CoeServer::Transfer {
    bool upload = false;
    bool completeAccess = false;
    uint16_t index = 0;
    uint8_t subindex = 0;
    uint8_t toggle = 0;         // the toggle the next segment must carry
    size_t total = 0;           // download: announced size
    std::vector<uint8_t> data;  // download: received so far; upload: still to send
};

struct CoeServer::Request {
    std::span<const uint8_t> message;
    size_t length = 0;  // after the mailbox header
    uint8_t command = 0;
    uint16_t index = 0;
    uint8_t subindex = 0;
    size_t end() const { return mbx::HeaderSize + length; }
    bool completeAccess() const { return (command & sdo::CompleteAccess) != 0; }
};

CoeServer::CoeServer(ObjectDictionary& od, uint16_t mailboxOutSize)
    : od_(od), outSize_(mailboxOutSize) {}

uint8_t CoeServer::nextCounter() {
    counter_ = mbx::nextCounter(counter_);
    return counter_;
}

void CoeServer::handle(std::span<const uint8_t> message, MailboxOutbox& out) {
    auto mailboxError = [&](uint16_t detail) {
        out.post(mbx::errorMessage(detail, nextCounter()));
    };
    const std::optional<mbx::Header> header = mbx::parseHeader(message);
    if (!header) return mailboxError(mbx::ErrSyntax);
    const size_t length = mbx::contentLength(message);
    if (header->type != mbx::TypeCoe) return mailboxError(mbx::ErrUnsupportedProtocol);
    if (length < coe::HeaderSize) return mailboxError(mbx::ErrSizeTooShort);
    if (coe::service(message) != coe::ServiceSdoRequest) {
        return mailboxError(mbx::ErrServiceNotSupported);
    }
    if (length < sdo::InitiateLength) return mailboxError(mbx::ErrSizeTooShort);

    const Request r{message, length, message[sdo::CommandOffset],
                    ecat::get16(&message[sdo::IndexOffset]), message[sdo::SubindexOffset]};
    switch (r.command & sdo::SpecifierMask) {
        case sdo::CcsInitiateDownload:
            return initiateDownload(r, out);
        case sdo::CcsDownloadSegment:
            return downloadSegment(r, out);
        case sdo::CcsInitiateUpload:
            return initiateUpload(r, out);
        case sdo::CcsUploadSegment:
            return uploadSegment(r, out);
        case sdo::Abort:
            transfer_.reset();  // the master gave up; nothing is answered
            return;
        default:
            return abortTransfer(r.index, r.subindex, abort_code::CommandSpecifier, out);
    }
}

void CoeServer::abortTransfer(uint16_t index, uint8_t subindex, uint32_t code, MailboxOutbox& out) {
    transfer_.reset();
    auto m = sdoMessage(coe::ServiceSdoRequest, sdo::InitiateLength, sdo::Abort, nextCounter());
    sdo::putAddress(m, index, subindex);
    ecat::put32(&m[sdo::FieldOffset], code);
    out.post(std::move(m));
}

uint32_t CoeServer::store(bool completeAccess, uint16_t index, uint8_t subindex,
                          std::span<const uint8_t> data) {
    return completeAccess ? od_.downloadComplete(index, subindex, data)
                          : od_.download(index, subindex, data);
}

bool CoeServer::continues(const Request& r, bool upload, MailboxOutbox& out) {
    if (!transfer_ || transfer_->upload != upload) {
        abortTransfer(0, 0, abort_code::CommandSpecifier, out);
        return false;
    }
    if ((r.command & sdo::Toggle) != transfer_->toggle) {
        abortTransfer(transfer_->index, transfer_->subindex, abort_code::ToggleBit, out);
        return false;
    }
    return true;
}

void CoeServer::initiateDownload(const Request& r, MailboxOutbox& out) {
    transfer_.reset();
    const bool ca = r.completeAccess();
    uint32_t code = abort_code::None;
    if ((r.command & sdo::Expedited) != 0) {
        code = store(ca, r.index, r.subindex,
                     r.message.subspan(sdo::FieldOffset, sdo::expeditedSize(r.command)));
    } else {
        const size_t total = ecat::get32(&r.message[sdo::FieldOffset]);
        const size_t here = r.end() - sdo::NormalDataOffset;
        if (here >= total) {
            code = store(ca, r.index, r.subindex, r.message.subspan(sdo::NormalDataOffset, total));
        } else if (!ca && !od_.has(r.index, r.subindex)) {
            code = od_.hasObject(r.index) ? abort_code::SubindexMissing : abort_code::ObjectMissing;
        } else if (total > kDownloadBuffer) {
            code = abort_code::OutOfMemory;
        } else {
            transfer_ = std::make_shared<Transfer>();
            transfer_->completeAccess = ca;
            transfer_->index = r.index;
            transfer_->subindex = r.subindex;
            transfer_->total = total;
            transfer_->data.assign(r.message.begin() + sdo::NormalDataOffset,
                                   r.message.begin() + static_cast<std::ptrdiff_t>(r.end()));
        }
    }
    if (code != abort_code::None) return abortTransfer(r.index, r.subindex, code, out);
    out.post(initiateResponse(sdo::InitiateLength, sdo::ScsInitiateDownload, r.index, r.subindex,
                              nextCounter()));
}

void CoeServer::downloadSegment(const Request& r, MailboxOutbox& out) {
    if (!continues(r, false, out)) return;
    Transfer& t = *transfer_;
    const size_t bytes = sdo::segmentSize(r.command, r.length);
    if (t.data.size() + bytes > t.total) {
        return abortTransfer(t.index, t.subindex, abort_code::LengthTooHigh, out);
    }
    const auto first = r.message.begin() + sdo::SegmentDataOffset;
    t.data.insert(t.data.end(), first, first + static_cast<std::ptrdiff_t>(bytes));
    const uint8_t toggle = t.toggle;
    t.toggle ^= sdo::Toggle;
    if ((r.command & sdo::LastSegment) != 0) {
        if (t.data.size() < t.total) {
            return abortTransfer(t.index, t.subindex, abort_code::LengthTooLow, out);
        }
        const uint32_t code = store(t.completeAccess, t.index, t.subindex, t.data);
        if (code != abort_code::None) return abortTransfer(t.index, t.subindex, code, out);
        transfer_.reset();
    }
    out.post(sdoMessage(coe::ServiceSdoResponse, sdo::InitiateLength,
                        sdo::ScsDownloadSegment | toggle, nextCounter()));
}

void CoeServer::initiateUpload(const Request& r, MailboxOutbox& out) {
    transfer_.reset();
    const bool ca = r.completeAccess();
    std::vector<uint8_t> value;
    const uint32_t code = ca ? od_.uploadComplete(r.index, r.subindex, value)
                             : od_.upload(r.index, r.subindex, value);
    if (code != abort_code::None) return abortTransfer(r.index, r.subindex, code, out);
    if (!ca && !value.empty() && value.size() <= sdo::ExpeditedData) {
        auto m = initiateResponse(sdo::InitiateLength,
                                  sdo::ScsInitiateUpload | sdo::expeditedFlags(value.size()),
                                  r.index, r.subindex, nextCounter());
        std::copy(value.begin(), value.end(), m.begin() + sdo::FieldOffset);
        return out.post(std::move(m));
    }
    // Normal transfer: as much as the read mailbox holds, the rest in segments.
    const size_t room = outSize_ > sdo::NormalDataOffset ? outSize_ - sdo::NormalDataOffset : 0;
    const size_t here = std::min(room, value.size());
    auto m = initiateResponse(
        sdo::InitiateLength + here,
        sdo::ScsInitiateUpload | sdo::SizeIndicated | (ca ? sdo::CompleteAccess : 0), r.index,
        r.subindex, nextCounter());
    ecat::put32(&m[sdo::FieldOffset], static_cast<uint32_t>(value.size()));
    std::copy_n(value.begin(), here, m.begin() + sdo::NormalDataOffset);
    if (here < value.size()) {
        transfer_ = std::make_shared<Transfer>();
        transfer_->upload = true;
        transfer_->index = r.index;
        transfer_->subindex = r.subindex;
        transfer_->data.assign(value.begin() + static_cast<std::ptrdiff_t>(here), value.end());
    }
    out.post(std::move(m));
}

void CoeServer::uploadSegment(const Request& r, MailboxOutbox& out) {
    if (!continues(r, true, out)) return;
    Transfer& t = *transfer_;
    const size_t room = outSize_ > sdo::SegmentDataOffset ? outSize_ - sdo::SegmentDataOffset : 0;
    const size_t bytes = std::min(room, t.data.size());
    const bool last = bytes == t.data.size();
    auto m = sdoMessage(coe::ServiceSdoResponse, sdo::segmentLength(bytes),
                        sdo::ScsUploadSegment | t.toggle | sdo::segmentFlags(bytes, last),
                        nextCounter());
    std::copy_n(t.data.begin(), bytes, m.begin() + sdo::SegmentDataOffset);
    t.data.erase(t.data.begin(), t.data.begin() + static_cast<std::ptrdiff_t>(bytes));
    t.toggle ^= sdo::Toggle;
    if (last) transfer_.reset();
    out.post(std::move(m));
}

void CoeServer::emergency(uint16_t errorCode, uint8_t errorRegister,
                          std::span<const uint8_t, 5> data, MailboxOutbox& out) {
    std::vector<uint8_t> m(mbx::HeaderSize + coe::EmergencyLength, 0);
    coe::putHeaders(m, coe::EmergencyLength, nextCounter(), coe::ServiceEmergency);
    ecat::put16(&m[coe::EmergencyCodeOffset], errorCode);
    m[coe::EmergencyRegisterOffset] = errorRegister;
    std::copy(data.begin(), data.end(), m.begin() + coe::EmergencyDataOffset);
    out.post(std::move(m));
}

}  // namespace ecsim

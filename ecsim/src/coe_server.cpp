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

CoeServer::CoeServer(ObjectDictionary& od, uint16_t mailboxOutSize)
    : od_(od), outSize_(mailboxOutSize) {}

uint8_t CoeServer::nextCounter() {
    counter_ = mbx::nextCounter(counter_);
    return counter_;
}

void CoeServer::handle(std::span<const uint8_t> message, MailboxOutbox& out) {
    auto next = [this] { return nextCounter(); };
    auto mailboxError = [&](uint16_t detail) { out.post(mbx::errorMessage(detail, next())); };
    auto abortTransfer = [&](uint16_t index, uint8_t subindex, uint32_t code) {
        transfer_.reset();
        auto m = sdoMessage(coe::ServiceSdoRequest, sdo::InitiateLength, sdo::Abort, next());
        sdo::putAddress(m, index, subindex);
        ecat::put32(&m[sdo::FieldOffset], code);
        out.post(std::move(m));
    };
    // A response to an initiate: the request's index and subindex with `command`.
    auto initiateResponse = [&](size_t length, uint8_t command, uint16_t index, uint8_t subindex) {
        auto m = sdoMessage(coe::ServiceSdoResponse, length, command, next());
        sdo::putAddress(m, index, subindex);
        return m;
    };
    auto store = [this](bool completeAccess, uint16_t index, uint8_t subindex,
                        std::span<const uint8_t> data) {
        return completeAccess ? od_.downloadComplete(index, subindex, data)
                              : od_.download(index, subindex, data);
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

    const uint8_t command = message[sdo::CommandOffset];
    const uint16_t index = ecat::get16(&message[sdo::IndexOffset]);
    const uint8_t subindex = message[sdo::SubindexOffset];
    const size_t end = mbx::HeaderSize + length;
    std::vector<uint8_t> value;
    // Whether a segment continues the transfer in progress in its direction with
    // the expected toggle; if not, the transfer is aborted.
    auto continues = [&](bool upload) {
        if (!transfer_ || transfer_->upload != upload) {
            abortTransfer(0, 0, abort_code::CommandSpecifier);
            return false;
        }
        if ((command & sdo::Toggle) != transfer_->toggle) {
            abortTransfer(transfer_->index, transfer_->subindex, abort_code::ToggleBit);
            return false;
        }
        return true;
    };

    switch (command & sdo::SpecifierMask) {
        case sdo::CcsInitiateDownload: {
            transfer_.reset();
            const bool ca = (command & sdo::CompleteAccess) != 0;
            uint32_t code = abort_code::None;
            if ((command & sdo::Expedited) != 0) {
                code = store(ca, index, subindex,
                             message.subspan(sdo::FieldOffset, sdo::expeditedSize(command)));
            } else {
                const size_t total = ecat::get32(&message[sdo::FieldOffset]);
                const size_t here = end - sdo::NormalDataOffset;
                if (here >= total) {
                    code =
                        store(ca, index, subindex, message.subspan(sdo::NormalDataOffset, total));
                } else if (!ca && !od_.has(index, subindex)) {
                    code = od_.hasObject(index) ? abort_code::SubindexMissing
                                                : abort_code::ObjectMissing;
                } else if (total > kDownloadBuffer) {
                    code = abort_code::OutOfMemory;
                } else {
                    transfer_ = std::make_shared<Transfer>();
                    transfer_->completeAccess = ca;
                    transfer_->index = index;
                    transfer_->subindex = subindex;
                    transfer_->total = total;
                    transfer_->data.assign(message.begin() + sdo::NormalDataOffset,
                                           message.begin() + static_cast<std::ptrdiff_t>(end));
                }
            }
            if (code != abort_code::None) return abortTransfer(index, subindex, code);
            return out.post(
                initiateResponse(sdo::InitiateLength, sdo::ScsInitiateDownload, index, subindex));
        }
        case sdo::CcsDownloadSegment: {
            if (!continues(false)) return;
            Transfer& t = *transfer_;
            const size_t bytes = sdo::segmentSize(command, length);
            if (t.data.size() + bytes > t.total) {
                return abortTransfer(t.index, t.subindex, abort_code::LengthTooHigh);
            }
            const auto first = message.begin() + sdo::SegmentDataOffset;
            t.data.insert(t.data.end(), first, first + static_cast<std::ptrdiff_t>(bytes));
            const uint8_t toggle = t.toggle;
            t.toggle ^= sdo::Toggle;
            if ((command & sdo::LastSegment) != 0) {
                if (t.data.size() < t.total) {
                    return abortTransfer(t.index, t.subindex, abort_code::LengthTooLow);
                }
                const uint32_t code = store(t.completeAccess, t.index, t.subindex, t.data);
                if (code != abort_code::None) return abortTransfer(t.index, t.subindex, code);
                transfer_.reset();
            }
            return out.post(sdoMessage(coe::ServiceSdoResponse, sdo::InitiateLength,
                                       sdo::ScsDownloadSegment | toggle, next()));
        }
        case sdo::CcsInitiateUpload: {
            transfer_.reset();
            const bool ca = (command & sdo::CompleteAccess) != 0;
            const uint32_t code = ca ? od_.uploadComplete(index, subindex, value)
                                     : od_.upload(index, subindex, value);
            if (code != abort_code::None) return abortTransfer(index, subindex, code);
            if (!ca && !value.empty() && value.size() <= sdo::ExpeditedData) {
                auto m = initiateResponse(
                    sdo::InitiateLength, sdo::ScsInitiateUpload | sdo::expeditedFlags(value.size()),
                    index, subindex);
                std::copy(value.begin(), value.end(), m.begin() + sdo::FieldOffset);
                return out.post(std::move(m));
            }
            // Normal transfer: as much as the read mailbox holds, the rest in segments.
            const size_t room =
                outSize_ > sdo::NormalDataOffset ? outSize_ - sdo::NormalDataOffset : 0;
            const size_t here = std::min(room, value.size());
            auto m = initiateResponse(
                sdo::InitiateLength + here,
                sdo::ScsInitiateUpload | sdo::SizeIndicated | (ca ? sdo::CompleteAccess : 0), index,
                subindex);
            ecat::put32(&m[sdo::FieldOffset], static_cast<uint32_t>(value.size()));
            std::copy_n(value.begin(), here, m.begin() + sdo::NormalDataOffset);
            if (here < value.size()) {
                transfer_ = std::make_shared<Transfer>();
                transfer_->upload = true;
                transfer_->index = index;
                transfer_->subindex = subindex;
                transfer_->data.assign(value.begin() + static_cast<std::ptrdiff_t>(here),
                                       value.end());
            }
            return out.post(std::move(m));
        }
        case sdo::CcsUploadSegment: {
            if (!continues(true)) return;
            Transfer& t = *transfer_;
            const size_t room =
                outSize_ > sdo::SegmentDataOffset ? outSize_ - sdo::SegmentDataOffset : 0;
            const size_t bytes = std::min(room, t.data.size());
            const bool last = bytes == t.data.size();
            auto m = sdoMessage(coe::ServiceSdoResponse, sdo::segmentLength(bytes),
                                sdo::ScsUploadSegment | t.toggle | sdo::segmentFlags(bytes, last),
                                next());
            std::copy_n(t.data.begin(), bytes, m.begin() + sdo::SegmentDataOffset);
            t.data.erase(t.data.begin(), t.data.begin() + static_cast<std::ptrdiff_t>(bytes));
            t.toggle ^= sdo::Toggle;
            if (last) transfer_.reset();
            return out.post(std::move(m));
        }
        case sdo::Abort:
            transfer_.reset();  // the master gave up; nothing is answered
            return;
        default:
            return abortTransfer(index, subindex, abort_code::CommandSpecifier);
    }
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

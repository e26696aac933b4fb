// The slave side of CoE SDO transfers. Layout of every message: 6-byte mailbox
// header (length, address, channel, type | counter << 4), 2-byte CoE header
// (service << 12), then the SDO command byte and its fields.
#include <algorithm>

#include "ecmaster/codec.hpp"
#include "ecsim/object_dictionary.hpp"

namespace ecsim {

namespace {

constexpr size_t kMbxHeader = 6;
constexpr size_t kCoeHeader = 2;
constexpr size_t kSdoHeader = kMbxHeader + kCoeHeader;  // offset of the command byte
constexpr size_t kInitiateSize = 10;  // CoE header + command, index, subindex, 4 data bytes
constexpr size_t kNormalDataOffset = kSdoHeader + 8;  // after the u32 total size
constexpr size_t kSegmentDataOffset = kSdoHeader + 1;
constexpr size_t kMinSegmentData = 7;  // a segment is never shorter than 7 data bytes

constexpr uint8_t kMbxTypeError = 0x00;
constexpr uint8_t kMbxTypeCoe = 0x03;
constexpr uint16_t kServiceEmergency = 1;
constexpr uint16_t kServiceSdoRequest = 2;
constexpr uint16_t kServiceSdoResponse = 3;

// Mailbox error details.
constexpr uint16_t kMbxErrSyntax = 1;
constexpr uint16_t kMbxErrUnsupportedProtocol = 2;
constexpr uint16_t kMbxErrServiceNotSupported = 4;
constexpr uint16_t kMbxErrSizeTooShort = 6;

// Client command specifiers (bits 5-7 of the command byte).
constexpr uint8_t kCcsDownloadSegment = 0;
constexpr uint8_t kCcsInitiateDownload = 1;
constexpr uint8_t kCcsInitiateUpload = 2;
constexpr uint8_t kCcsUploadSegment = 3;
constexpr uint8_t kCcsAbort = 4;

constexpr uint8_t kToggle = 0x10;
constexpr uint8_t kCompleteAccess = 0x10;

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
    counter_ = static_cast<uint8_t>(counter_ % 7 + 1);
    return counter_;
}

namespace {

// A reply of `coeLength` bytes after the mailbox header, zero-filled.
std::vector<uint8_t> makeMessage(uint8_t type, size_t length, uint8_t counter) {
    std::vector<uint8_t> m(kMbxHeader + length, 0);
    ecat::put16(&m[0], static_cast<uint16_t>(length));
    m[5] = static_cast<uint8_t>(type | (counter << 4));
    return m;
}

std::vector<uint8_t> makeSdo(uint16_t service, size_t coeLength, uint8_t counter) {
    auto m = makeMessage(kMbxTypeCoe, coeLength, counter);
    ecat::put16(&m[kMbxHeader], static_cast<uint16_t>(service << 12));
    return m;
}

void putAddress(std::vector<uint8_t>& m, uint16_t index, uint8_t subindex) {
    ecat::put16(&m[kSdoHeader + 1], index);
    m[kSdoHeader + 3] = subindex;
}

}  // namespace

void CoeServer::handle(std::span<const uint8_t> message, MailboxOutbox& out) {
    auto next = [this] { return nextCounter(); };
    auto mailboxError = [&](uint16_t detail) {
        auto m = makeMessage(kMbxTypeError, 4, next());
        ecat::put16(&m[kMbxHeader], 0x0001);  // service: mailbox error
        ecat::put16(&m[kMbxHeader + 2], detail);
        out.post(std::move(m));
    };
    auto abortTransfer = [&](uint16_t index, uint8_t subindex, uint32_t code) {
        transfer_.reset();
        auto m = makeSdo(kServiceSdoRequest, kInitiateSize, next());
        m[kSdoHeader] = 0x80;
        putAddress(m, index, subindex);
        ecat::put32(&m[kSdoHeader + 4], code);
        out.post(std::move(m));
    };

    if (message.size() < kMbxHeader) return mailboxError(kMbxErrSyntax);
    const size_t length = std::min<size_t>(ecat::get16(&message[0]), message.size() - kMbxHeader);
    if ((message[5] & 0x0F) != kMbxTypeCoe) return mailboxError(kMbxErrUnsupportedProtocol);
    if (length < kCoeHeader) return mailboxError(kMbxErrSizeTooShort);
    const uint16_t service = ecat::get16(&message[kMbxHeader]) >> 12;
    if (service != kServiceSdoRequest) return mailboxError(kMbxErrServiceNotSupported);
    if (length < kInitiateSize) return mailboxError(kMbxErrSizeTooShort);

    const uint8_t command = message[kSdoHeader];
    const uint16_t index = ecat::get16(&message[kSdoHeader + 1]);
    const uint8_t subindex = message[kSdoHeader + 3];
    const size_t end = kMbxHeader + length;
    std::vector<uint8_t> value;

    switch (command >> 5) {
        case kCcsInitiateDownload: {
            transfer_.reset();
            const bool ca = (command & kCompleteAccess) != 0;
            auto store = [&](std::span<const uint8_t> data) {
                return ca ? od_.downloadComplete(index, subindex, data)
                          : od_.download(index, subindex, data);
            };
            uint32_t code = abort_code::None;
            if ((command & 0x02) != 0) {  // expedited: n counts unused bytes when s is set
                const size_t size = (command & 0x01) != 0 ? 4 - ((command >> 2) & 0x03) : 4;
                code = store(message.subspan(kSdoHeader + 4, size));
            } else {
                const size_t total = ecat::get32(&message[kSdoHeader + 4]);
                const size_t here = end - kNormalDataOffset;
                if (here >= total) {
                    code = store(message.subspan(kNormalDataOffset, total));
                } else if (!ca && !od_.has(index, subindex)) {
                    code = od_.hasObject(index) ? abort_code::SubindexMissing
                                                : abort_code::ObjectMissing;
                } else {
                    transfer_ = std::make_shared<Transfer>();
                    transfer_->completeAccess = ca;
                    transfer_->index = index;
                    transfer_->subindex = subindex;
                    transfer_->total = total;
                    transfer_->data.assign(message.begin() + kNormalDataOffset,
                                           message.begin() + static_cast<std::ptrdiff_t>(end));
                }
            }
            if (code != abort_code::None) return abortTransfer(index, subindex, code);
            auto m = makeSdo(kServiceSdoResponse, kInitiateSize, next());
            m[kSdoHeader] = 0x60;
            putAddress(m, index, subindex);
            return out.post(std::move(m));
        }
        case kCcsDownloadSegment: {
            if (!transfer_ || transfer_->upload) {
                return abortTransfer(0, 0, abort_code::CommandSpecifier);
            }
            Transfer& t = *transfer_;
            if ((command & kToggle) != t.toggle) {
                return abortTransfer(t.index, t.subindex, abort_code::ToggleBit);
            }
            size_t bytes = end - kSegmentDataOffset;
            if (bytes == kMinSegmentData) bytes -= (command >> 1) & 0x07;
            if (t.data.size() + bytes > t.total) {
                return abortTransfer(t.index, t.subindex, abort_code::LengthTooHigh);
            }
            const auto first = message.begin() + kSegmentDataOffset;
            t.data.insert(t.data.end(), first, first + static_cast<std::ptrdiff_t>(bytes));
            const uint8_t toggle = t.toggle;
            t.toggle ^= kToggle;
            if ((command & 0x01) != 0) {  // last segment
                if (t.data.size() < t.total) {
                    return abortTransfer(t.index, t.subindex, abort_code::LengthTooLow);
                }
                const uint32_t code = t.completeAccess
                                          ? od_.downloadComplete(t.index, t.subindex, t.data)
                                          : od_.download(t.index, t.subindex, t.data);
                if (code != abort_code::None) return abortTransfer(t.index, t.subindex, code);
                transfer_.reset();
            }
            auto m = makeSdo(kServiceSdoResponse, kInitiateSize, next());
            m[kSdoHeader] = static_cast<uint8_t>(0x20 | toggle);
            return out.post(std::move(m));
        }
        case kCcsInitiateUpload: {
            transfer_.reset();
            const bool ca = (command & kCompleteAccess) != 0;
            const uint32_t code = ca ? od_.uploadComplete(index, subindex, value)
                                     : od_.upload(index, subindex, value);
            if (code != abort_code::None) return abortTransfer(index, subindex, code);
            if (!ca && !value.empty() && value.size() <= 4) {
                auto m = makeSdo(kServiceSdoResponse, kInitiateSize, next());
                m[kSdoHeader] = static_cast<uint8_t>(0x43 | ((4 - value.size()) << 2));
                putAddress(m, index, subindex);
                std::copy(value.begin(), value.end(), m.begin() + kSdoHeader + 4);
                return out.post(std::move(m));
            }
            // Normal transfer: as much as the read mailbox holds, the rest in segments.
            const size_t room = outSize_ > kNormalDataOffset ? outSize_ - kNormalDataOffset : 0;
            const size_t here = std::min(room, value.size());
            auto m = makeSdo(kServiceSdoResponse, kInitiateSize + here, next());
            m[kSdoHeader] = static_cast<uint8_t>(0x41 | (ca ? kCompleteAccess : 0));
            putAddress(m, index, subindex);
            ecat::put32(&m[kSdoHeader + 4], static_cast<uint32_t>(value.size()));
            std::copy_n(value.begin(), here, m.begin() + kNormalDataOffset);
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
        case kCcsUploadSegment: {
            if (!transfer_ || !transfer_->upload) {
                return abortTransfer(0, 0, abort_code::CommandSpecifier);
            }
            Transfer& t = *transfer_;
            if ((command & kToggle) != t.toggle) {
                return abortTransfer(t.index, t.subindex, abort_code::ToggleBit);
            }
            const size_t room = outSize_ > kSegmentDataOffset ? outSize_ - kSegmentDataOffset : 0;
            const size_t bytes = std::min(room, t.data.size());
            const bool last = bytes == t.data.size();
            const size_t padded = std::max(bytes, kMinSegmentData);
            auto m = makeSdo(kServiceSdoResponse, kCoeHeader + 1 + padded, next());
            uint8_t reply = t.toggle | (last ? 0x01 : 0x00);
            if (bytes < kMinSegmentData)
                reply |= static_cast<uint8_t>((kMinSegmentData - bytes) << 1);
            m[kSdoHeader] = reply;
            std::copy_n(t.data.begin(), bytes, m.begin() + kSegmentDataOffset);
            t.data.erase(t.data.begin(), t.data.begin() + static_cast<std::ptrdiff_t>(bytes));
            t.toggle ^= kToggle;
            if (last) transfer_.reset();
            return out.post(std::move(m));
        }
        case kCcsAbort:
            transfer_.reset();  // the master gave up; nothing is answered
            return;
        default:
            return abortTransfer(index, subindex, abort_code::CommandSpecifier);
    }
}

void CoeServer::emergency(uint16_t errorCode, uint8_t errorRegister,
                          std::span<const uint8_t, 5> data, MailboxOutbox& out) {
    auto m = makeMessage(kMbxTypeCoe, kInitiateSize, nextCounter());
    ecat::put16(&m[kMbxHeader], static_cast<uint16_t>(kServiceEmergency << 12));
    ecat::put16(&m[kSdoHeader], errorCode);
    m[kSdoHeader + 2] = errorRegister;
    std::copy(data.begin(), data.end(), m.begin() + kSdoHeader + 3);
    out.post(std::move(m));
}

}  // namespace ecsim

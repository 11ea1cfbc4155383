#include "tools/devsim/boot_loader.h"

#include <utility>

#include "tools/devsim/byte_order.h"
#include "tools/devsim/crc32.h"

namespace devsim {

namespace {

constexpr std::uint16_t kCommandTag = 0x0001;
constexpr std::uint16_t kDataTag = 0xF00D;
constexpr std::uint16_t kDataKind = 1;
constexpr std::uint16_t kEndKind = 2;
constexpr std::uint16_t kVersionCode = 15;
constexpr std::uint16_t kStartCode = 14;
constexpr std::uint16_t kBlockStartCode = 0xF000;
constexpr std::uint16_t kReplyTag = 0x0002;
constexpr std::uint16_t kAckCode = 3;
constexpr std::uint16_t kAnnounceCode = 0x300B;
constexpr std::uint16_t kGoAheadCode = 1;
constexpr std::uint32_t kDataSubject = 1;
constexpr std::uint32_t kGoAheadSubject = 1;
constexpr std::uint32_t kEndSubject = 2;
constexpr std::uint32_t kStatusOk = 0;
constexpr std::uint32_t kStatusChecksum = 2;
constexpr std::uint32_t kStatusInvalid = 5;
constexpr std::uint32_t kStatusGoAhead = 14;

std::vector<std::uint8_t> header(std::uint16_t code, std::uint16_t lengthField) {
    std::vector<std::uint8_t> bytes;
    appendU16(bytes, kReplyTag);
    appendU16(bytes, code);
    appendU16(bytes, lengthField);
    appendU16(bytes, 0);
    return bytes;
}

void append(std::vector<std::uint8_t>& to, const std::vector<std::uint8_t>& bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
}

}  // namespace

BootLoader::BootLoader(BootConfig config, DeviceContext context, FlashModel& flash,
                       std::function<void()> endAcknowledged)
    : config_(std::move(config)),
      context_(std::move(context)),
      flash_(flash),
      endAcknowledged_(std::move(endAcknowledged)) {
    if (config_.announcements.empty()) config_.announcements.push_back(64);
    maxPacketWords_ = config_.announcements.back();
}

void BootLoader::restart() {
    input_.clear();
    skipped_ = 0;
    hungUp_ = false;
    versionRequests_ = 0;
    downloadStarted_ = false;
    dataPackets_ = 0;
    blockStarted_ = false;
}

void BootLoader::feed(const std::uint8_t* bytes, std::size_t count) {
    input_.insert(input_.end(), bytes, bytes + count);
    process();
}

BootLoader::Frame BootLoader::classify(const std::uint8_t* h) const {
    const std::uint16_t tag = getU16(h);
    const std::uint16_t code = getU16(h + 2);
    if (tag == 0 && code == kVersionCode && getU32(h + 4) == 0) return Frame::VersionRequest;
    if (tag == kCommandTag) return Frame::Command;
    if (tag == kDataTag && code == kDataKind) return Frame::Data;
    if (tag == kDataTag && code == kEndKind && getU32(h + 4) == 0) return Frame::End;
    return Frame::Unknown;
}

void BootLoader::process() {
    std::size_t used = 0;
    while (input_.size() - used >= 8) {
        const std::uint8_t* packet = input_.data() + used;
        const Frame frame = classify(packet);
        if (frame == Frame::Unknown) {  // resynchronise one byte at a time
            ++skipped_;
            ++used;
            continue;
        }
        const std::size_t size = frame == Frame::Data ? 8 + 4 * std::size_t{getU16(packet + 4)} : 8;
        if (input_.size() - used < size) break;
        reportSkipped();
        switch (frame) {
            case Frame::VersionRequest:
                onVersionRequest();
                break;
            case Frame::Command:
                onCommand(getU16(packet + 2), getU32(packet + 4));
                break;
            case Frame::Data:
                onData(packet, size);
                break;
            case Frame::End:
                onEnd();
                break;
            case Frame::Unknown:
                break;
        }
        used += size;
    }
    input_.erase(input_.begin(), input_.begin() + static_cast<long>(used));
}

void BootLoader::reportSkipped() {
    if (skipped_ == 0) return;
    context_.transcript.line(format("boot rx skipped %zu bytes", skipped_));
    skipped_ = 0;
}

void BootLoader::abandonPartialPacket() {
    if (input_.size() >= 8 && classify(input_.data()) == Frame::Data) {
        reportSkipped();
        context_.transcript.line(format("boot rx data addr=%08x incomplete: %zu of %zu bytes",
                                        input_.size() >= 12 ? getU32(input_.data() + 8) : 0,
                                        input_.size(), 8 + 4 * std::size_t{getU16(&input_[4])}));
        input_.clear();
        ++dataPackets_;
        acknowledgeData(kStatusInvalid);
        return;
    }
    skipped_ += input_.size();
    input_.clear();
    reportSkipped();
}

void BootLoader::reply(const std::vector<std::uint8_t>& bytes, const std::string& description) {
    if (hungUp_) return;
    if (context_.faults.fire(FaultKind::Silent) || context_.faults.fire(FaultKind::NoBootLoader)) {
        context_.transcript.line("boot silent");
        return;
    }
    context_.transcript.line("boot tx " + description);
    context_.send(bytes);
}

void BootLoader::onVersionRequest() {
    ++versionRequests_;
    context_.transcript.line("boot rx version-request");
    if (versionRequests_ == 1 && context_.faults.fire(FaultKind::BootVersionFailFirst)) {
        context_.transcript.line("boot ignores the first version request");
        return;
    }
    std::vector<std::uint8_t> bytes;
    appendU16(bytes, 0);
    appendU16(bytes, kVersionCode);
    appendU32(bytes, config_.versionWord);
    reply(bytes, format("version %08x", config_.versionWord));
}

void BootLoader::onCommand(std::uint16_t code, std::uint32_t parameter) {
    if (code == kStartCode) {
        ++downloads_;
        downloadStarted_ = true;
        downloadFlags_ = parameter;
        dataPackets_ = 0;
        blockStarted_ = false;
        context_.transcript.line(format("boot rx start flags=%08x", parameter));
        return;
    }
    if (code == kBlockStartCode && parameter == 1) {
        context_.transcript.line("boot rx block-start");
        onBlockStart();
        return;
    }
    context_.transcript.line(
        format("boot rx command code=%04x param=%08x ignored", code, parameter));
}

std::vector<std::uint8_t> BootLoader::negotiation() const {
    const FaultSet& faults = context_.faults;
    std::vector<std::uint8_t> bytes;
    // Packets of other kinds that a real boot loader interleaves; some carry a payload word.
    for (std::uint32_t i = 0; i < config_.noisePackets; ++i) {
        const std::uint16_t words = i % 2;
        append(bytes, header(static_cast<std::uint16_t>(0x3000 + i % 11), words));
        for (std::uint16_t w = 0; w < words; ++w) appendU32(bytes, 0x5A5A0000u + i);
    }
    if (faults.forDownload(FaultKind::OversizePacket, downloads_) != nullptr) {
        append(bytes, header(7, 100));
        bytes.resize(bytes.size() + 400, 0xEE);
    }
    if (faults.forDownload(FaultKind::NoAnnounce, downloads_) == nullptr) {
        const bool eightBytes = faults.forDownload(FaultKind::Announce8, downloads_) != nullptr;
        const bool oversize =
            faults.forDownload(FaultKind::OversizeAnnounce, downloads_) != nullptr;
        for (const std::uint32_t words : config_.announcements) {
            append(bytes, header(kAnnounceCode, eightBytes ? 0 : oversize ? 3 : 2));
            if (eightBytes) continue;
            appendU32(bytes, words);
            appendU32(bytes, 0);
            if (oversize) appendU32(bytes, 0);
        }
    }
    append(bytes, header(kGoAheadCode, 0));
    const Fault* status = faults.forDownload(FaultKind::GoAheadStatus, downloads_);
    append(bytes,
           acknowledgement(kGoAheadSubject, status != nullptr ? status->value : kStatusGoAhead, 2));
    return bytes;
}

void BootLoader::onBlockStart() {
    blockStarted_ = true;
    blockHasData_ = false;
    lastPacketShort_ = false;
    maxPacketWords_ = config_.announcements.back();
    const std::vector<std::uint8_t> bytes = negotiation();
    reply(bytes,
          format("negotiation max-packet-words=%u bytes=%zu", maxPacketWords_, bytes.size()));
}

BootLoader::Verdict BootLoader::judge(const std::uint8_t* packet, std::size_t size) const {
    if (!downloadStarted_) return {kStatusInvalid, "no start command"};
    if (!blockStarted_) return {kStatusInvalid, "no block-start"};
    const std::uint32_t lengthField = getU16(packet + 4);
    if (lengthField < 4) return {kStatusInvalid, format("length field %u too small", lengthField)};
    if (size > 4 * std::uint64_t{maxPacketWords_}) {
        return {kStatusInvalid, format("%zu bytes exceed %u words", size, maxPacketWords_)};
    }
    const std::uint32_t flags = getU32(packet + 16);
    const std::size_t pad = (flags >> 1) & 3;
    const std::size_t dataBytes = 4 * (lengthField - 3) - pad;
    std::uint32_t crc = crc32Update(0, packet, 12);
    crc = crc32Update(crc, packet + 16, 4 + dataBytes);
    if (crc != getU32(packet + 12)) return {kStatusChecksum, "bad checksum"};
    if (getU16(packet + 6) != 0) return {kStatusInvalid, "reserved field not 0"};
    if ((flags >> 3) != 0) return {kStatusInvalid, format("flags %08x: bits 3-31 set", flags)};
    if ((flags & 1) != (downloadFlags_ & 1)) {
        return {kStatusInvalid,
                format("flags bit 0 differs from start flags %08x", downloadFlags_)};
    }
    for (std::size_t i = 20 + dataBytes; i < size; ++i) {
        if (packet[i] != 0) return {kStatusInvalid, "pad bytes not zero"};
    }
    const std::uint32_t address = getU32(packet + 8);
    if (blockHasData_ && lastPacketShort_) {
        return {kStatusInvalid, "follows a packet that was not full"};
    }
    if (blockHasData_ && address != nextAddress_) {
        return {kStatusInvalid, format("address expected %08x", nextAddress_)};
    }
    if (std::uint64_t{address} + dataBytes > 0x100000000ull) {
        return {kStatusInvalid, "data runs past the end of the address space"};
    }
    return {kStatusOk, "ok"};
}

void BootLoader::onData(const std::uint8_t* packet, std::size_t size) {
    ++dataPackets_;
    const std::uint32_t address = getU32(packet + 8);
    const std::uint32_t lengthField = getU16(packet + 4);
    const std::size_t pad = (getU32(packet + 16) >> 1) & 3;
    const std::size_t dataBytes = lengthField >= 4 ? 4 * (lengthField - 3) - pad : 0;
    const std::string what = format("boot rx data addr=%08x bytes=%zu", address, dataBytes);

    if (context_.faults.forDownload(FaultKind::Hangup, downloads_, dataPackets_) != nullptr) {
        context_.transcript.line(what + " hangup");
        hungUp_ = true;
        return;
    }
    if (const Fault* forced =
            context_.faults.forDownload(FaultKind::DataStatus, downloads_, dataPackets_)) {
        context_.transcript.line(what + format(" forced status=%u", forced->value));
        if (forced->value == kStatusOk && dataBytes != 0)
            flash_.write(address, packet + 20, dataBytes);
        acknowledgeData(forced->value);
        return;
    }
    Verdict verdict = judge(packet, size);
    if (verdict.status == kStatusOk && !flash_.write(address, packet + 20, dataBytes)) {
        verdict = {kStatusInvalid, "beyond the simulated flash"};
    }
    if (verdict.status == kStatusOk) {
        blockHasData_ = true;
        lastPacketShort_ = size != 4 * std::uint64_t{maxPacketWords_};
        nextAddress_ = static_cast<std::uint32_t>(address + dataBytes);
        context_.transcript.line(what + " ok");
    } else {
        context_.transcript.line(what + " bad " + verdict.reason);
    }
    acknowledgeData(verdict.status);
}

void BootLoader::acknowledgeData(std::uint32_t status) {
    std::uint16_t lengthField = 2;
    if (context_.faults.forDownload(FaultKind::OversizeAck, downloads_, dataPackets_))
        lengthField = 3;
    if (context_.faults.forDownload(FaultKind::ShortAck, downloads_, dataPackets_)) lengthField = 0;
    std::string description = format("ack status=%u subject=%u", status, kDataSubject);
    if (lengthField != 2) description += format(" length=%u", lengthField);
    reply(acknowledgement(kDataSubject, status, lengthField), description);
}

void BootLoader::onEnd() {
    context_.transcript.line("boot rx end");
    blockStarted_ = false;
    const Fault* status = context_.faults.forDownload(FaultKind::EndStatus, downloads_);
    const Fault* subject = context_.faults.forDownload(FaultKind::EndSubject, downloads_);
    const std::uint32_t ackStatus = status != nullptr ? status->value : config_.endStatus;
    const std::uint32_t ackSubject = subject != nullptr ? subject->value : kEndSubject;
    reply(acknowledgement(ackSubject, ackStatus, 2),
          format("ack status=%u subject=%u", ackStatus, ackSubject));
    endAcknowledged_();
}

std::vector<std::uint8_t> BootLoader::acknowledgement(std::uint32_t subject, std::uint32_t status,
                                                      std::uint16_t lengthField) const {
    std::vector<std::uint8_t> bytes = header(kAckCode, lengthField);
    if (lengthField == 0) return bytes;
    appendU32(bytes, subject);
    appendU32(bytes, status);
    for (std::uint16_t extra = 2; extra < lengthField; ++extra) appendU32(bytes, 0);
    return bytes;
}

}  // namespace devsim

// The device's boot loader: parses packets from the byte stream, answers the
// version request, negotiates the packet size for each block, verifies every
// data packet (checksum, length, flags, pad, address continuity), stores good
// data in the flash model and acknowledges each packet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/devsim/device_context.h"
#include "tools/devsim/flash_model.h"

namespace devsim {

struct BootConfig {
    std::uint32_t versionWord = 0x12340AFF;
    std::vector<std::uint32_t> announcements{64};  // maxPacketWords values; the last counts
    std::uint32_t noisePackets = 0;
    std::uint32_t endStatus = 9;
};

class BootLoader {
  public:
    // The longest packet a 16-bit length field can announce.
    static constexpr std::size_t kMaxPacketBytes = 8 + 4 * 0xFFFF;

    BootLoader(BootConfig config, DeviceContext context, FlashModel& flash,
               std::function<void()> endAcknowledged);

    // Power-on state: no download, no block, nothing buffered, not hung up.
    void restart();
    // The version word of another board's boot loader.
    void setVersionWord(std::uint32_t versionWord) { config_.versionWord = versionWord; }
    void feed(const std::uint8_t* bytes, std::size_t count);

    // The line went quiet in the middle of a packet: give it up. An incomplete
    // data packet is refused with status 5 so the sender is not left waiting.
    bool hasPartialPacket() const { return !input_.empty(); }
    void abandonPartialPacket();

  private:
    enum class Frame { Unknown, VersionRequest, Command, Data, End };
    struct Verdict {
        std::uint32_t status;
        std::string reason;
    };

    Frame classify(const std::uint8_t* header) const;
    void process();
    // Sends unless the device is hung up or silenced; logs what went out.
    void reply(const std::vector<std::uint8_t>& bytes, const std::string& description);
    void reportSkipped();

    void onVersionRequest();
    void onCommand(std::uint16_t code, std::uint32_t parameter);
    void onBlockStart();
    void onData(const std::uint8_t* packet, std::size_t size);
    void onEnd();

    Verdict judge(const std::uint8_t* packet, std::size_t size) const;
    void acknowledgeData(std::uint32_t status);
    std::vector<std::uint8_t> acknowledgement(std::uint32_t subject, std::uint32_t status,
                                              std::uint16_t lengthField) const;
    std::vector<std::uint8_t> negotiation() const;

    BootConfig config_;
    DeviceContext context_;
    FlashModel& flash_;
    std::function<void()> endAcknowledged_;

    std::vector<std::uint8_t> input_;
    std::size_t skipped_ = 0;
    bool hungUp_ = false;
    std::uint32_t versionRequests_ = 0;

    // Download state: from the start command on.
    std::uint32_t downloads_ = 0;  // number of start commands seen; the current download
    bool downloadStarted_ = false;
    std::uint32_t downloadFlags_ = 0;
    std::uint32_t dataPackets_ = 0;  // within the current download

    // Block state: from the block-start command to the end packet.
    bool blockStarted_ = false;
    bool blockHasData_ = false;
    bool lastPacketShort_ = false;
    std::uint32_t nextAddress_ = 0;
    std::uint32_t maxPacketWords_ = 0;
};

}  // namespace devsim

// The tool's end of the simulated line for the simulator's self-tests: the
// port opened with plain POSIX calls, raw bytes in and out, and the packets
// built by hand, independently of protocol/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using ByteString = std::vector<std::uint8_t>;

class DeviceClient {
  public:
    explicit DeviceClient(const std::string& path);
    ~DeviceClient();
    DeviceClient(const DeviceClient&) = delete;
    DeviceClient& operator=(const DeviceClient&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    void send(const ByteString& bytes);
    void send(const std::string& text) { send(ByteString(text.begin(), text.end())); }
    // Up to `count` bytes, waiting at most `timeoutMs` for all of them.
    ByteString receive(std::size_t count, int timeoutMs = 2000);

  private:
    int fd_ = -1;
};

ByteString textBytes(const std::string& text);
ByteString command(std::uint16_t code, std::uint32_t parameter);
// A data packet for `data` at `address` with a correct checksum; flagsBit0 is
// bit 0 of the start flags, extraFlags are ORed into the flags word.
ByteString dataPacket(std::uint32_t address, const ByteString& data, std::uint32_t flagsBit0 = 0,
                      std::uint32_t extraFlags = 0);
std::uint32_t u32At(const ByteString& bytes, std::size_t offset);
std::uint16_t u16At(const ByteString& bytes, std::size_t offset);

const ByteString kVersionRequest{0x00, 0x00, 0x0f, 0x00, 0x00, 0x00, 0x00, 0x00};
const ByteString kEndPacket{0x0d, 0xf0, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00};

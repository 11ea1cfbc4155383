#include "tests/devsim/device_client.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

#include "tools/devsim/crc32.h"

DeviceClient::DeviceClient(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios settings{};
    if (fd_ >= 0 && tcgetattr(fd_, &settings) == 0) {
        cfmakeraw(&settings);
        tcsetattr(fd_, TCSANOW, &settings);
    }
}

DeviceClient::~DeviceClient() {
    if (fd_ >= 0) close(fd_);
}

void DeviceClient::send(const ByteString& bytes) {
    std::size_t sent = 0;
    while (fd_ >= 0 && sent < bytes.size()) {
        const ssize_t n = write(fd_, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else {
            pollfd wait{fd_, POLLOUT, 0};
            if (poll(&wait, 1, 1000) <= 0) return;
        }
    }
}

ByteString DeviceClient::receive(std::size_t count, int timeoutMs) {
    ByteString bytes;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (fd_ >= 0 && bytes.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) break;
        pollfd wait{fd_, POLLIN, 0};
        if (poll(&wait, 1, static_cast<int>(left)) <= 0) continue;
        std::uint8_t buffer[512];
        const ssize_t n = read(fd_, buffer, std::min(sizeof buffer, count - bytes.size()));
        if (n > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
}

ByteString textBytes(const std::string& text) { return ByteString(text.begin(), text.end()); }

namespace {

void putU16(ByteString& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void putU32(ByteString& out, std::uint32_t value) {
    putU16(out, static_cast<std::uint16_t>(value));
    putU16(out, static_cast<std::uint16_t>(value >> 16));
}

}  // namespace

ByteString command(std::uint16_t code, std::uint32_t parameter) {
    ByteString bytes;
    putU16(bytes, 1);
    putU16(bytes, code);
    putU32(bytes, parameter);
    return bytes;
}

ByteString dataPacket(std::uint32_t address, const ByteString& data, std::uint32_t flagsBit0,
                      std::uint32_t extraFlags) {
    const std::size_t pad = (4 - data.size() % 4) % 4;
    ByteString bytes;
    putU16(bytes, 0xF00D);
    putU16(bytes, 1);
    putU16(bytes, static_cast<std::uint16_t>(3 + (data.size() + 3) / 4));
    putU16(bytes, 0);
    putU32(bytes, address);
    putU32(bytes, 0);  // checksum, filled in below
    putU32(bytes, (flagsBit0 & 1) | static_cast<std::uint32_t>(pad << 1) | extraFlags);
    bytes.insert(bytes.end(), data.begin(), data.end());
    bytes.resize(bytes.size() + pad, 0);
    std::uint32_t crc = devsim::crc32Update(0, bytes.data(), 12);
    crc = devsim::crc32Update(crc, bytes.data() + 16, 4 + data.size());
    for (int i = 0; i < 4; ++i) bytes[12 + i] = static_cast<std::uint8_t>(crc >> (8 * i));
    return bytes;
}

std::uint32_t u32At(const ByteString& bytes, std::size_t offset) {
    if (bytes.size() < offset + 4) return 0xDEADBEEF;
    return static_cast<std::uint32_t>(bytes[offset]) | (bytes[offset + 1] << 8) |
           (bytes[offset + 2] << 16) | (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

std::uint16_t u16At(const ByteString& bytes, std::size_t offset) {
    if (bytes.size() < offset + 2) return 0xDEAD;
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

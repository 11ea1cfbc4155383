// readPacket over an arbitrary byte stream: the first input byte is the
// destination's capacity, the rest is what the device sends. Every packet is
// framed exactly (never a byte of the next one is taken), nothing is copied
// past the capacity, and the receive area agrees with the result.
#include <cstdint>
#include <cstring>

#include "protocol/boot_packet.h"
#include "serial/memory_port.h"
#include "serial/serial_port.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::int32_t capacity = data[0];
    feedMemoryPort(data + 1, size - 1);
    SerialPort port;
    port.handle = 1;
    PortLink link(&port);
    std::uint8_t destination[256 + 16];
    std::memset(destination, 0xA5, sizeof destination);
    std::size_t framed = 0;
    for (;;) {
        std::int32_t count = capacity;
        const LinkResult result = readPacket(&link, destination, count);
        FUZZ_CHECK(count >= 0 && count <= capacity);
        FUZZ_CHECK(destination[capacity] == 0xA5);  // nothing past the capacity
        if (result != LinkStatus::Ok && result != LinkStatus::Truncated) {
            FUZZ_CHECK(count == 0);
            FUZZ_CHECK(result == LinkStatus::PortError && result.osError > 0);
            break;
        }
        const ReceiveArea& area = link.receiveArea;
        FUZZ_CHECK(area.packetLength >= kHeaderBytes);
        FUZZ_CHECK(area.bytesReceived == area.packetLength);
        FUZZ_CHECK(result == (area.packetLength > count ? LinkStatus::Truncated : LinkStatus::Ok));
        FUZZ_CHECK(std::memcmp(destination, area.buffer, static_cast<std::size_t>(count)) == 0);
        framed += static_cast<std::size_t>(area.packetLength);
        FUZZ_CHECK(memoryPortBytesRead() == framed);
    }
    return 0;
}

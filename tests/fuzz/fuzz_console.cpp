// The version queries, the boot switch and a raw text exchange, one after the
// other, over an arbitrary stream from the device. Replies stay inside their
// buffers and NUL-terminated; a version text lies inside the link's reply.
#include <cstdint>
#include <cstring>

#include "protocol/boot_packet.h"
#include "protocol/console.h"
#include "serial/memory_port.h"
#include "serial/serial_port.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    feedMemoryPort(data, size);
    SerialPort port;
    port.handle = 1;
    PortLink link(&port);

    std::uint32_t version = 0;
    const LinkResult versionResult = queryBootVersion(&link, version);
    FUZZ_CHECK(versionResult == LinkStatus::Ok || versionResult == LinkStatus::TimedOut ||
               (versionResult == LinkStatus::PortError && versionResult.osError > 0));

    const char* text = queryAppVersion(&link);
    if (text != nullptr) {
        FUZZ_CHECK(text == link.appVersionReply + 7);
        FUZZ_CHECK(std::memchr(link.appVersionReply, '\0', sizeof link.appVersionReply) != nullptr);
        FUZZ_CHECK(std::strncmp(link.appVersionReply, "~Rv0000", 7) == 0);
    }

    (void)requestBootLoader(&link);
    FUZZ_CHECK(std::memchr(link.bootSwitchReply, '\0', sizeof link.bootSwitchReply) != nullptr);

    char reply[17];
    std::memset(reply, 0x5A, sizeof reply);
    std::int32_t length = 15;
    const LinkResult exchangeResult = exchangeText(&link, "~rv\r\n", 5, reply, length);
    FUZZ_CHECK(length >= 0 && length <= 15);
    FUZZ_CHECK(reply[16] == 0x5A);  // only capacity + 1 bytes are written
    if (!exchangeResult.ok()) FUZZ_CHECK(length == 0);
    return 0;
}

// The Windows build of the protocols through a Wine COM port, against the
// simulated device started by scripts/with-device.sh in its application.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "protocol/boot_packet.h"
#include "protocol/console.h"
#include "protocol/transfer.h"
#include "serial/serial_port.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The device's flash file, through Wine's mapping of the Unix root to Z:.
Bytes deviceFlash() {
    const char* folder = std::getenv("QUORVEL_DEVICE_DIR");
    std::ifstream file(std::string("Z:") + (folder != nullptr ? folder : "") + "/flash.bin",
                       std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TEST(WineDownload, ConsoleBootSwitchAndTransferIntoFlash) {
    const char* number = std::getenv("QUORVEL_DEVICE_COM");
    ASSERT_NE(number, nullptr) << "run through scripts/with-device.sh";
    SerialPort* port = createPort(std::atoi(number));
    ASSERT_NE(port->handle, kInvalidPortHandle);
    auto link = std::make_unique<PortLink>(PortLink{port});

    const char* version = queryAppVersion(link.get());
    ASSERT_NE(version, nullptr);
    EXPECT_STREQ(version, "wine-1.0\r\n");
    ASSERT_TRUE(requestBootLoader(link.get()));
    sleepMilliseconds(500);  // the device restarts into its boot loader
    std::uint32_t bootVersion = 0;
    ASSERT_EQ(queryBootVersion(link.get(), bootVersion), LinkStatus::Ok);
    EXPECT_EQ(bootVersion, 0x01020304u);

    ImageBlock block;
    block.targetAddress = 0x108000;
    block.byteCount = 30000;
    block.data.reset(new std::uint8_t[30000]);
    for (int i = 0; i < 30000; ++i) block.data[i] = static_cast<std::uint8_t>(i * 31 + (i >> 8));
    TransferSession session(port);
    EXPECT_TRUE(transferImage(&block, session, nullptr, 0xA5A50000u, nullptr).ok());
    EXPECT_EQ(session.sentBytes, 30000);

    const Bytes expected(block.data.get(), block.data.get() + block.byteCount);
    Bytes flash = deviceFlash();
    for (int attempt = 0; attempt < 100 && flash != expected; ++attempt) {
        sleepMilliseconds(20);  // the device saves its flash just after acknowledging
        flash = deviceFlash();
    }
    EXPECT_EQ(flash, expected);
    closePort(port);
}

}  // namespace

// A port that fails under the flashing job, through a Wine COM port served by
// the simulated device (scripts/with-device.sh, device in its boot loader):
// the device's port disappears, as a USB adapter's does when unplugged, and
// the next write fails. The job must report a lost port with the OS error,
// whatever number the error's code happens to show as.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "flashing/flash_job.h"
#include "platform/platform.h"

namespace {

std::string deviceFile(const char* name) {
    const char* folder = std::getenv("QUORVEL_DEVICE_DIR");
    return std::string("Z:") + (folder != nullptr ? folder : "") + "/" + name;
}

// Takes the device's port away and waits (bounded) until it is gone.
bool unplugDevice() {
    std::ofstream(deviceFile("control")) << "vanish\n";
    for (int attempt = 0; attempt < 200; ++attempt) {
        std::ifstream transcript(deviceFile("transcript.txt"));
        std::stringstream text;
        text << transcript.rdbuf();
        if (text.str().find("\nvanish\n") != std::string::npos) return true;
        sleepMilliseconds(25);
    }
    return false;
}

std::string comPort() {
    const char* number = std::getenv("QUORVEL_DEVICE_COM");
    return std::string("COM") + (number != nullptr ? number : "0");
}

struct Image {
    Image() {
        block.targetAddress = 0x108000;
        block.byteCount = 4000;
        block.data.reset(new std::uint8_t[4000]);
        for (int i = 0; i < 4000; ++i) block.data[i] = static_cast<std::uint8_t>(i * 13);
    }
    ImageBlock block;
};

}  // namespace

// Runs first: the device is there until the second data packet is acknowledged.
TEST(WinePortLost, UnpluggedBetweenDataPacketsIsALostPort) {
    ASSERT_NE(std::getenv("QUORVEL_DEVICE_DIR"), nullptr) << "run through scripts/with-device.sh";
    Image image;
    bool unplugged = false;
    FlashEvents events;
    events.progress = [&unplugged](std::int32_t sent, std::int32_t) {
        if (!unplugged && sent > 400) unplugged = unplugDevice();
    };
    const FlashResult result = flashDevice(comPort(), &image.block, 0xA5A50000u, events, nullptr);
    ASSERT_TRUE(unplugged);
    EXPECT_EQ(result.outcome, PortOutcome::PortLost);
    EXPECT_EQ(result.transfer.failure, TransferFailure::PortFailed);
    EXPECT_NE(result.osError, 0);
    // Wine reports error 21, shown as -9979 like the device's status 5.
    EXPECT_EQ(result.code(), result.osError - kBlockPortErrorOffset);
    EXPECT_EQ(result.sentBytes, 472);  // two packets of 236 bytes were acknowledged
}

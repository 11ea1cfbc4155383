// The image file's digest is the one sha256sum prints, also for a file larger
// than one read; an image held a moment by another station still loads.
#include "station/image_digest.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "station/station_image.h"

namespace {

TEST(ImageDigest, IsTheSha256OfTheFilesBytes) {
    const std::string path = ::testing::TempDir() + "quorvel-image-digest.bin";
    std::string hex, error;
    std::ofstream(path, std::ios::binary) << std::string(1000000, 'a');
    EXPECT_TRUE(fileSha256(path, hex, error)) << error;
    EXPECT_EQ(hex, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    std::remove(path.c_str());
    EXPECT_FALSE(fileSha256(path, hex, error));
    EXPECT_EQ(error, "No such file or directory");
}

// Another station examines the file (an exclusive lock) as this one starts.
TEST(StationImage, AFileHeldForAMomentIsReadOnceItIsFree) {
    const std::string path = ::testing::TempDir() + "quorvel-station-image.bin";
    std::ofstream(path, std::ios::binary) << std::string(4096, 'b');
    const int holder = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    std::thread release([holder] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        close(holder);
    });
    const CodeImage image = loadStationImage(path);
    release.join();
    EXPECT_EQ(image.outcome, ImageOutcome::Loaded);
    EXPECT_EQ(image.byteCount(), 4096);
    std::remove(path.c_str());
}

}  // namespace

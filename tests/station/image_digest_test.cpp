// The image file's digest is the one sha256sum prints, also for a file larger
// than one read.
#include "station/image_digest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

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

}  // namespace

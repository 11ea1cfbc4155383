// quorvel-cli opens an image whose file name is not valid UTF-8: the name's
// bytes reach the file system unchanged.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/cli/cli_process.h"

namespace {

TEST(CliImageName, BytesThatAreNotUtf8ReachTheFileSystemUnchanged) {
    char pattern[] = "/tmp/quorvel-cli-name-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string folder = pattern;
    // A valid "é", a lone 0xFF, and an overlong "/" that must not turn into one.
    const std::string image = folder + "/image-\xC3\xA9-\xFF-\xC0\xAF.bin";
    std::ofstream(image, std::ios::binary) << std::string(100, 'x');

    // The image opens, so the run gets as far as the port, which is absent:
    // status 4, where an image that cannot be opened gives 3.
    const CliOutcome run = runCli({"flash", "--port", "/dev/quorvel-no-such-port", image});
    EXPECT_EQ(run.status, 4) << run.err;
    std::filesystem::remove_all(folder);
}

}  // namespace

// SHA-256 of the system's library against the standard test vectors, natively
// and as a Windows program under Wine.
#include "platform/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string digestOf(const std::string& text) {
    Sha256 hash;
    hash.update(text.data(), text.size());
    return hash.finishHex();
}

TEST(Sha256, GivesTheStandardDigests) {
    EXPECT_EQ(digestOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(digestOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    // A million 'a', fed in pieces that cross the 64-byte blocks unevenly.
    const std::string as(1000000, 'a');
    Sha256 hash;
    std::size_t fed = 0;
    for (std::size_t piece = 0; fed < as.size(); ++piece) {
        const std::size_t size = std::min<std::size_t>((piece * 7919) % 4099, as.size() - fed);
        hash.update(as.data() + fed, size);
        fed += size;
    }
    EXPECT_EQ(hash.finishHex(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

}  // namespace

// SHA-256 from the system's cryptographic library: OpenSSL's libcrypto on
// Linux (sha256_openssl.cpp), CNG on Windows (sha256_cng.cpp). A digest that
// identifies an image or a record must not rest on a hash of our own making.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

// Incremental SHA-256 of the platform's cryptographic library.
class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void update(const void* data, std::size_t size);
    // 64 lower-case hex digits; call once. Empty when the library failed.
    std::string finishHex();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

namespace sha256_detail {

// The digest's bytes as lower-case hexadecimal.
inline std::string hexOf(const unsigned char* bytes, std::size_t count) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

}  // namespace sha256_detail

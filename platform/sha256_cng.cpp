// SHA-256 through Windows' Cryptography API: Next Generation (bcrypt.dll).
#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <algorithm>
#include <vector>

#include "platform/sha256.h"

namespace {

constexpr std::size_t kDigestBytes = 32;

bool succeeded(NTSTATUS status) { return status >= 0; }

}  // namespace

struct Sha256::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    std::vector<UCHAR> hashObject;  // the hash's working memory, owned by the caller
    bool failed = false;
};

Sha256::Sha256() : state_(new State) {
    State& s = *state_;
    DWORD objectSize = 0;
    ULONG got = 0;
    s.failed = !succeeded(BCryptOpenAlgorithmProvider(&s.algorithm, BCRYPT_SHA256_ALGORITHM,
                                                      nullptr, 0)) ||
               !succeeded(BCryptGetProperty(s.algorithm, BCRYPT_OBJECT_LENGTH,
                                            reinterpret_cast<PUCHAR>(&objectSize),
                                            sizeof objectSize, &got, 0));
    if (s.failed) return;
    s.hashObject.resize(objectSize);
    s.failed = !succeeded(
        BCryptCreateHash(s.algorithm, &s.hash, s.hashObject.data(), objectSize, nullptr, 0, 0));
}

Sha256::~Sha256() {
    if (state_->hash != nullptr) BCryptDestroyHash(state_->hash);
    if (state_->algorithm != nullptr) BCryptCloseAlgorithmProvider(state_->algorithm, 0);
}

void Sha256::update(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const UCHAR*>(data);
    // BCryptHashData takes a ULONG count: a larger buffer goes in pieces.
    while (!state_->failed && size > 0) {
        const ULONG piece = static_cast<ULONG>(std::min<std::size_t>(size, 0x7FFFFFFF));
        state_->failed =
            !succeeded(BCryptHashData(state_->hash, const_cast<PUCHAR>(bytes), piece, 0));
        bytes += piece;
        size -= piece;
    }
}

std::string Sha256::finishHex() {
    UCHAR digest[kDigestBytes];
    if (state_->failed || !succeeded(BCryptFinishHash(state_->hash, digest, sizeof digest, 0))) {
        state_->failed = true;
        return std::string();
    }
    state_->failed = true;  // finished: a second call gives nothing
    return sha256_detail::hexOf(digest, sizeof digest);
}

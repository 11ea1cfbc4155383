// A whole download (start command, negotiation, data packets, end packet)
// against an arbitrary device reply stream. The first four input bytes choose
// two block sizes; the rest is what the device sends. The result is always
// one of the documented codes and the progress never passes the total.
#include <cerrno>
#include <cstdint>
#include <memory>

#include "protocol/transfer.h"
#include "serial/memory_port.h"
#include "serial/serial_port.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

int lastPercent = -1;

int recordProgress(void*, std::int32_t percent) {
    FUZZ_CHECK(percent >= 0 && percent <= 100 && percent >= lastPercent);
    lastPercent = percent;
    return percent;
}

bool documented(const TransferResult& result) {
    // EIO: the reply stream ended, which the in-memory port reports as a hang-up.
    if (result.failure == TransferFailure::PortFailed) return result.osError == EIO;
    return result.failure != TransferFailure::StartNotSent &&
           result.failure != TransferFailure::Stopped && result.osError == 0;
}

std::unique_ptr<ImageBlock> makeBlock(std::uint32_t address, std::int32_t bytes) {
    auto block = std::make_unique<ImageBlock>();
    block->targetAddress = address;
    block->byteCount = bytes;
    block->data = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(bytes > 0 ? bytes : 1));
    for (std::int32_t i = 0; i < bytes; ++i) block->data[i] = static_cast<std::uint8_t>(i * 7);
    return block;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    // Up to 4 KiB per block, and a negative count now and then.
    const std::int32_t firstBytes = (data[0] | (data[1] << 8)) % 4096;
    const std::int32_t secondBytes = (data[2] | (data[3] << 8)) % 4096 - 8;
    std::unique_ptr<ImageBlock> first = makeBlock(0x108000, firstBytes);
    std::unique_ptr<ImageBlock> second = makeBlock(0x120000, secondBytes);
    first->next = second.get();

    feedMemoryPort(data + 4, size - 4);
    SerialPort port;
    port.handle = 1;
    TransferSession session(&port);
    lastPercent = -1;
    const TransferResult result =
        transferImage(first.get(), session, nullptr, 0xA5A50001u, &recordProgress);
    FUZZ_CHECK(documented(result));
    FUZZ_CHECK(session.sentBytes >= 0 && session.sentBytes <= session.totalBytes);
    if (result.ok()) FUZZ_CHECK(session.sentBytes == session.totalBytes);
    first->next = nullptr;
    return 0;
}

// One block of image data bound for a device address, chained into a list.
#pragma once

#include <cstdint>
#include <memory>

struct ImageBlock {
    std::uint32_t targetAddress = 0;       // device address of data[0]
    std::int32_t byteCount = 0;            // bytes held in data
    std::unique_ptr<std::uint8_t[]> data;  // the block's own copy of the bytes
    ImageBlock* next = nullptr;            // following block, null at the tail
};

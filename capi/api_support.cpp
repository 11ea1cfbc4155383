#include "capi/api_support.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "capi/result_values.h"

bool resultUsable(const quorvel_result* result) {
    return result == nullptr || result->size >= sizeof(quorvel_result);
}

int deliver(const quorvel_result& filled, quorvel_result* target) {
    if (target != nullptr) {
        const std::size_t size = target->size;
        std::memcpy(target, &filled, std::min(size, sizeof filled));
        target->size = size;
    }
    return filled.status;
}

int wrongArgument(quorvel_result* result, const std::string& detail) {
    if (!resultUsable(result)) return QUORVEL_STATUS_ARGUMENTS;
    return deliver(refusedResult(QUORVEL_STATUS_ARGUMENTS, QUORVEL_OUTCOME_BAD_ARGUMENTS,
                                 "wrong argument", detail),
                   result);
}

int badImage(quorvel_result* result, ImageOutcome outcome, const std::string& detail) {
    return deliver(refusedResult(QUORVEL_STATUS_IMAGE, QUORVEL_OUTCOME_BAD_IMAGE,
                                 imageOutcomeText(outcome), detail),
                   result);
}

int internalError(quorvel_result* result, const char* what) noexcept {
    try {
        if (resultUsable(result)) {
            deliver(refusedResult(QUORVEL_STATUS_REFUSED, QUORVEL_OUTCOME_INTERNAL_ERROR,
                                  "internal error", std::string("the library failed: ") + what),
                    result);
        }
    } catch (...) {
    }
    return QUORVEL_STATUS_REFUSED;
}

std::string hexAddress(std::uint64_t address) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%06" PRIX64, address);
    return text;
}

bool serialLayoutOf(int format, int width, std::uint32_t address, SerialLayout& layout,
                    std::string& error) {
    layout.address = address;
    switch (format) {
        case QUORVEL_SERIAL_U32LE:
            layout.format = SerialFormat::U32Le;
            return true;
        case QUORVEL_SERIAL_U32BE:
            layout.format = SerialFormat::U32Be;
            return true;
        case QUORVEL_SERIAL_ASCII:
            layout.format = SerialFormat::Ascii;
            layout.asciiWidth = width;
            if (width >= 1 && width <= kMostSerialDigits) return true;
            error = "serial_width must be 1 to 20 digits";
            return false;
    }
    error = "unknown serial_format " + std::to_string(format);
    return false;
}

int serialFormatNumber(SerialFormat format) {
    switch (format) {
        case SerialFormat::U32Le:
            return QUORVEL_SERIAL_U32LE;
        case SerialFormat::U32Be:
            return QUORVEL_SERIAL_U32BE;
        case SerialFormat::Ascii:
            return QUORVEL_SERIAL_ASCII;
    }
    return QUORVEL_SERIAL_NONE;
}

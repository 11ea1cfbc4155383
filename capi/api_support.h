// What the C API's entry points share: the image handle, the caller's result
// filled and its status returned, and the guard that keeps every exception
// of the C++ code below from reaching a C caller.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <string>

#include "capi/quorvel.h"
#include "flashing/device_session.h"
#include "image/code_image.h"
#include "image/serial_stamp.h"

struct quorvel_cancel {
    std::atomic<bool> requested{false};
};

struct quorvel_image {
    CodeImage image;
    // The file it was loaded from, as given (UTF-8), and the SHA-256 of that
    // file's bytes when it was loaded, for a station's records; "" for bytes.
    std::string path;
    std::string fileSha256;
};

// The simulated device restarts into its boot loader and stores an image at
// once; the boot-switch pause only needs to cover its restart.
constexpr FlashPauses kSimulatorPauses{150, 0};

// A result the library may write: none (NULL), or one whose size holds this layout.
bool resultUsable(const quorvel_result* result);
// Hands `filled` to the caller's struct, keeping its size, and returns the status.
int deliver(const quorvel_result& filled, quorvel_result* target);
int wrongArgument(quorvel_result* result, const std::string& detail);
int badImage(quorvel_result* result, ImageOutcome outcome, const std::string& detail);
int internalError(quorvel_result* result, const char* what) noexcept;

// Runs an entry point's body, turning an exception into a status.
template <typename Body>
int guarded(quorvel_result* result, Body body) noexcept {
    try {
        return body();
    } catch (const std::exception& failure) {
        return internalError(result, failure.what());
    } catch (...) {
        return internalError(result, "unknown failure");
    }
}

// "0x108010".
std::string hexAddress(std::uint64_t address);

// The serial number's layout from QUORVEL_SERIAL_* (not NONE), its width and
// address; false with the reason when they are wrong. serialFormatNumber is
// the other way: the QUORVEL_SERIAL_* of a layout's format.
bool serialLayoutOf(int format, int width, std::uint32_t address, SerialLayout& layout,
                    std::string& error);
int serialFormatNumber(SerialFormat format);

// The C API: a thin layer over flashing/ and image/. Every entry point
// catches what the C++ code below may throw, since no exception may cross
// into a C caller. Here: the version, texts, cancel tokens, the port
// listing, identify and flash; images in image_api.cpp, sessions in
// session_api.cpp, stations in station_api.cpp.
#include "capi/quorvel.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "capi/api_support.h"
#include "capi/result_text.h"
#include "capi/result_values.h"
#include "flashing/flash_request.h"
#include "flashing/messages.h"
#include "flashing/status.h"
#include "serial/port_listing.h"

namespace {

// Writes `text` into the caller's buffer; ARGUMENTS when it had to be cut.
int giveText(const std::string& text, char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) return QUORVEL_STATUS_ARGUMENTS;
    copyText(text, buffer, size);
    return text.size() < size ? QUORVEL_STATUS_OK : QUORVEL_STATUS_ARGUMENTS;
}

// A usb: name that matches several adapters is a wrong argument (false, the
// result filled); `unmatched` keeps what the listing said of one that matches
// none, for the result of its failed open.
bool portNameUsable(const char* port, std::string& unmatched, quorvel_result* result) {
    const PortNameDecision decision = decidePortName(port);
    if (decision.kind == PortNameDecision::Kind::Refuse) {
        wrongArgument(result, decision.text);
        return false;
    }
    if (decision.kind == PortNameDecision::Kind::TryUnmatched) unmatched = decision.text;
    return true;
}

quorvel_result withUnmatchedName(quorvel_result filled, const std::string& unmatched) {
    if (!unmatched.empty() && filled.outcome == QUORVEL_OUTCOME_PORT_NOT_OPENED) {
        copyText(unmatched + "; " + filled.detail, filled.detail, sizeof filled.detail);
    }
    return filled;
}

// The request the options make: OK, or the status of a refusal filled into `result`.
int requestOf(const char* port, const quorvel_image* image, const quorvel_flash_options& options,
              FlashRequest& request, quorvel_result* result) {
    request.port = port;
    request.firstBlock = image->image.first();
    request.downloadFlags = image->image.downloadFlags;
    request.pauses = options.pauses == QUORVEL_PAUSES_SIMULATOR ? kSimulatorPauses : FlashPauses{};
    if (options.serial_format == QUORVEL_SERIAL_NONE) return QUORVEL_STATUS_OK;
    SerialLayout layout;
    std::string error;
    if (!serialLayoutOf(options.serial_format, options.serial_width, options.serial_address, layout,
                        error)) {
        return wrongArgument(result, error);
    }
    request.serialLayout = layout;
    request.serialNumber = options.serial_number;
    const FlashRefusal refusal = checkFlashRequest(request);
    if (refusal.status == ResultStatus::BadImage) {
        return badImage(result, ImageOutcome::Incompatible, refusal.text);
    }
    if (refusal.status != ResultStatus::Ok) return wrongArgument(result, refusal.text);
    return QUORVEL_STATUS_OK;
}

int flashImage(const char* port, const quorvel_image* image, const quorvel_flash_options* given,
               quorvel_result* result) {
    if (!resultUsable(result)) return QUORVEL_STATUS_ARGUMENTS;
    quorvel_flash_options options;
    std::memset(&options, 0, sizeof options);
    if (given != nullptr) {
        if (given->size < sizeof options) {
            return wrongArgument(result, "options.size is smaller than quorvel_flash_options");
        }
        std::memcpy(&options, given, sizeof options);
    }
    if (port == nullptr || *port == '\0') return wrongArgument(result, "no port given");
    if (image == nullptr) return wrongArgument(result, "no image given");
    std::string unmatched;
    if (!portNameUsable(port, unmatched, result)) return QUORVEL_STATUS_ARGUMENTS;
    if (options.pauses != QUORVEL_PAUSES_DEVICE && options.pauses != QUORVEL_PAUSES_SIMULATOR) {
        return wrongArgument(result, "unknown pauses " + std::to_string(options.pauses));
    }

    FlashRequest request;
    if (const int refused = requestOf(port, image, options, request, result)) return refused;

    std::atomic<bool> neverStopped{false};
    std::atomic<bool>* stop =
        options.cancel != nullptr ? &options.cancel->requested : &neverStopped;
    const std::int64_t totalBytes = image->image.byteCount();
    if (stop->load()) {
        FlashRecord cancelled;
        cancelled.result.outcome = PortOutcome::Stopped;
        cancelled.status = outcomeStatus(PortOutcome::Stopped);
        cancelled.detail = jobDetailText(cancelled.result);
        return deliver(flashResult(cancelled, totalBytes), result);
    }
    FlashEvents events;
    if (options.progress != nullptr) {
        const quorvel_progress_fn progress = options.progress;
        void* const user = options.progress_user;
        events.progress = [progress, user](std::int32_t sent, std::int32_t total) {
            progress(user, sent, total);
        };
    }
    const FlashRecord flashed = flashPort(request, events, stop);
    return deliver(withUnmatchedName(flashResult(flashed, totalBytes), unmatched), result);
}

}  // namespace

extern "C" {

int quorvel_version(char* text, size_t size) {
    return guarded(nullptr, [&] { return giveText(QUORVEL_VERSION, text, size); });
}

int quorvel_result_text(int status, int code, char* text, size_t size) {
    return guarded(nullptr, [&] {
        const int given = giveText(statusCodeText(status, code), text, size);
        return statusFromNumber(status) ? given : QUORVEL_STATUS_ARGUMENTS;
    });
}

int quorvel_serial_format(const char* text, int* format, int* width) {
    if (text == nullptr || format == nullptr || width == nullptr) return QUORVEL_STATUS_ARGUMENTS;
    return guarded(nullptr, [&] {
        SerialLayout layout;
        std::string error;
        if (!parseSerialFormat(text, layout, error)) return QUORVEL_STATUS_ARGUMENTS;
        *format = serialFormatNumber(layout.format);
        *width = layout.asciiWidth;
        return QUORVEL_STATUS_OK;
    });
}

int quorvel_cancel_create(quorvel_cancel** token) {
    if (token == nullptr) return QUORVEL_STATUS_ARGUMENTS;
    *token = new (std::nothrow) quorvel_cancel;
    return *token != nullptr ? QUORVEL_STATUS_OK : QUORVEL_STATUS_REFUSED;
}

int quorvel_cancel_request(quorvel_cancel* token) {
    if (token == nullptr) return QUORVEL_STATUS_ARGUMENTS;
    token->requested.store(true);
    return QUORVEL_STATUS_OK;
}

int quorvel_cancel_reset(quorvel_cancel* token) {
    if (token == nullptr) return QUORVEL_STATUS_ARGUMENTS;
    token->requested.store(false);
    return QUORVEL_STATUS_OK;
}

int quorvel_cancel_destroy(quorvel_cancel* token) {
    delete token;
    return QUORVEL_STATUS_OK;
}

int quorvel_ports(quorvel_port* ports, size_t capacity, size_t* count) {
    if (count == nullptr || (capacity > 0 && ports == nullptr)) return QUORVEL_STATUS_ARGUMENTS;
    // The entries are an array of the struct this library knows: a caller
    // built against another layout would have them at another stride, with
    // fields the library cannot know past its own.
    if (capacity > 0 && ports[0].size != sizeof(quorvel_port)) return QUORVEL_STATUS_ARGUMENTS;
    return guarded(nullptr, [&] {
        const std::vector<ListedPort> present = listPorts();
        *count = present.size();
        for (std::size_t i = 0; i < std::min(capacity, present.size()); ++i) {
            quorvel_port* entry = &ports[i];
            std::memset(entry, 0, sizeof *entry);
            entry->size = sizeof *entry;
            copyText(present[i].name, entry->name, sizeof entry->name);
            copyText(present[i].description, entry->description, sizeof entry->description);
            copyText(present[i].usbId, entry->usb_id, sizeof entry->usb_id);
            copyText(present[i].serialNumber, entry->serial_number, sizeof entry->serial_number);
            copyText(present[i].location, entry->location, sizeof entry->location);
            entry->latency_timer_ms = present[i].latencyTimerMs;
        }
        return QUORVEL_STATUS_OK;
    });
}

int quorvel_identify(const char* port, quorvel_cancel* cancel, quorvel_result* result) {
    return guarded(result, [&] {
        if (port == nullptr || *port == '\0') return wrongArgument(result, "no port given");
        if (!resultUsable(result)) return QUORVEL_STATUS_ARGUMENTS;
        std::string unmatched;
        if (!portNameUsable(port, unmatched, result)) return QUORVEL_STATUS_ARGUMENTS;
        std::atomic<bool> neverStopped{false};
        const std::atomic<bool>* stop = cancel != nullptr ? &cancel->requested : &neverStopped;
        const quorvel_result filled = identifyResult(identifyDevice(port, stop), lookUpPort(port));
        return deliver(withUnmatchedName(filled, unmatched), result);
    });
}

int quorvel_flash(const char* port, const quorvel_image* image,
                  const quorvel_flash_options* options, quorvel_result* result) {
    return guarded(result, [&] { return flashImage(port, image, options, result); });
}

}  // extern "C"

/* The C API from C: one flash of the simulated device through quorvel.h, with
 * a serial number and progress, then the calls that must refuse at once.
 *   capi_flash_test <port> <the simulator's flash file>
 * The simulator runs its application, so the boot switch happens too. */
#define _POSIX_C_SOURCE 200809L /* nanosleep under strict C99 */

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "capi/quorvel.h"
#include "c_check.h"

enum { kImageBytes = 5000, kSerialOffset = 0x10 };
static const uint32_t kCodeStart = 0x108000u;

struct progress_seen {
    int calls;
    int64_t last_sent;
    int64_t total;
    int went_back;
};

static void on_progress(void* user, int64_t sent, int64_t total) {
    struct progress_seen* seen = (struct progress_seen*)user;
    if (sent < seen->last_sent || (seen->calls > 0 && total != seen->total)) seen->went_back = 1;
    seen->calls++;
    seen->last_sent = sent;
    seen->total = total;
}

/* True once the file holds exactly `expected`; the simulator writes it just
 * after acknowledging the end packet, so it is waited for (at most 5 s). */
static int flash_file_equals(const char* path, const uint8_t* expected, size_t size) {
    static uint8_t found[kImageBytes + 1];
    for (int attempt = 0; attempt < 250; ++attempt) {
        FILE* file = fopen(path, "rb");
        if (file != NULL) {
            size_t read = fread(found, 1, sizeof found, file);
            fclose(file);
            if (read == size && memcmp(found, expected, size) == 0) return 1;
        }
        pause_briefly();
    }
    return 0;
}

static void check_flash(const char* port, const char* flash_file) {
    static uint8_t bytes[kImageBytes];
    for (int i = 0; i < kImageBytes; ++i) bytes[i] = (uint8_t)(i * 7 + 3);

    quorvel_result result;
    result.size = sizeof result;
    quorvel_image* image = NULL;
    CHECK(quorvel_image_from_bytes(bytes, sizeof bytes, kCodeStart, &image, &result) == 0);
    CHECK(result.ok == 1 && result.total_bytes == kImageBytes);

    struct progress_seen seen = {0, 0, 0, 0};
    quorvel_flash_options options;
    memset(&options, 0, sizeof options);
    options.size = sizeof options;
    options.progress = on_progress;
    options.progress_user = &seen;
    options.serial_format = QUORVEL_SERIAL_U32BE;
    options.serial_address = kCodeStart + kSerialOffset;
    options.serial_number = 0x01020304u;
    options.pauses = QUORVEL_PAUSES_SIMULATOR;

    const int status = quorvel_flash(port, image, &options, &result);
    if (status != 0) fprintf(stderr, "flash: status %d: %s\n", status, result.detail);
    CHECK(status == QUORVEL_STATUS_OK && result.status == QUORVEL_STATUS_OK && result.ok == 1);
    CHECK(result.outcome == QUORVEL_OUTCOME_DONE && result.code == 0 && result.os_error == 0);
    CHECK(result.bytes == kImageBytes && result.seconds > 0);
    CHECK(strcmp(result.device, port) == 0 && result.usb_id[0] == '\0');
    CHECK(strncmp(result.device_before, "app ", 4) == 0);
    CHECK(strncmp(result.device_after, "boot v", 6) == 0);
    CHECK(result.message[0] == '\0' && result.detail[0] == '\0');
    CHECK(seen.calls > 1 && !seen.went_back && seen.last_sent == kImageBytes &&
          seen.total == kImageBytes);

    /* The board's copy carries the number; the image itself is unchanged. */
    uint8_t stamped[kImageBytes];
    memcpy(stamped, bytes, sizeof stamped);
    stamped[kSerialOffset] = 1;
    stamped[kSerialOffset + 1] = 2;
    stamped[kSerialOffset + 2] = 3;
    stamped[kSerialOffset + 3] = 4;
    CHECK(flash_file_equals(flash_file, stamped, sizeof stamped));

    /* A set token ends a flash before the port is touched. */
    quorvel_cancel* cancel = NULL;
    CHECK(quorvel_cancel_create(&cancel) == 0);
    CHECK(quorvel_cancel_request(cancel) == 0);
    options.cancel = cancel;
    options.serial_format = QUORVEL_SERIAL_NONE;
    CHECK(quorvel_flash(port, image, &options, &result) == QUORVEL_STATUS_CANCELLED);
    CHECK(result.outcome == QUORVEL_OUTCOME_CANCELLED && result.ok == 0);
    quorvel_cancel_destroy(cancel);

    /* A session names its port once; its own cancel ends its calls until reset. */
    quorvel_session* session = NULL;
    CHECK(quorvel_session_create(port, &session) == 0);
    CHECK(quorvel_session_identify(session, &result) == QUORVEL_STATUS_OK);
    CHECK(strncmp(result.device_before, "boot v", 6) == 0);
    CHECK(quorvel_session_cancel(session) == 0);
    CHECK(quorvel_session_flash(session, image, NULL, &result) == QUORVEL_STATUS_CANCELLED);
    CHECK(quorvel_session_reset(session) == 0);
    CHECK(quorvel_session_identify(session, &result) == QUORVEL_STATUS_OK);
    quorvel_session_destroy(session);

    /* A serial number outside the image, or too wide for its format. */
    options.cancel = NULL;
    options.serial_format = QUORVEL_SERIAL_U32LE;
    options.serial_address = kCodeStart + kImageBytes - 2;
    CHECK(quorvel_flash(port, image, &options, &result) == QUORVEL_STATUS_IMAGE);
    options.serial_format = QUORVEL_SERIAL_ASCII;
    options.serial_width = 3;
    options.serial_address = kCodeStart;
    options.serial_number = 1000;
    CHECK(quorvel_flash(port, image, &options, &result) == QUORVEL_STATUS_ARGUMENTS);

    quorvel_image_destroy(image);
}

static void check_refusals(void) {
    quorvel_result result;
    result.size = sizeof result;
    quorvel_image* image = NULL;
    static const uint8_t byte = 0;

    /* Serial formats as the command line reads them, and nothing else. */
    int format = -1;
    int width = -1;
    CHECK(quorvel_serial_format("u32be", &format, &width) == QUORVEL_STATUS_OK);
    CHECK(format == QUORVEL_SERIAL_U32BE && width == 0);
    CHECK(quorvel_serial_format("ascii:20", &format, &width) == QUORVEL_STATUS_OK);
    CHECK(format == QUORVEL_SERIAL_ASCII && width == 20);
    CHECK(quorvel_serial_format("ascii:21", &format, &width) == QUORVEL_STATUS_ARGUMENTS);
    CHECK(quorvel_serial_format("U32LE", &format, &width) == QUORVEL_STATUS_ARGUMENTS);
    CHECK(quorvel_serial_format(NULL, &format, &width) == QUORVEL_STATUS_ARGUMENTS);

    /* Images: no bytes, or bytes beyond the CODE area's either end. */
    CHECK(quorvel_image_from_bytes(&byte, 0, kCodeStart, &image, &result) == QUORVEL_STATUS_IMAGE);
    CHECK(quorvel_image_from_bytes(&byte, 1, kCodeStart - 1, &image, &result) ==
          QUORVEL_STATUS_IMAGE);
    CHECK(quorvel_image_from_bytes(&byte, 2, 0x13BFFFu, &image, &result) == QUORVEL_STATUS_IMAGE);
    CHECK(result.outcome == QUORVEL_OUTCOME_BAD_IMAGE && image == NULL && result.detail[0] != '\0');
    CHECK(quorvel_image_from_bytes(&byte, 1, 0x13BFFFu, &image, &result) == QUORVEL_STATUS_OK);
    quorvel_image* missing = NULL;
    CHECK(quorvel_image_load("no such file.bin", &missing, &result) == QUORVEL_STATUS_IMAGE);
    CHECK(missing == NULL && result.outcome == QUORVEL_OUTCOME_BAD_IMAGE);

    /* Wrong arguments, and a result struct too small to be written. */
    CHECK(quorvel_flash(NULL, image, NULL, &result) == QUORVEL_STATUS_ARGUMENTS);
    CHECK(quorvel_flash("COM5", NULL, NULL, NULL) == QUORVEL_STATUS_ARGUMENTS);
    quorvel_result small;
    small.size = sizeof small - 1;
    small.ok = 7;
    CHECK(quorvel_identify("COM5", NULL, &small) == QUORVEL_STATUS_ARGUMENTS && small.ok == 7);

    /* Port entries at a stride other than the library's own struct. */
    quorvel_port listed[2];
    size_t count = 77;
    memset(listed, 0, sizeof listed);
    listed[0].size = sizeof listed[0] + 8;
    CHECK(quorvel_ports(listed, 2, &count) == QUORVEL_STATUS_ARGUMENTS && count == 77);
    listed[0].size = sizeof listed[0] - 1;
    CHECK(quorvel_ports(listed, 2, &count) == QUORVEL_STATUS_ARGUMENTS && count == 77);
    listed[0].size = sizeof listed[0];
    listed[1].size = sizeof listed[1];
    CHECK(quorvel_ports(listed, 2, &count) == QUORVEL_STATUS_OK);

    /* Texts: the same code means the port under status 4, the device under 1. */
    char text[256];
    CHECK(quorvel_version(text, sizeof text) == 0 && text[0] >= '0' && text[0] <= '9');
    CHECK(quorvel_version(text, 2) == QUORVEL_STATUS_ARGUMENTS);
    CHECK(quorvel_result_text(4, -9978, text, sizeof text) == 0 && strstr(text, "(error 22)"));
    CHECK(quorvel_result_text(1, -9978, text, sizeof text) == 0 && strstr(text, "status 2"));
    CHECK(quorvel_result_text(77, 0, text, sizeof text) == QUORVEL_STATUS_ARGUMENTS);
    quorvel_image_destroy(image);
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: capi_flash_test <port> <flash file>\n");
        return 2;
    }
    check_flash(argv[1], argv[2]);
    check_refusals();
    if (failures > 0) fprintf(stderr, "%d checks failed\n", failures);
    return failures > 0 ? 1 : 0;
}

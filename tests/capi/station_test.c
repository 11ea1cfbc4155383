/* A station through quorvel.h from C: two slots, each with a board in its
 * boot loader, both flashed as units with serial numbers from a file and
 * recorded in a log; then stopped, and ended. Then the options' sizes: the
 * layout before the database's fields still starts a station. (Python's
 * tests refuse starts.)
 *   capi_station_test <port 1> <flash file 1> <port 2> <flash file 2>
 * The image, the log and the serial-number file go beside the first flash file. */
#define _POSIX_C_SOURCE 200809L /* nanosleep under strict C99 */

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "capi/quorvel.h"
#include "c_check.h"

enum { kImageBytes = 6000, kSerialOffset = 0x10, kSlots = 2, kMaxRecords = 8, kPathBytes = 1024 };
static const uint32_t kCodeStart = 0x108000u;

static uint8_t image_bytes[kImageBytes];
static char folder[kPathBytes];

/* What the events said. */
static char records[kMaxRecords][8192];
static int record_count = 0;
static uint64_t slot_serial[kSlots];
static int slot_results[kSlots];
static int slot_shown_pass[kSlots];

static void path_of(const char* name, char* path) {
    snprintf(path, kPathBytes, "%s%s", folder, name);
}

static long read_file(const char* path, char* buffer, size_t size) {
    FILE* file = fopen(path, "rb");
    if (file == NULL) return -1;
    const size_t read = fread(buffer, 1, size - 1, file);
    fclose(file);
    buffer[read] = '\0';
    return (long)read;
}

static void write_file(const char* path, const void* data, size_t size) {
    FILE* file = fopen(path, "wb");
    CHECK(file != NULL && fwrite(data, 1, size, file) == size);
    if (file != NULL) fclose(file);
}

/* True once the board's flash holds the image with `serial` (little-endian at
 * kSerialOffset); the simulator writes it just after the end packet. */
static int flash_holds(const char* path, uint64_t serial) {
    static uint8_t expected[kImageBytes];
    static char found[kImageBytes + 2];
    memcpy(expected, image_bytes, sizeof expected);
    for (int i = 0; i < 4; ++i) expected[kSerialOffset + i] = (uint8_t)(serial >> (8 * i));
    for (int attempt = 0; attempt < 250; ++attempt) {
        if (read_file(path, found, sizeof found) == kImageBytes &&
            memcmp(found, expected, kImageBytes) == 0) {
            return 1;
        }
        pause_briefly();
    }
    return 0;
}

static void take(const quorvel_station_event* event, const char* const* ports) {
    if (event->kind == QUORVEL_EVENT_SLOT || event->kind == QUORVEL_EVENT_RECORD) {
        CHECK(event->slot < kSlots && strcmp(event->port, ports[event->slot]) == 0);
    }
    if (event->kind == QUORVEL_EVENT_SLOT && event->state == QUORVEL_SLOT_PASSED) {
        CHECK(strcmp(event->state_text, "PASS") == 0 && event->has_unit && event->has_serial);
        slot_shown_pass[event->slot % kSlots] = 1;
    }
    if (event->kind != QUORVEL_EVENT_RECORD) return;
    CHECK(event->logged == 1 && event->record_length == strlen(event->record));
    CHECK(event->has_unit && event->has_serial);
    if (record_count < kMaxRecords) strcpy(records[record_count++], event->record);
    if (strstr(event->record, "{\"event\":\"result\"") == event->record) {
        CHECK(strstr(event->record, "\"ok\":true") != NULL);
        CHECK(strstr(event->record, "\"station\":\"capi-test\"") != NULL);
        /* Loaded from a file: the records carry that file's digest. */
        CHECK(strstr(event->record, "\"image_file_sha256\":\"\"") == NULL);
        slot_results[event->slot % kSlots] += 1;
        slot_serial[event->slot % kSlots] = event->serial;
    }
}

static quorvel_station_options station_options(const char* const* ports, const quorvel_image* image,
                                               const char* log, const char* serials) {
    quorvel_station_options options;
    memset(&options, 0, sizeof options);
    options.size = sizeof options;
    options.ports = ports;
    options.port_count = kSlots;
    options.image = image;
    options.log_path = log;
    options.serial_file = serials;
    options.serial_format = QUORVEL_SERIAL_U32LE;
    options.serial_address = kCodeStart + kSerialOffset;
    options.station_name = "capi-test";
    options.pauses = QUORVEL_PAUSES_SIMULATOR;
    return options;
}

/* Takes events until ENDED (at most 60 s), stopping once both slots have passed. */
static int run_until_ended(quorvel_station* station, const char* const* ports,
                           quorvel_station_event* event) {
    const time_t deadline = time(NULL) + 60;
    int stopped = 0;
    while (time(NULL) < deadline) {
        event->size = sizeof *event;
        CHECK(quorvel_station_next_event(station, event, 200) == QUORVEL_STATUS_OK);
        take(event, ports);
        if (event->kind == QUORVEL_EVENT_ENDED) return 1;
        if (!stopped && slot_results[0] && slot_results[1]) {
            CHECK(quorvel_station_stop(station) == QUORVEL_STATUS_OK);
            stopped = 1;
        }
    }
    quorvel_station_abort(station);
    return 0;
}

static void check_log(const char* log) {
    static char text[65536];
    CHECK(read_file(log, text, sizeof text) > 0);
    int lines = 0, starts = 0;
    for (const char* at = text; (at = strchr(at, '\n')) != NULL; ++at) ++lines;
    for (const char* at = text; (at = strstr(at, "{\"event\":\"start\"")) != NULL; ++at) ++starts;
    /* A start and a result record per unit, each as its event showed it. */
    CHECK(lines == 4 && starts == 2 && record_count == 4);
    for (int i = 0; i < record_count; ++i) CHECK(strstr(text, records[i]) != NULL);
}

static void check_station(const char* const* ports, const char* const* flash_files) {
    char image_path[kPathBytes], log[kPathBytes], serials[kPathBytes], text[64];
    path_of("image.bin", image_path);
    path_of("station.log", log);
    path_of("serial.txt", serials);
    write_file(image_path, image_bytes, sizeof image_bytes);
    write_file(serials, "1000\n", 5);

    quorvel_result result;
    result.size = sizeof result;
    quorvel_image* image = NULL;
    CHECK(quorvel_image_load(image_path, &image, &result) == QUORVEL_STATUS_OK);
    const quorvel_station_options options = station_options(ports, image, log, serials);
    quorvel_station* station = NULL;
    const int status = quorvel_station_create(&options, &station, &result);
    if (status != 0) fprintf(stderr, "create: status %d: %s\n", status, result.detail);
    CHECK(status == QUORVEL_STATUS_OK && station != NULL && result.ok == 1);
    quorvel_image_destroy(image); /* the station holds a copy */
    if (station == NULL) return;

    static quorvel_station_event event;
    CHECK(run_until_ended(station, ports, &event));
    CHECK(event.kind == QUORVEL_EVENT_ENDED && event.status == QUORVEL_STATUS_OK);
    CHECK(event.passed == 2 && event.failed == 0);
    /* Once ended, it says so at once, however long the caller would wait. */
    const time_t asked = time(NULL);
    CHECK(quorvel_station_next_event(station, &event, 30000) == QUORVEL_STATUS_OK);
    CHECK(event.kind == QUORVEL_EVENT_ENDED && time(NULL) - asked <= 1);
    CHECK(quorvel_station_abort(station) == QUORVEL_STATUS_OK);
    CHECK(quorvel_station_next_event(station, &event, 0) == 0 && event.status == 0);
    CHECK(quorvel_station_destroy(station) == QUORVEL_STATUS_OK);
    CHECK(quorvel_station_destroy(NULL) == QUORVEL_STATUS_OK);
    CHECK(quorvel_station_create(NULL, &station, NULL) == QUORVEL_STATUS_ARGUMENTS && !station);

    CHECK(slot_results[0] == 1 && slot_results[1] == 1);
    CHECK(slot_shown_pass[0] && slot_shown_pass[1]);
    CHECK(slot_serial[0] + slot_serial[1] == 2001 && slot_serial[0] != slot_serial[1]);
    check_log(log);
    CHECK(read_file(serials, text, sizeof text) == 5 && strcmp(text, "1002\n") == 0);
    for (int slot = 0; slot < kSlots; ++slot) {
        CHECK(flash_holds(flash_files[slot], slot_serial[slot]));
    }
}

/* Options of the size a program built before the database's fields passes:
 * accepted, with what lies past that size (here a pool, which would need a
 * database) never read. A size between the two layouts is refused. */
static void check_option_sizes(quorvel_image* image) {
    char absent[kPathBytes];
    path_of("absent-port", absent); /* an absent port is waited for: no board is touched */
    const char* const ports[1] = {absent};
    quorvel_station_options options = station_options(ports, image, NULL, NULL);
    options.port_count = 1;
    options.serial_format = QUORVEL_SERIAL_NONE;
    options.serial_pool = "lot";
    options.serial_lease = 5;
    quorvel_result result;
    result.size = sizeof result;
    quorvel_station* station = NULL;

    /* With every field read, a pool without a database is a wrong option. */
    CHECK(quorvel_station_create(&options, &station, &result) == QUORVEL_STATUS_ARGUMENTS);
    CHECK(station == NULL && strstr(result.detail, "db_url") != NULL);
    options.size = offsetof(quorvel_station_options, db_url) + 1;
    CHECK(quorvel_station_create(&options, &station, &result) == QUORVEL_STATUS_ARGUMENTS);
    CHECK(station == NULL && strstr(result.detail, "options.size") != NULL);

    options.size = offsetof(quorvel_station_options, db_url);
    const int status = quorvel_station_create(&options, &station, &result);
    if (status != 0) fprintf(stderr, "old size: status %d: %s\n", status, result.detail);
    CHECK(status == QUORVEL_STATUS_OK && station != NULL);
    if (station == NULL) return;
    CHECK(quorvel_station_stop(station) == QUORVEL_STATUS_OK);
    static quorvel_station_event event;
    const time_t deadline = time(NULL) + 30;
    do {
        event.size = sizeof event;
        CHECK(quorvel_station_next_event(station, &event, 200) == QUORVEL_STATUS_OK);
    } while (event.kind != QUORVEL_EVENT_ENDED && time(NULL) < deadline);
    CHECK(event.kind == QUORVEL_EVENT_ENDED && event.status == QUORVEL_STATUS_OK);
    CHECK(quorvel_station_destroy(station) == QUORVEL_STATUS_OK);
}

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: capi_station_test <port 1> <flash 1> <port 2> <flash 2>\n");
        return 2;
    }
    const char* const ports[kSlots] = {argv[1], argv[3]};
    const char* const flash_files[kSlots] = {argv[2], argv[4]};
    for (int i = 0; i < kImageBytes; ++i) image_bytes[i] = (uint8_t)(i * 11 + 7);
    /* The folder of the first flash file, with its separator. */
    snprintf(folder, sizeof folder, "%s", argv[2]);
    char* end = folder + strlen(folder);
    while (end > folder && end[-1] != '/' && end[-1] != '\\') --end;
    *end = '\0';

    check_station(ports, flash_files);
    quorvel_result result;
    result.size = sizeof result;
    quorvel_image* image = NULL;
    CHECK(quorvel_image_from_bytes(image_bytes, sizeof image_bytes, kCodeStart, &image, &result) ==
          QUORVEL_STATUS_OK);
    check_option_sizes(image);
    quorvel_image_destroy(image);
    if (failures > 0) fprintf(stderr, "%d checks failed\n", failures);
    return failures > 0 ? 1 : 0;
}

/*
 * libquorvel: flashes a firmware image into a device over a serial port, for
 * test sequencers and programs in other languages. C99 and C++.
 *
 * Every function returns a status, the same numbers as quorvel-cli's exit
 * statuses (QUORVEL_STATUS_*). Functions that talk to a device, or that can
 * fail for a reason worth showing, also fill a quorvel_result the caller owns;
 * set its size field first:
 *
 *     quorvel_result result;
 *     result.size = sizeof result;
 *
 * The library keeps no global state: sessions on different threads share
 * nothing but what the caller hands to both (an image, a cancel token).
 * Text is UTF-8.
 */
#ifndef QUORVEL_H
#define QUORVEL_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(QUORVEL_BUILDING_LIBRARY)
#define QUORVEL_API __declspec(dllexport)
#else
#define QUORVEL_API __declspec(dllimport)
#endif
#else
#define QUORVEL_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Statuses: what every function returns, and quorvel_result.status. */
#define QUORVEL_STATUS_OK 0
#define QUORVEL_STATUS_REFUSED 1   /* the device refused (switch, data), or the transfer failed */
#define QUORVEL_STATUS_ARGUMENTS 2 /* a null pointer, a wrong size field, an unknown option */
#define QUORVEL_STATUS_IMAGE 3     /* the image cannot be used */
#define QUORVEL_STATUS_NO_DEVICE 4 /* no device answered; the port cannot be opened or was lost */
#define QUORVEL_STATUS_RECORDS 5   /* a station's log or serial numbers cannot be used */
#define QUORVEL_STATUS_DATABASE 6  /* the line's database cannot be used */
#define QUORVEL_STATUS_CANCELLED 130

/* What happened, finer than the status (quorvel_result.outcome). */
#define QUORVEL_OUTCOME_DONE 0
#define QUORVEL_OUTCOME_PORT_NOT_OPENED 1 /* absent, or refused by the system */
#define QUORVEL_OUTCOME_PORT_IN_USE 2     /* another program holds the port */
#define QUORVEL_OUTCOME_NO_DEVICE 3       /* nothing answered */
#define QUORVEL_OUTCOME_PORT_LOST 4       /* did not open again, or failed during the transfer */
#define QUORVEL_OUTCOME_SWITCH_REFUSED 5  /* the application refused the boot switch */
#define QUORVEL_OUTCOME_NO_BOOT_LOADER 6  /* the switch was accepted, no boot loader answered */
#define QUORVEL_OUTCOME_TRANSFER_FAILED 7 /* the device refused data, or stopped answering */
#define QUORVEL_OUTCOME_CANCELLED 8
#define QUORVEL_OUTCOME_BAD_IMAGE 9
#define QUORVEL_OUTCOME_BAD_ARGUMENTS 10
#define QUORVEL_OUTCOME_INTERNAL_ERROR 11 /* the library failed (out of memory); status 1 */
#define QUORVEL_OUTCOME_RECORDS 12        /* a station's log or serial-number file; status 5 */
#define QUORVEL_OUTCOME_DATABASE 13       /* a station's line database; status 6 */

/* The binary layout of the structs below; the shared library's SOVERSION. */
#define QUORVEL_ABI_VERSION 1

typedef struct quorvel_image quorvel_image;
typedef struct quorvel_cancel quorvel_cancel;

/*
 * How an operation ended: the keys of a port entry of quorvel-cli's JSON.
 * Set size to sizeof(quorvel_result) before the call; the library writes no
 * byte past it. Texts that do not fit are cut at a character boundary.
 */
typedef struct quorvel_result {
    size_t size;
    int ok;            /* 1 when the operation succeeded */
    int status;        /* QUORVEL_STATUS_*, as returned */
    int outcome;       /* QUORVEL_OUTCOME_* */
    int code;          /* the transfer's result code, as the dialog shows it; 0 when none */
    int os_error;      /* the OS error of a failed open or of a port lost; else 0 */
    char message[256]; /* the dialog's message ("Communication Error \n-9978"); "" on success */
    char detail[512];  /* why, on one line; "" for a plain success */
    char device_before[128]; /* "boot v1.2.3.4", "app <version text>" or "no device" */
    char device_after[128];
    int64_t bytes;       /* data bytes the device acknowledged */
    double seconds;      /* the transfer's duration */
    int64_t total_bytes; /* the image's data bytes */
    /* The port opened: the name given, or the one a usb: name resolved to
     * ("" when it matched no adapter); and its adapter's USB identity, "" when
     * the port is not on USB. */
    char device[256];
    char usb_id[16];
    char serial_number[128];
} quorvel_result;

/* The library's version, "2.0.0.1". */
QUORVEL_API int quorvel_version(char* text, size_t size);

/*
 * What a status and a code mean, for a person: the status alone when code is
 * 0, else what the code means under that status (status 4 with code -9978 is
 * OS error 22 during the transfer; status 1 with code -9978 a damaged packet).
 * QUORVEL_STATUS_ARGUMENTS for a status this library does not return.
 */
QUORVEL_API int quorvel_result_text(int status, int code, char* text, size_t size);

/* ---- Cancel tokens ------------------------------------------------------ */

/*
 * A flag that ends the operations it is given to: within 200 ms, with the
 * port closed and free. quorvel_cancel_request may be called from any
 * thread, also while an operation runs; a token stays set until reset, so an
 * operation started with a set token ends at once with status 130.
 */
QUORVEL_API int quorvel_cancel_create(quorvel_cancel** token);
QUORVEL_API int quorvel_cancel_request(quorvel_cancel* token);
QUORVEL_API int quorvel_cancel_reset(quorvel_cancel* token);
/* Frees the token; no operation may still be using it. Accepts NULL. */
QUORVEL_API int quorvel_cancel_destroy(quorvel_cancel* token);

/* ---- Images ------------------------------------------------------------- */

/*
 * Loads an image file for the CODE area by quorvel-cli's rules: Intel HEX
 * when named .hex or when it reads as HEX, otherwise a raw binary of at most
 * 212 992 bytes. On POSIX the path is the file name's bytes. Status 3 with
 * the reason in result (may be NULL) when the file cannot be used. The image
 * keeps the path and the SHA-256 of the file as it was read, for the records
 * of a station that flashes it.
 */
QUORVEL_API int quorvel_image_load(const char* path, quorvel_image** image, quorvel_result* result);

/*
 * An image of `size` bytes for device address `address`, which with the last
 * byte must lie in the CODE area (0x108000 to 0x13BFFF); status 3 otherwise,
 * and for no bytes at all. The bytes are copied.
 */
QUORVEL_API int quorvel_image_from_bytes(const void* data, size_t size, uint32_t address,
                                         quorvel_image** image, quorvel_result* result);

/* The image's data bytes. */
QUORVEL_API int quorvel_image_bytes(const quorvel_image* image, int64_t* bytes);

/* Frees the image; no flash may still be using it. Accepts NULL. */
QUORVEL_API int quorvel_image_destroy(quorvel_image* image);

/* ---- Ports and devices -------------------------------------------------- */

/* One serial port present, with what the system knows of it. */
typedef struct quorvel_port {
    size_t size;             /* set to sizeof(quorvel_port) in every entry */
    char name[256];          /* what the port argument of the calls below takes */
    char description[256];   /* may be "" */
    char usb_id[16];         /* "VID:PID" in hexadecimal; "" when not a USB device */
    char serial_number[128]; /* the USB serial number; may be "" */
    char location[128];      /* where the device sits (USB bus and ports); may be "" */
    int latency_timer_ms;    /* an FTDI adapter's latency timer; -1 when not known */
} quorvel_port;

/*
 * Lists the ports present without opening them: fills up to `capacity`
 * entries and sets `count` to the number of ports present, which may be more
 * (call again with room for them). The entries are an array of this header's
 * quorvel_port: the first entry's size must be sizeof(quorvel_port), neither
 * smaller nor larger (the library cannot know what lies past the struct it
 * knows), else status 2 and nothing is written. Each entry filled gets its
 * size set.
 */
QUORVEL_API int quorvel_ports(quorvel_port* ports, size_t capacity, size_t* count);

/*
 * Opens the port, asks what answers there and closes it: device_before and
 * device_after of result name it. A port is "COM5" (on Linux the link com5
 * of the folder QUORVEL_PORT_DIR names), a device path such as /dev/ttyUSB0
 * or \\.\COM5, or a USB adapter by its identity, looked up at every open:
 * "usb:SERIAL" or "usb:VID:PID" (status 2 when that matches several
 * adapters). cancel may be NULL.
 */
QUORVEL_API int quorvel_identify(const char* port, quorvel_cancel* cancel, quorvel_result* result);

/* ---- Flashing ----------------------------------------------------------- */

/*
 * Told the data bytes the device has acknowledged and the image's total after
 * every data packet. It runs on the thread that called quorvel_flash, while
 * the port is in use: return quickly, and do not flash from it.
 */
typedef void (*quorvel_progress_fn)(void* user, int64_t sent_bytes, int64_t total_bytes);

#define QUORVEL_SERIAL_NONE 0  /* no serial number is written */
#define QUORVEL_SERIAL_U32LE 1 /* a 32-bit little-endian word */
#define QUORVEL_SERIAL_U32BE 2 /* a 32-bit big-endian word */
#define QUORVEL_SERIAL_ASCII 3 /* serial_width decimal digits, zero-padded */

/* A serial number's format as quorvel-cli's --serial-format reads it,
 * "u32le", "u32be" or "ascii:W" (W from 1 to 20): its QUORVEL_SERIAL_* in
 * *format and its width in *width (0 but for ascii). QUORVEL_STATUS_ARGUMENTS
 * for any other text. */
QUORVEL_API int quorvel_serial_format(const char* text, int* format, int* width);

/* The pauses of a job: the device's own (3 s after the boot switch, 7 s
 * after the transfer), or short ones for the simulator, which restarts and
 * stores at once. Never use the short ones with a real device. */
#define QUORVEL_PAUSES_DEVICE 0
#define QUORVEL_PAUSES_SIMULATOR 1

/* Options of a flash; zero means the default. Set size to sizeof(quorvel_flash_options). */
typedef struct quorvel_flash_options {
    size_t size;
    quorvel_progress_fn progress; /* may be NULL */
    void* progress_user;          /* handed back to progress */
    quorvel_cancel* cancel;       /* may be NULL */
    /* A serial number written into this flash's own copy of the image. */
    int serial_format;       /* QUORVEL_SERIAL_* */
    int serial_width;        /* digits for QUORVEL_SERIAL_ASCII (1 to 20) */
    uint32_t serial_address; /* device address of its first byte, inside the image */
    uint64_t serial_number;
    int pauses; /* QUORVEL_PAUSES_* */
} quorvel_flash_options;

/*
 * The whole job on one port, as quorvel-cli flash does it: detection, the
 * switch to the boot loader, the transfer, the pause while the device stores
 * the image, the disconnection. options may be NULL. The port is closed and
 * free when it returns. A serial number that does not fit the image is status
 * 3, one that does not fit its format status 2; no port is opened then.
 */
QUORVEL_API int quorvel_flash(const char* port, const quorvel_image* image,
                              const quorvel_flash_options* options, quorvel_result* result);

/* ---- Sessions ----------------------------------------------------------- */

/*
 * A session: one port, named once, with a cancel of its own. Creating it opens
 * nothing; each identify or flash opens the port and closes it again, so the
 * port is free between calls. quorvel_session_cancel may be called from any
 * thread: it ends the session's running call within 200 ms, and the calls
 * after it, until quorvel_session_reset. A flash whose options carry a cancel
 * token of their own watches that token instead.
 *
 * quorvel_session_destroy may be called from any thread, also while another
 * thread's identify or flash on the session runs. Destroy waits: it cancels
 * the running call (as quorvel_session_cancel does), waits for it to return,
 * then frees. A flash watching a token of its own runs on until that token is
 * set or the flash ends, and destroy waits that long. Never destroy a session
 * from a progress callback of its own flash: it would wait for itself. Calls
 * made once destroy has begun are the caller's error, as on any freed handle.
 */
typedef struct quorvel_session quorvel_session;
QUORVEL_API int quorvel_session_create(const char* port, quorvel_session** session);
QUORVEL_API int quorvel_session_identify(quorvel_session* session, quorvel_result* result);
QUORVEL_API int quorvel_session_flash(quorvel_session* session, const quorvel_image* image,
                                      const quorvel_flash_options* options, quorvel_result* result);
QUORVEL_API int quorvel_session_cancel(quorvel_session* session);
QUORVEL_API int quorvel_session_reset(quorvel_session* session);
/* Cancels, waits for the calls in progress to return, then frees. Accepts NULL. */
QUORVEL_API int quorvel_session_destroy(quorvel_session* session);

#ifdef __cplusplus
}
#endif

/* Stations: boards flashed as they arrive, every unit recorded. */
#include "quorvel_station.h"

#endif

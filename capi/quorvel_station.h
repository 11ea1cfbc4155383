/*
 * libquorvel's stations: boards flashed as they arrive on every slot, every
 * unit recorded. Included by quorvel.h; include that.
 */
#ifndef QUORVEL_STATION_H
#define QUORVEL_STATION_H

#include "quorvel.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Stations ----------------------------------------------------------- */

/*
 * A production station, as quorvel-cli station runs it: every port is a slot
 * with a thread of its own that waits for a board, flashes it as a new unit
 * (with its serial number), records the unit and waits for the board to be
 * taken away before it arms again. A board left on its slot is never flashed
 * twice. The caller takes what happens as events (quorvel_station_next_event)
 * on a thread of its own.
 */
typedef struct quorvel_station quorvel_station;

/*
 * Options of a station; zero means the default. Set size to
 * sizeof(quorvel_station_options). A program built before the database's
 * fields existed sets the size of the options up to pauses; it is accepted,
 * with those fields read as zero.
 */
typedef struct quorvel_station_options {
    size_t size;
    const char* const* ports; /* the slots, named as for quorvel_flash */
    size_t port_count;
    /* Copied: the caller may destroy it once the station is created. The
     * records name the file it was loaded from and that file's SHA-256; an
     * image from bytes has neither ("" in the records). */
    const quorvel_image* image;
    /* The log (JSON Lines): a start record before each transfer and a result
     * record after it, each synced to disk before its event. NULL: no log. */
    const char* log_path;
    /* The serial-number file (the next number in decimal), and where and how
     * each unit's number is written into its own copy of the image
     * (QUORVEL_SERIAL_*; serial_width for QUORVEL_SERIAL_ASCII). NULL: none.
     * It needs a log, so that every number given is on record. */
    const char* serial_file;
    uint32_t serial_address;
    int serial_format;
    int serial_width;
    int retries;              /* further attempts after a failed switch or transfer */
    int limit;                /* boards to pass before arming stops; 0: no limit */
    const char* station_name; /* the name in every record; NULL or "": the host name */
    int pauses;               /* QUORVEL_PAUSES_* */
    /* The line's database (a libpq URL or key=value string) the records are
     * sent to, as quorvel-cli station --db. Without log_path, a default log
     * in the program's data folder holds what is not sent yet. NULL or "":
     * none. */
    const char* db_url;
    uint32_t db_timeout_ms; /* a wait on the database, 100 to 3 600 000; 0: 10 000 */
    /* The pool of the database the serial numbers come from, in place of
     * serial_file; it needs db_url, serial_address and serial_format. NULL
     * or "": none. */
    const char* serial_pool;
    uint64_t serial_lease; /* numbers of the pool held at a time, 1 to 100 000; 0: 1 */
} quorvel_station_options;

/*
 * Checks the options as quorvel-cli station does, then starts the station's
 * slots. Refused, with the reason in result (may be NULL), before any board
 * is touched: status 2 for a wrong option (no ports or image, a serial file
 * without a log or without a format, a pool without a database or with a
 * serial file); 3 for a serial number outside the image's data; 5 for a
 * serial-number file that is missing, cannot be locked or holds a number too
 * large for the format, for a pool that has run out, and for a log that
 * cannot be read or opened; 4 for a port that another program holds or that
 * cannot be opened (a port that is absent is waited for); 6 for a database
 * that cannot be reached or used, or where a station of the same name runs
 * (the URL's password is never shown). *station is NULL then.
 * Another station's lock on the serial-number file is waited for, 10 s at most.
 */
QUORVEL_API int quorvel_station_create(const quorvel_station_options* options,
                                       quorvel_station** station, quorvel_result* result);

#define QUORVEL_EVENT_NONE 0     /* the time-out passed */
#define QUORVEL_EVENT_SLOT 1     /* a slot's state changed */
#define QUORVEL_EVENT_PROGRESS 2 /* a transfer's percentage */
#define QUORVEL_EVENT_RECORD 3   /* a unit's record was written (or could not be) */
#define QUORVEL_EVENT_NOTE 4     /* a line for the operator: a warning, a failed log */
#define QUORVEL_EVENT_TOTALS 5   /* the counts changed, or arming stopped */
#define QUORVEL_EVENT_ENDED 6    /* every slot has ended; the last event */
#define QUORVEL_EVENT_DATABASE                                 \
    7 /* the database's state: note says "database online", or \
         "database offline, N records waiting" */

/* A slot's state. */
#define QUORVEL_SLOT_WAITING 0          /* armed, no board answers */
#define QUORVEL_SLOT_WAITING_FOR_PORT 1 /* the port is not there (yet) */
#define QUORVEL_SLOT_PORT_IN_USE 2      /* another program holds the port */
#define QUORVEL_SLOT_WAITING_FOR_LIMIT 3
#define QUORVEL_SLOT_FLASHING 4
#define QUORVEL_SLOT_RETRYING 5 /* the attempt failed; the board is flashed again */
#define QUORVEL_SLOT_PASSED 6   /* the board is flashed: take it away */
#define QUORVEL_SLOT_FAILED 7   /* the board failed: take it away */
#define QUORVEL_SLOT_STOPPED 8  /* no board starts on this slot any more */

/* One event. Set size to sizeof(quorvel_station_event); the library writes no byte past it. */
typedef struct quorvel_station_event {
    size_t size;
    int kind;             /* QUORVEL_EVENT_* */
    size_t slot;          /* SLOT, PROGRESS, RECORD: the slot's index in the ports given */
    char port[256];       /* and its port */
    int state;            /* SLOT: QUORVEL_SLOT_* */
    char state_text[256]; /* SLOT: "waiting", "flashing", "PASS", "FAIL no device", ... */
    int progress;         /* PROGRESS: the percentage; otherwise -1 */
    int has_unit;         /* SLOT, RECORD: 1 when unit holds the unit's running number */
    int64_t unit;
    int has_serial; /* SLOT, RECORD: 1 when serial holds the unit's serial number */
    uint64_t serial;
    /* RECORD: the record as its line of the log (JSON, without the line
     * end), and the line's length in bytes. A line of sizeof record bytes or
     * more (a path thousands of bytes long) is cut at a character boundary;
     * the log holds it whole. logged is 1 once the record is synced to the
     * log (or no log is kept), 0 when the log failed. */
    char record[8192];
    size_t record_length;
    int logged;
    char note[512]; /* NOTE: the line; TOTALS: why arming stopped, or ""; DATABASE: its state */
    int passed;     /* TOTALS, ENDED: the units passed and failed so far */
    int failed;
    /* ENDED: the station's status: 0; 5 when records or serial numbers were
     * lost or ran out; 130 when it was aborted. */
    int status;
} quorvel_station_event;

/*
 * Takes the next event, waiting at most timeout_ms for one: kind is
 * QUORVEL_EVENT_NONE when none came. While the caller is away, a transfer's
 * newer percentage replaces the one still waiting, so a slow caller holds at
 * most one progress event per slot. Once ENDED has been taken, every call
 * returns it again at once. One thread takes the events.
 */
QUORVEL_API int quorvel_station_next_event(quorvel_station* station, quorvel_station_event* event,
                                           uint32_t timeout_ms);

/*
 * As one Ctrl-C at quorvel-cli station: no new board starts, the boards in
 * flight finish, then the station ends. Any thread.
 */
QUORVEL_API int quorvel_station_stop(quorvel_station* station);

/*
 * As two: the boards in flight are stopped within 200 ms, each with its
 * result record, and the station ends with status 130. Any thread. A station
 * that has already ended keeps the status it ended with.
 */
QUORVEL_API int quorvel_station_abort(quorvel_station* station);

/*
 * Aborts what still runs, waits for the slots' threads and frees the station;
 * no other call may be using it. Accepts NULL.
 */
QUORVEL_API int quorvel_station_destroy(quorvel_station* station);

#ifdef __cplusplus
}
#endif

#endif

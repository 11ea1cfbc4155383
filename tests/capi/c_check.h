/* What the C API's C test programs share: a check that counts its failures
 * and goes on, and a short pause for polling. C99; include it once per program. */
#ifndef QUORVEL_C_CHECK_H
#define QUORVEL_C_CHECK_H

#include <stdio.h>
#include <time.h>

#ifdef _WIN32
#include <windows.h>
static void pause_briefly(void) { Sleep(20); }
#else
static void pause_briefly(void) {
    struct timespec wait = {0, 20 * 1000 * 1000};
    nanosleep(&wait, NULL);
}
#endif

static int failures = 0;

#define CHECK(condition)                                                                  \
    do {                                                                                  \
        if (!(condition)) {                                                               \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            ++failures;                                                                   \
        }                                                                                 \
    } while (0)

#endif

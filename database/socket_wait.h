// Waits on libpq's socket (PQsocket) for a bounded time: poll on POSIX,
// WSAPoll on Windows (socket_wait_posix.cpp, socket_wait_win32.cpp).
#pragma once

#include <cstdint>

enum class SocketWait { Ready, TimedOut, Failed };

// Waits until `socket` can be read (`forRead`) or written (`forWrite`), at
// most `timeoutMs`. An error or hang-up on the socket counts as ready: libpq
// then reads the failure itself.
SocketWait waitForSocket(int socket, bool forRead, bool forWrite, std::uint32_t timeoutMs);

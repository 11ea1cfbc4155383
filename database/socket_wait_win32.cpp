#include <winsock2.h>

#include <algorithm>

#include "database/socket_wait.h"

SocketWait waitForSocket(int socket, bool forRead, bool forWrite, std::uint32_t timeoutMs) {
    // PQsocket gives the SOCKET as an int; libpq has started Winsock already.
    WSAPOLLFD wait{};
    wait.fd = static_cast<SOCKET>(socket);
    wait.events = static_cast<SHORT>((forRead ? POLLRDNORM : 0) | (forWrite ? POLLWRNORM : 0));
    const auto limit = static_cast<INT>(std::min<std::uint32_t>(timeoutMs, 0x7fffffff));
    const int ready = WSAPoll(&wait, 1, limit);
    if (ready > 0) return SocketWait::Ready;
    if (ready == 0) return SocketWait::TimedOut;
    return SocketWait::Failed;
}

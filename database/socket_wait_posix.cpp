#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>

#include "database/socket_wait.h"

SocketWait waitForSocket(int socket, bool forRead, bool forWrite, std::uint32_t timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd wait{socket, static_cast<short>((forRead ? POLLIN : 0) | (forWrite ? POLLOUT : 0)), 0};
    for (;;) {
        // A signal cuts poll short: wait again for the time that is left.
        const long long left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const int ready = poll(&wait, 1, static_cast<int>(std::clamp(left, 0LL, 1LL * INT_MAX)));
        if (ready > 0) return SocketWait::Ready;
        if (ready == 0) return SocketWait::TimedOut;
        if (errno != EINTR) return SocketWait::Failed;
    }
}

#include <winsock2.h>

#include "web/listen_socket.h"

// Windows lets a socket with SO_REUSEADDR take over a port that another
// program listens on; SO_EXCLUSIVEADDRUSE refuses that both ways.
void prepareListenSocket(boost::asio::ip::tcp::acceptor& acceptor,
                         boost::system::error_code& error) {
    using ExclusiveAddressUse =
        boost::asio::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>;
    acceptor.set_option(ExclusiveAddressUse(true), error);
}

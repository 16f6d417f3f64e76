#include "support/raw_socket.hpp"

#include <algorithm>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace orvanta::test::raw_socket {

namespace {

// Winsock is started once, before the first socket, and stays up for the whole program.
bool started() {
    static const bool ready = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ready;
}

SOCKET handle(Socket socket) {
    return static_cast<SOCKET>(socket);
}

Socket wrap(SOCKET socket) {
    return socket == INVALID_SOCKET ? none : static_cast<Socket>(socket);
}

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(port));
    return address;
}

// Sockets are not inherited by programs the tests start.
SOCKET newSocket() {
    return started() ? WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                  WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT)
                     : INVALID_SOCKET;
}

} // namespace

Socket bindLoopback() {
    const SOCKET made = newSocket();
    sockaddr_in address = loopback(0);
    if (made == INVALID_SOCKET ||
        ::bind(made, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (made != INVALID_SOCKET) {
            ::closesocket(made);
        }
        return none;
    }
    return wrap(made);
}

bool listen(Socket socket, int backlog) {
    return ::listen(handle(socket), backlog) == 0;
}

int portOf(Socket socket) {
    sockaddr_in address{};
    int length = sizeof address;
    ::getsockname(handle(socket), reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

bool waitReadable(Socket socket, int milliseconds) {
    WSAPOLLFD readable{handle(socket), POLLRDNORM, 0};
    return ::WSAPoll(&readable, 1, milliseconds) > 0;
}

Socket accept(Socket listener) {
    return wrap(::accept(handle(listener), nullptr, nullptr));
}

long receive(Socket socket, char* buffer, std::size_t size) {
    return ::recv(handle(socket), buffer, static_cast<int>(size), 0);
}

// Non-blocking sends, each after waiting for room: under Wine a blocking send to a peer that
// reset the connection can wait forever, and with it the test server's thread.
bool send(Socket socket, const std::string& bytes) {
    const SOCKET s = handle(socket);
    u_long nonBlocking = 1;
    if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        return false;
    }
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(s, &writable);
        timeval limit{10, 0};
        if (::select(0, nullptr, &writable, nullptr, &limit) != 1) {
            return false;
        }
        const int piece = static_cast<int>(std::min<std::size_t>(bytes.size() - sent, 65536));
        const int n = ::send(s, bytes.data() + sent, piece, 0);
        if (n == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

void resetOnClose(Socket socket) {
    const linger abort{1, 0};
    ::setsockopt(handle(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
                 sizeof abort);
}

Socket startConnect(int port) {
    const SOCKET made = newSocket();
    u_long nonBlocking = 1;
    ::ioctlsocket(made, FIONBIO, &nonBlocking);
    sockaddr_in address = loopback(port);
    ::connect(made, reinterpret_cast<sockaddr*>(&address), sizeof address);
    return wrap(made);
}

void close(Socket socket) {
    ::closesocket(handle(socket));
}

} // namespace orvanta::test::raw_socket

#include "support/raw_socket.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orvanta::test::raw_socket {

namespace {

int fd(Socket socket) {
    return static_cast<int>(socket);
}

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

} // namespace

Socket bindLoopback() {
    const int made = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    if (made < 0 || ::bind(made, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (made >= 0) {
            ::close(made);
        }
        return none;
    }
    return made;
}

bool listen(Socket socket, int backlog) {
    return ::listen(fd(socket), backlog) == 0;
}

int portOf(Socket socket) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd(socket), reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

bool waitReadable(Socket socket, int milliseconds) {
    pollfd readable{fd(socket), POLLIN, 0};
    return ::poll(&readable, 1, milliseconds) > 0;
}

Socket accept(Socket listener) {
    const int accepted = ::accept4(fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
    return accepted < 0 ? none : accepted;
}

long receive(Socket socket, char* buffer, std::size_t size) {
    return ::recv(fd(socket), buffer, size, 0);
}

bool send(Socket socket, const std::string& bytes) {
    return ::send(fd(socket), bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

void resetOnClose(Socket socket) {
    const linger abort{1, 0};
    ::setsockopt(fd(socket), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
}

Socket startConnect(int port) {
    const int made = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(port);
    ::connect(made, reinterpret_cast<sockaddr*>(&address), sizeof address);
    return made;
}

void close(Socket socket) {
    ::close(fd(socket));
}

} // namespace orvanta::test::raw_socket

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Plain TCP sockets on 127.0.0.1 for tests that need answers no HTTP server gives: a body cut
// short, a reset, silence, a full listen queue. One implementation file per platform
// (posix/raw_socket.cpp, windows/raw_socket.cpp).
namespace orvanta::test::raw_socket {

using Socket = std::intptr_t; // a file descriptor or a Windows SOCKET
inline constexpr Socket none = -1;

// A TCP socket bound to 127.0.0.1 at a port the system picks; none on failure.
Socket bindLoopback();
bool listen(Socket socket, int backlog);
int portOf(Socket socket);
// Waits up to the given time for the socket to become readable (or a connection to arrive).
bool waitReadable(Socket socket, int milliseconds);
// The next connection waiting on a listening socket; none when there is none.
Socket accept(Socket listener);
// What recv gives: the byte count, 0 at the end of the stream, below 0 on an error.
long receive(Socket socket, char* buffer, std::size_t size);
// Sends all the bytes; false once the peer has gone (and never raises SIGPIPE).
bool send(Socket socket, const std::string& bytes);
// Makes the close that follows end the connection with a reset instead of an orderly close.
void resetOnClose(Socket socket);
// Starts connecting to 127.0.0.1:port without waiting for the connection to be made.
Socket startConnect(int port);
void close(Socket socket);

} // namespace orvanta::test::raw_socket

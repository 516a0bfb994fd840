// The Winsock subset that rxmon's servers call, declared for POSIX systems:
// Winsock is the BSD socket interface under other names for the handle, its
// closing and its errors, so most calls are the system's own.
#pragma once

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;
constexpr int WSAEWOULDBLOCK = EWOULDBLOCK;
constexpr long FIONBIO = 0x8004667e;
constexpr int MAKEWORD(int low, int high) { return low | high << 8; }

struct WSADATA {
    unsigned short wVersion;
};
inline int WSAStartup(unsigned short, WSADATA* data) { return data->wVersion = 0x0202, 0; }
inline int WSAGetLastError() { return errno; }
inline int closesocket(SOCKET s) { return close(s); }
// FIONBIO alone: the non-blocking switch.
inline int ioctlsocket(SOCKET s, long, unsigned long* on) {
    int flags = fcntl(s, F_GETFL);
    return fcntl(s, F_SETFL, *on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK);
}

inline void platform_socket_error(char* text, int room) {
    strncpy(text, strerror(errno), room - 1);
    text[room - 1] = 0;
}
// select's sets are bitmaps of FD_SETSIZE bits: a higher descriptor has no
// place in them.
inline bool platform_socket_selectable(SOCKET s) { return s < FD_SETSIZE; }
// Free again the moment its server ends, though closed connections linger
// in TIME_WAIT; a second server on the same address is still refused.
inline int platform_socket_exclusive(SOCKET s) {
    int on = 1;
    return setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
}

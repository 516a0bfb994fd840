// The door to the network for rxmon's servers (--rigctl): on Windows the
// real Winsock, elsewhere the same subset over the BSD sockets it was made
// from (platform/posix/winsock.h). Only what the servers call.
#pragma once

#ifdef _WIN32
#include "platform/win32.h"
#include <winsock2.h>
#include <ws2tcpip.h>
#include <cstdio>
#include <cstring>

// Windows has no SIGPIPE to keep away from a send to a closed peer.
constexpr int MSG_NOSIGNAL = 0;

// The cause of the last failed socket call, in the system's words.
inline void platform_socket_error(char* text, int room) {
    int code = WSAGetLastError();
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, room,
                       nullptr) == 0)
        snprintf(text, room, "error %d", code);
    for (int n = static_cast<int>(strlen(text)); n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' ||
                                                         text[n - 1] == '.' || text[n - 1] == ' ');)
        text[--n] = 0;
}
// A socket that select can watch (Winsock's sets hold sockets, not bits).
inline bool platform_socket_selectable(SOCKET) { return true; }
// A listening address held by no one else, and free again the moment its
// server ends (Windows' SO_REUSEADDR would let another take it over).
inline int platform_socket_exclusive(SOCKET s) {
    BOOL on = TRUE;
    return setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
}
#else
#include "platform/posix/winsock.h"
#endif

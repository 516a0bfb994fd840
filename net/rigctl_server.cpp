// The --rigctl server: one thread, one select over the listening socket and
// its clients. It answers each line from a copy of the latest readings and
// never waits for a client: a client that does not take its answer whole is
// dropped, so that the others and the monitor go on. rxmon ends with
// ExitProcess, which takes the thread and its sockets with it.
#include <cstdio>
#include <string>

#include "net/listen.h"
#include "net/rigctl.h"
#include "platform/win32.h"

namespace {

constexpr int kMaxClients = 16;

struct Client {
    SOCKET socket = INVALID_SOCKET;
    RigctlLine line;
};

SOCKET listener = INVALID_SOCKET;
Client clients[kMaxClients];

void set_nonblocking(SOCKET s) {
    unsigned long on = 1;
    ioctlsocket(s, FIONBIO, &on);
}

void drop(Client& c) {
    closesocket(c.socket);
    c.socket = INVALID_SOCKET;
}

void take_client() {
    SOCKET s = accept(listener, nullptr, nullptr);
    if (s == INVALID_SOCKET) return;
    for (Client& c : clients)
        if (c.socket == INVALID_SOCKET && platform_socket_selectable(s)) {
            set_nonblocking(s);
            c.socket = s;
            c.line = RigctlLine{};
            return;
        }
    closesocket(s);  // the 17th
}

void serve_client(Client& c) {
    char data[4096];
    int got = recv(c.socket, data, sizeof data, 0);
    if (got <= 0) {
        if (got < 0 && WSAGetLastError() == WSAEWOULDBLOCK) return;
        drop(c);
        return;
    }
    std::string out;
    rigctl_feed(c.line, data, got, readings_latest(), &out);
    if (!out.empty() && send(c.socket, out.data(), static_cast<int>(out.size()), MSG_NOSIGNAL) !=
                            static_cast<int>(out.size()))
        drop(c);
    else if (c.line.quit)
        drop(c);
}

DWORD WINAPI serve(LPVOID) {
    for (;;) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(listener, &readable);
        SOCKET highest = listener;
        for (Client& c : clients)
            if (c.socket != INVALID_SOCKET) {
                FD_SET(c.socket, &readable);
                if (c.socket > highest) highest = c.socket;
            }
        if (select(static_cast<int>(highest + 1), &readable, nullptr, nullptr, nullptr) <= 0) continue;
        if (FD_ISSET(listener, &readable)) take_client();
        for (Client& c : clients)
            if (c.socket != INVALID_SOCKET && FD_ISSET(c.socket, &readable)) serve_client(c);
    }
}

}  // namespace

bool rigctl_serve(const NetAddress& address, char* why, int room) {
    listener = net_listen(address, why, room);
    if (listener == INVALID_SOCKET) return false;
    if (!platform_socket_selectable(listener)) {
        snprintf(why, room, "too many files open");
        closesocket(listener);
        return false;
    }
    set_nonblocking(listener);
    if (!CreateThread(nullptr, 0, serve, nullptr, 0, nullptr)) {
        snprintf(why, room, "no thread to serve it");
        return false;
    }
    return true;
}

// Binding the servers' address: every address the name resolves to is
// tried, and the cause of the last failure is what the user reads.
#include "net/listen.h"

#include <cstdio>
#include <cstring>

bool net_address_parse(const char* text, NetAddress* address) {
    const char* colon = strrchr(text, ':');
    const char* port = colon ? colon + 1 : text;
    const char* host = text;
    size_t host_length = colon ? static_cast<size_t>(colon - text) : 0;
    if (colon && *text == '[') {
        if (host_length < 3 || colon[-1] != ']') return false;
        ++host, host_length -= 2;
    } else if (colon && memchr(text, ':', host_length)) {
        return false;  // an IPv6 address needs its brackets
    }
    if (colon && host_length == 0) return false;
    if (host_length >= sizeof address->host) return false;
    long number = 0;
    size_t digits = strspn(port, "0123456789");
    if (digits == 0 || digits > 5 || port[digits]) return false;
    for (size_t i = 0; i < digits; ++i) number = number * 10 + (port[i] - '0');
    if (number < 1 || number > 65535) return false;
    if (colon) {
        memcpy(address->host, host, host_length);
        address->host[host_length] = 0;
    } else {
        strcpy(address->host, "127.0.0.1");
    }
    snprintf(address->port, sizeof address->port, "%ld", number);
    return true;
}

void net_address_name(const NetAddress& address, char* text, int room) {
    bool v6 = strchr(address.host, ':') != nullptr;
    snprintf(text, room, v6 ? "[%s]:%s" : "%s:%s", address.host, address.port);
}

SOCKET net_listen(const NetAddress& address, char* why, int room) {
    static bool started = false;
    WSADATA data;
    if (!started && WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        platform_socket_error(why, room);
        return INVALID_SOCKET;
    }
    started = true;
    addrinfo hints{}, *found = nullptr;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    if (int error = getaddrinfo(address.host, address.port, &hints, &found); error != 0) {
        snprintf(why, room, "%s", gai_strerror(error));
        return INVALID_SOCKET;
    }
    SOCKET s = INVALID_SOCKET;
    for (addrinfo* a = found; a; a = a->ai_next) {
        s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == INVALID_SOCKET) {
            platform_socket_error(why, room);
            continue;
        }
        platform_socket_exclusive(s);
        if (bind(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0 && listen(s, 16) == 0) break;
        platform_socket_error(why, room);
        closesocket(s);
        s = INVALID_SOCKET;
    }
    freeaddrinfo(found);
    return s;
}

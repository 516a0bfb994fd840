// The listening address of rxmon's servers (--rigctl, --serve): the option's
// [HOST:]PORT read, and bound on loopback unless the user names a host.
#pragma once

#include "platform/winsock.h"

struct NetAddress {
    char host[256];  // without the brackets of [::1]
    char port[6];
};

// Reads [HOST:]PORT (HOST a name, an IPv4 address or [IPv6]; PORT 1 to
// 65535); HOST defaults to 127.0.0.1. False when the text is malformed.
bool net_address_parse(const char* text, NetAddress* address);

// The address as the texts name it: HOST:PORT, [HOST]:PORT for IPv6.
void net_address_name(const NetAddress& address, char* text, int room);

// A socket bound to the address and listening, or INVALID_SOCKET with the
// cause in `why` (no such host, address taken, not this machine's).
SOCKET net_listen(const NetAddress& address, char* why, int room);

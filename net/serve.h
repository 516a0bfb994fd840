// --serve: the readings over HTTP (/now, /events, /metrics) and the page
// that shows them on a phone. Linux only: the server runs on libmicrohttpd's
// polling thread and one thread of ours that turns publications into events;
// both read net/readings and never call into the monitor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "net/readings.h"

// Binds host:port and starts serving; false with why (the address and the
// cause, one line without its end) when the address cannot be bound.
bool serve_start(const char* host, int32_t port, char* why, size_t why_size);

// The page's address for the screen: for a wildcard bind an address of this
// machine that another one on the network can reach.
void serve_page_address(char* out, size_t out_size);

// Stops serving: open streams are closed, the port is free again.
void serve_stop();

// The texts the server answers with, for the tests as well.
// A publication as JSON; readings not known are null.
std::string serve_json(const Readings& r);
// A publication in Prometheus' text format.
std::string serve_metrics(const Readings& r);
// Whether a Host header names this machine's loopback with this port.
bool serve_host_is_loopback(const char* host_header, int32_t port);

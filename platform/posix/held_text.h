// Text that the standard handles write while the full screen hides the
// user's terminal, kept to be written once the terminal is given back.
#pragma once

#include <cstddef>

namespace posix::term {

// Keeps the bytes, from any thread, and returns how many it kept: all of
// them, unless the text held outgrows 16 MiB or memory runs out. The write
// then comes back short, and the short-write report about it still finds
// room here.
size_t held_keep(const void* data, size_t count);
// Writes what is kept and not yet written to descriptor fd, in order. Takes
// no lock, for the give-back in a signal handler; a call made while another
// one writes returns at once.
void held_write_out(int fd);
// All n bytes to descriptor fd, short only where the descriptor fails;
// safe in a signal handler.
void write_all(int fd, const char* p, size_t n);

}  // namespace posix::term

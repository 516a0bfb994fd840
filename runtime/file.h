// File access, the handle-name table that lets diagnostics name a failing
// handle, the 64 KiB buffered reader, and the program's own path.
#pragma once

#include <cstdint>

#include "platform/win32.h"

struct FileReader {
    HANDLE handle;
    int64_t block_position;  // file position of buffer[0]
    int64_t read_position;   // file position of the next byte handed out
    int32_t count;           // valid bytes in buffer (the last read's result)
    int32_t index;           // next unread byte in buffer
    uint8_t buffer[65536];
};

int file_open(const char* name, DWORD mode, HANDLE* handle);
int file_create(const char* name, DWORD extra_access, HANDLE* handle);
int file_close(HANDLE handle);
// Opens for appending, creating the file when it is absent: every write
// lands at the end, even beside another writer; others may read it
// meanwhile. *at_start: nothing was in it (or it is a pipe or a
// device, which has no end to seek to). 0, or 1 with the system's error,
// or 2 for a pipe that cannot be written to without waiting. A pipe's
// writes fail at once where its reader has not made room.
int file_append(const char* name, HANDLE* handle, bool* at_start);
// 0 when every byte was written, else 1; *done, when asked for, says how
// many were.
int file_write(HANDLE handle, const void* data, int32_t count, int32_t* done = nullptr);
// Takes the last `count` bytes off the end of the file again, such as the
// part of a write that failed midway: 0, or 1 where the system will not
// (a pipe, a device, a handle opened only to append on Windows).
int file_cut(HANDLE handle, int32_t count);
// Whether `name` still leads to the file open on `handle`: 1 when nothing
// is there any more, 2 when another file is, else 0 (also for a pipe or a
// device, and when the system cannot tell).
int file_moved(HANDLE handle, const char* name);
int32_t file_read(HANDLE handle, void* buffer, int32_t count);
int64_t file_tell(HANDLE handle);
int full_path(const char* name, char* output);

void name_remember(HANDLE handle, const char* name);
void name_lookup(HANDLE handle, char* output);  // output holds 262 bytes
void name_table_clear();  // empty again, as at start-up (tests)

void reader_init(FileReader* reader, HANDLE handle);
int32_t reader_read(FileReader* reader, void* destination, int32_t n);
int32_t reader_read_exact(FileReader* reader, void* destination, int32_t n);

// Any of the three may be null. directory ends with its separator; the
// arguments begin with the blank that separates them from the path.
void program_path(char* directory, char* file_name, char* arguments);

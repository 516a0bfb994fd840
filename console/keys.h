// Keyboard input as KeyCodes: a typed character gives its own code, other
// keys and combinations a code from key_table (mostly 256 and up). Reading
// never blocks unless asked to; pushed-back keys come before console events.
#pragma once

#include <cstdint>

// KeyCodes that the monitor names.
enum : int32_t { KEY_NONE = -1, KEY_ESC = 27, KEY_UP = 328, KEY_DOWN = 336 };

// Rows by scan code 0..91; columns plain, Shift, Ctrl, Alt. 0 gives no key,
// 255 the code 0 (Ctrl+2).
extern const uint16_t key_table[92][4];
// Queued keys, KeyCode in the high 16 bits and scan code in the low 16;
// the taken slots are always the first ones.
extern uint32_t key_queue[256];

int32_t key_read(int32_t* scan);
int32_t key_poll();
int32_t key_wait();
int key_push(int32_t key, int32_t scan);

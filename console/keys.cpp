// Console input events turned into KeyCodes, and the push-back queue.
#include "console/keys.h"

#include "platform/win32.h"
#include "runtime/out.h"

// Scan codes are the PC keyboard's (set 1), as the console reports them.
const uint16_t key_table[92][4] = {
    {0, 0, 0, 0},  //  0
    {27, 27, 27, 283},  //  1 Esc
    {49, 33, 49, 376},  //  2 1
    {50, 64, 255, 377},  //  3 2
    {51, 35, 51, 378},  //  4 3
    {52, 36, 52, 379},  //  5 4
    {53, 37, 53, 380},  //  6 5
    {54, 94, 54, 381},  //  7 6
    {55, 38, 55, 382},  //  8 7
    {56, 42, 56, 383},  //  9 8
    {57, 40, 57, 384},  // 10 9
    {48, 41, 48, 385},  // 11 0
    {45, 95, 45, 386},  // 12 -
    {61, 43, 61, 387},  // 13 =
    {8, 8, 8, 270},  // 14 Backspace
    {9, 271, 404, 421},  // 15 Tab
    {113, 81, 17, 272},  // 16 Q
    {119, 87, 23, 273},  // 17 W
    {101, 69, 5, 274},  // 18 E
    {114, 82, 18, 275},  // 19 R
    {116, 84, 20, 276},  // 20 T
    {121, 89, 25, 277},  // 21 Y
    {117, 85, 21, 278},  // 22 U
    {105, 73, 9, 279},  // 23 I
    {111, 79, 15, 280},  // 24 O
    {112, 80, 16, 281},  // 25 P
    {91, 123, 91, 282},  // 26 [
    {93, 125, 93, 283},  // 27 ]
    {13, 13, 13, 284},  // 28 Enter
    {0, 0, 0, 0},  // 29
    {97, 65, 1, 286},  // 30 A
    {115, 83, 19, 287},  // 31 S
    {100, 68, 4, 288},  // 32 D
    {102, 70, 6, 289},  // 33 F
    {103, 71, 7, 290},  // 34 G
    {104, 72, 8, 291},  // 35 H
    {106, 74, 10, 292},  // 36 J
    {107, 75, 11, 293},  // 37 K
    {108, 76, 12, 294},  // 38 L
    {59, 58, 59, 295},  // 39 ;
    {39, 34, 39, 296},  // 40 '
    {96, 126, 96, 297},  // 41 `
    {0, 0, 0, 0},  // 42
    {92, 124, 92, 299},  // 43 backslash
    {122, 90, 26, 300},  // 44 Z
    {120, 88, 24, 301},  // 45 X
    {99, 67, 3, 302},  // 46 C
    {118, 86, 22, 303},  // 47 V
    {98, 66, 2, 304},  // 48 B
    {110, 78, 14, 305},  // 49 N
    {109, 77, 13, 306},  // 50 M
    {44, 60, 44, 307},  // 51 ,
    {46, 62, 46, 308},  // 52 .
    {47, 63, 405, 309},  // 53 /
    {0, 0, 0, 0},  // 54
    {42, 42, 406, 311},  // 55 pad*
    {0, 0, 0, 0},  // 56
    {32, 32, 32, 32},  // 57 Space
    {0, 0, 0, 0},  // 58
    {315, 340, 350, 360},  // 59 F1
    {316, 341, 351, 361},  // 60 F2
    {317, 342, 352, 362},  // 61 F3
    {318, 343, 353, 363},  // 62 F4
    {319, 344, 354, 364},  // 63 F5
    {320, 345, 355, 365},  // 64 F6
    {321, 346, 356, 366},  // 65 F7
    {322, 347, 357, 367},  // 66 F8
    {323, 348, 358, 368},  // 67 F9
    {324, 349, 359, 369},  // 68 F10
    {0, 0, 0, 0},  // 69
    {0, 0, 0, 0},  // 70
    {327, 327, 375, 327},  // 71 Home
    {328, 328, 397, 328},  // 72 Up
    {329, 329, 388, 329},  // 73 PgUp
    {45, 45, 398, 330},  // 74 pad-
    {331, 331, 371, 331},  // 75 Left
    {332, 332, 399, 332},  // 76 pad5
    {333, 333, 372, 333},  // 77 Right
    {43, 43, 400, 334},  // 78 pad+
    {335, 335, 373, 335},  // 79 End
    {336, 336, 401, 336},  // 80 Down
    {337, 337, 374, 337},  // 81 PgDn
    {338, 338, 402, 338},  // 82 Insert
    {339, 339, 403, 339},  // 83 Delete
    {0, 0, 0, 0},  // 84
    {0, 0, 0, 0},  // 85
    {0, 0, 0, 0},  // 86
    {389, 391, 393, 395},  // 87 F11
    {390, 392, 394, 396},  // 88 F12
    {0, 0, 0, 0},  // 89
    {0, 0, 0, 0},  // 90
    {0, 0, 0, 0},  // 91
};

uint32_t key_queue[256];

int32_t key_read(int32_t* scan) {
    if (key_queue[0] != 0) {
        uint32_t entry = key_queue[0];
        for (int i = 1; i < 256; ++i) key_queue[i - 1] = key_queue[i];
        key_queue[255] = 0;
        if (scan) *scan = static_cast<int32_t>(entry & 0xFFFF);
        return static_cast<int32_t>(entry >> 16);
    }
    if (scan) *scan = 0;
    for (;;) {
        // A console that hands keys over only to a program that waits on or
        // peeks at its input (wine's, in a terminal) would otherwise never
        // report one; on Windows the peek changes nothing.
        INPUT_RECORD record;
        DWORD waiting = 0;
        PeekConsoleInputA(std_in, &record, 1, &waiting);
        waiting = 0;
        GetNumberOfConsoleInputEvents(std_in, &waiting);
        if (waiting == 0) return -1;
        DWORD got = 0;
        if (!ReadConsoleInputA(std_in, &record, 1, &got) || got == 0) return -1;
        if (record.EventType != KEY_EVENT) continue;
        const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
        if (!key.bKeyDown) continue;
        DWORD state = key.dwControlKeyState;
        bool alt = state & (RIGHT_ALT_PRESSED | LEFT_ALT_PRESSED);
        bool ctrl = state & (RIGHT_CTRL_PRESSED | LEFT_CTRL_PRESSED);
        bool shift = state & SHIFT_PRESSED;
        uint8_t ch = static_cast<uint8_t>(key.uChar.AsciiChar);
        int32_t code = key.wVirtualScanCode;
        if (ch != 0 && !alt && !ctrl) {
            if (scan) *scan = code;
            return ch == 9 && shift ? 271 : ch;
        }
        if (code > 91) continue;
        int column = alt ? 3 : ctrl ? 2 : shift ? 1 : 0;
        uint16_t entry = key_table[code][column];
        if (entry == 0) continue;
        if (scan) *scan = code;
        return entry == 255 ? 0 : entry;
    }
}

int32_t key_poll() {
    int32_t key = key_read(nullptr);
    if (key == -1) Sleep(1);
    return key;
}

int32_t key_wait() {
    for (;;) {
        int32_t key = key_poll();
        if (key != -1) return key;
        Sleep(1);
    }
}

int key_push(int32_t key, int32_t scan) {
    for (uint32_t& slot : key_queue) {
        if (slot == 0) {
            slot = (static_cast<uint32_t>(key) << 16) + static_cast<uint32_t>(scan);
            return 0;
        }
    }
    return 1;
}

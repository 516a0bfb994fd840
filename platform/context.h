// The registers of a CONTEXT in the order that the crash report lists them.
// Windows names them by processor, so they are picked here, in one place: a
// 64-bit build shows each 64-bit register where a 32-bit one has its
// namesake (Rip for Eip, Rax for Eax), with twice the digits.
#pragma once

#include <cstdint>

#include "platform/win32.h"

struct ContextRegisters {
    // DS CS IP AX, ES SS SP BX, FS EFLAGS BP CX, GS SI DI DX
    uint64_t value[16];
    int32_t digits;  // hexadecimal digits of a full register
    char prefix;     // the first letter of the general registers' names
};

inline ContextRegisters context_registers(const CONTEXT* c) {
#if defined(__i386__) || defined(_M_IX86)
    return {{c->SegDs, c->SegCs, c->Eip, c->Eax, c->SegEs, c->SegSs, c->Esp, c->Ebx,  //
             c->SegFs, c->EFlags, c->Ebp, c->Ecx, c->SegGs, c->Esi, c->Edi, c->Edx},
            8, 'E'};
#else
    return {{c->SegDs, c->SegCs, c->Rip, c->Rax, c->SegEs, c->SegSs, c->Rsp, c->Rbx,  //
             c->SegFs, c->EFlags, c->Rbp, c->Rcx, c->SegGs, c->Rsi, c->Rdi, c->Rdx},
            16, 'R'};
#endif
}

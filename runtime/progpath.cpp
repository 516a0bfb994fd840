// The program's own path and the argument text behind it.
#include "runtime/file.h"
#include "runtime/txt.h"

void program_path(char* directory, char* file_name, char* arguments) {
    static char buffer[32768];
    txt_copy_n(buffer, GetCommandLineA(), sizeof buffer - 1);
    char* end;
    if (buffer[0] == '"') {
        mem_move(buffer + 1, buffer, txt_len(buffer + 1) + 1);
        end = txt_find(buffer, txt_char('"'));
        if (end) mem_move(end + 1, end, txt_len(end + 1) + 1);
        else end = buffer + txt_len(buffer);
    } else {
        end = buffer;
        while (*end && !cc_is(*end, CC_BLANK)) ++end;
    }
    if (arguments) txt_copy(arguments, end);
    *end = 0;
    full_path(buffer, buffer);
    // Windows shows "\" and POSIX "/"; either ends the directory.
    char* last = nullptr;
    for (char* p = buffer; *p; ++p)
        if (*p == '\\' || *p == '/') last = p;
    char* name = last ? last + 1 : buffer;
    if (file_name) txt_copy(file_name, name);
    *name = 0;
    if (directory) txt_copy(directory, buffer);
}

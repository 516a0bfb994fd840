// The program's own path and the argument text behind it.
#include "runtime/file.h"
#include "runtime/txt.h"

void program_path(char* directory, char* file_name, char* arguments) {
    static char buffer[32768], line[32768];
    txt_copy_n(line, GetCommandLineA(), sizeof line - 1);
    const char* end = txt_next_arg(line, buffer);
    if (!end) end = line + txt_len(line), buffer[0] = 0;
    if (arguments) txt_copy(arguments, end);
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

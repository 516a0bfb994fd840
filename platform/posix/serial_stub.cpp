// COM ports until the serial backend takes this file's place.
#include "platform/posix/handle.h"
#include "platform/posix/kernel32.h"

namespace posix {
HandleObject* open_serial(int, DWORD, DWORD) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
}
}  // namespace posix

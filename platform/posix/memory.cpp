// Page memory: VirtualAlloc and VirtualFree over mmap and munmap.
//
// munmap needs the length that VirtualFree(MEM_RELEASE) does not pass, so the
// blocks handed out are kept in a table; like Windows, releasing an address
// that is not the start of such a block fails.
#include <cerrno>
#include <map>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

#include "platform/posix/handle.h"
#include "platform/posix/kernel32.h"

namespace {
std::mutex blocks_lock;
std::map<void*, size_t>& blocks() {
    static std::map<void*, size_t> table;
    return table;
}
}  // namespace

extern "C" {

LPVOID WINAPI VirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect) {
    if (address != nullptr || size == 0 || !(type & MEM_COMMIT) || protect != PAGE_READWRITE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::lock_guard<std::mutex> g(blocks_lock);
    blocks()[p] = size;
    return p;
}

BOOL WINAPI VirtualFree(LPVOID address, SIZE_T size, DWORD type) {
    if (type != MEM_RELEASE || size != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    size_t length;
    {
        std::lock_guard<std::mutex> g(blocks_lock);
        auto it = blocks().find(address);
        if (it == blocks().end()) {
            SetLastError(ERROR_INVALID_ADDRESS);
            return FALSE;
        }
        length = it->second;
        blocks().erase(it);
    }
    if (munmap(address, length) != 0) {
        posix::set_error_from_errno(errno);
        return FALSE;
    }
    return TRUE;
}

void WINAPI GetSystemInfo(LPSYSTEM_INFO info) {
    *info = SYSTEM_INFO{};
    info->wProcessorArchitecture = sizeof(void*) == 8 ? 9 : 0;  // AMD64 : INTEL
    info->dwPageSize = static_cast<DWORD>(sysconf(_SC_PAGESIZE));
    info->dwAllocationGranularity = 65536;
    long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    info->dwNumberOfProcessors = cpus > 0 ? static_cast<DWORD>(cpus) : 1;
}

}  // extern "C"

#include "platform/linux/large_pages.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

void adviseLargePages(void* data, size_t bytes) {
    // madvise takes whole pages; the kernel backs only the aligned 2 MiB
    // stretches inside them with huge pages, the rest as before.
    const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto first = (reinterpret_cast<uintptr_t>(data) + page - 1) / page * page;
    const auto end = (reinterpret_cast<uintptr_t>(data) + bytes) / page * page;
    if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
}

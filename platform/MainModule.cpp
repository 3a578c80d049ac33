#include "platform/MainModule.h"

#include <link.h>

#include <limits>

namespace platform {
namespace {

// dl_iterate_phdr reports the main program first. Its image starts at the load
// bias plus the lowest loadable segment address (0 for a position-independent
// executable, the link address otherwise).
int FirstObjectBase(dl_phdr_info* info, size_t, void* out) {
    ElfW(Addr) lowest = std::numeric_limits<ElfW(Addr)>::max();
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& header = info->dlpi_phdr[i];
        if (header.p_type == PT_LOAD && header.p_vaddr < lowest) lowest = header.p_vaddr;
    }
    if (lowest == std::numeric_limits<ElfW(Addr)>::max()) lowest = 0;
    *static_cast<uintptr_t*>(out) = info->dlpi_addr + lowest;
    return 1;
}

}  // namespace

uintptr_t MainModuleAddress() {
    uintptr_t base = 0;
    dl_iterate_phdr(FirstObjectBase, &base);
    return base;
}

}  // namespace platform

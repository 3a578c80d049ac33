#include "platform/DisplayBackend.h"

#include <atomic>

#include "platform/XDisplayBackend.h"

namespace platform {
namespace {

std::atomic<IDisplayBackend*> g_installed{nullptr};

IDisplayBackend& XServerBackend() {
    static TXDisplayBackend backend;
    return backend;
}

}  // namespace

IDisplayBackend& DisplayBackend() {
    IDisplayBackend* installed = g_installed.load(std::memory_order_acquire);
    return installed != nullptr ? *installed : XServerBackend();
}

void InstallDisplayBackend(IDisplayBackend* backend) {
    g_installed.store(backend, std::memory_order_release);
}

}  // namespace platform

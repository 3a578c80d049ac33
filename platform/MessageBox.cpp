#include "platform/MessageBox.h"

#include <dlfcn.h>

#include <cstdio>
#include <mutex>

namespace platform {
namespace {

std::mutex g_lock;
MessageBoxHandler g_handler;

}  // namespace

void SetMessageBoxHandler(MessageBoxHandler handler) {
    std::lock_guard guard(g_lock);
    g_handler = std::move(handler);
}

void ShowMessageBox(const std::string& text) {
    MessageBoxHandler handler;
    {
        std::lock_guard guard(g_lock);
        handler = g_handler;
    }
    // Called outside the lock: a handler blocks until the box is closed.
    if (handler) {
        handler(text);
        return;
    }
    // A library carries its own copy of this code: without a handler of its
    // own it hands the box to the host program, when the program offers one.
    using HostMessageBox = void (*)(const char* text);
    if (auto host = reinterpret_cast<HostMessageBox>(dlsym(RTLD_DEFAULT, kHostMessageBoxSymbol))) {
        host(text.c_str());
        return;
    }
    std::fprintf(stderr, "%s\n", text.c_str());
}

}  // namespace platform

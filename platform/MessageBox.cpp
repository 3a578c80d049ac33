#include "platform/MessageBox.h"

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
    std::fprintf(stderr, "%s\n", text.c_str());
}

}  // namespace platform

#include "engine/TEngineLog.h"

#include <cstdarg>
#include <cstdio>

namespace pelorn {

void TEngineLog::Line(const char* text) const {
    if (common::IRtLog* sink = m_pSink.load(std::memory_order_acquire)) sink->Write(text);
}

void TEngineLog::Printf(const char* format, ...) const {
    common::IRtLog* sink = m_pSink.load(std::memory_order_acquire);
    if (sink == nullptr) return;
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    sink->Write(line);
}

}  // namespace pelorn

#pragma once

#include <atomic>

#include "common/IRtLog.h"

namespace pelorn {

// The engine's view of the console's run-time log. The sink is replaced by
// Open on the user-interface thread and read by every engine thread; without
// one, lines are not even formatted.
class TEngineLog {
public:
    void SetSink(common::IRtLog* sink) { m_pSink.store(sink, std::memory_order_release); }
    bool Enabled() const { return m_pSink.load(std::memory_order_acquire) != nullptr; }

    void Line(const char* text) const;
    void Printf(const char* format, ...) const __attribute__((format(printf, 2, 3)));

private:
    std::atomic<common::IRtLog*> m_pSink{nullptr};
};

}  // namespace pelorn

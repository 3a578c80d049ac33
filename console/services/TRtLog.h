#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>

#include "common/FrameRing.h"
#include "common/IRtLog.h"
#include "common/WorkerThread.h"

namespace console {

// The run-time log: lines from any thread go into a ring of 200 slots, and a
// writer thread appends them to "QndlLog_<year>.<month>.<day>.<hour>.<minute>.txt"
// in the log folder. The file is created (replacing one of the same name) when
// the first line arrives while the log is enabled; lines end in CR LF.
class TRtLog final : public common::IRtLog {
public:
    static constexpr int kSlots = 200;
    static constexpr int kSlotBytes = 128;
    static constexpr int kMaxLineUnits = kSlotBytes / 2 - 1;

    TRtLog();
    ~TRtLog();
    TRtLog(const TRtLog&) = delete;
    TRtLog& operator=(const TRtLog&) = delete;

    void Configure(int enabled, int latestOnly) override;
    void Write(const char* line) override;

private:
    static void WriterLoop(void* self);
    bool OpenFile();
    void WriteQueuedLines();

    std::atomic<int32_t> m_nEnabled{0};
    std::atomic<int32_t> m_nLatestOnly{1};
    std::mutex m_lock;  // serialises producers; the writer pops without it
    common::FrameRing m_queue;
    common::WorkerThread m_writer;

    std::FILE* m_pFile = nullptr;  // writer thread only
};

// Builds a log (disabled, latest-only) and starts its writer.
common::IRtLog* CreateInstance_IRtLog();
// Stops the writer, frees the log and sets *log to null; nothing for null.
void ReleaseInstance_IRtLog(common::IRtLog** log);

}  // namespace console

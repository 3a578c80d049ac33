#include "console/services/TRtLog.h"

#include <cstring>
#include <ctime>
#include <string>
#include <new>

#include "common/Utf.h"
#include "platform/KnownFolders.h"

namespace console {

TRtLog::TRtLog() : m_queue(kSlots, kSlotBytes) { m_writer.Start(&TRtLog::WriterLoop, this); }

TRtLog::~TRtLog() {
    std::lock_guard guard(m_lock);
    m_writer.Destroy();
}

void TRtLog::Configure(int enabled, int latestOnly) {
    m_nEnabled.store(enabled, std::memory_order_relaxed);
    m_nLatestOnly.store(latestOnly, std::memory_order_relaxed);
}

void TRtLog::Write(const char* line) {
    if (m_nEnabled.load(std::memory_order_relaxed) == 0 || line == nullptr) return;
    const std::u16string wide = common::Utf8ToUtf16(line);
    const size_t units = common::Utf16CutLength(wide, kMaxLineUnits);

    std::lock_guard guard(m_lock);
    auto* slot = static_cast<char16_t*>(m_queue.TailSlot());
    if (slot == nullptr) return;  // a full queue drops the line
    std::memcpy(slot, wide.data(), units * sizeof(char16_t));
    slot[units] = 0;
    m_queue.Push();
    m_writer.Wake();
}

bool TRtLog::OpenFile() {
    const std::string folder = platform::LogFolder();
    if (!platform::EnsureFolder(folder)) return false;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char name[64];
    std::snprintf(name, sizeof name, "QndlLog_%d.%d.%d.%d.%d.txt", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min);
    const std::string path = folder + "/" + name;
    std::remove(path.c_str());
    m_pFile = std::fopen(path.c_str(), "wb");
    return m_pFile != nullptr;
}

void TRtLog::WriteQueuedLines() {
    if (m_nLatestOnly.load(std::memory_order_relaxed) != 0) {
        while (m_queue.Count() > 1) m_queue.Pop();
    }
    while (const auto* slot = static_cast<const char16_t*>(m_queue.Front())) {
        const std::string line = common::Utf16ToUtf8(slot);
        for (char c : line) {
            if (c == '\n') std::fputc('\r', m_pFile);
            std::fputc(c, m_pFile);
        }
        m_queue.Pop();
    }
    std::fflush(m_pFile);
}

void TRtLog::WriterLoop(void* self) {
    auto* log = static_cast<TRtLog*>(self);
    common::WorkerThread& writer = log->m_writer;
    // The file is made when the first line arrives; lines queued just before
    // a stop are still written.
    while (log->m_queue.IsEmpty() && !writer.ExitRequested()) {
        writer.ResetWake();
        if (log->m_queue.IsEmpty() && !writer.ExitRequested()) writer.WaitForWake();
    }
    if (!log->m_queue.IsEmpty() && log->OpenFile()) {
        while (true) {
            // Reset before draining: a line queued after the drain sets the
            // event again, so no line waits for the next one to be written.
            writer.ResetWake();
            log->WriteQueuedLines();
            if (writer.ExitRequested()) break;
            writer.WaitForWake();
        }
    }
    if (log->m_pFile != nullptr) {
        std::fclose(log->m_pFile);
        log->m_pFile = nullptr;
    }
    writer.ConfirmExit();
}

common::IRtLog* CreateInstance_IRtLog() { return new (std::nothrow) TRtLog(); }

void ReleaseInstance_IRtLog(common::IRtLog** log) {
    if (log == nullptr || *log == nullptr) return;
    delete static_cast<TRtLog*>(*log);
    *log = nullptr;
}

}  // namespace console

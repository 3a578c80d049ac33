#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

struct AVFrame;

namespace pelorn::play {

// Writes composed frames on a thread of its own, so that encoding a snapshot
// or a slow disk does not hold up the engine's output thread: raw packed
// pixels appended to one file, and every n-th frame as a PNG picture
// (frame_NNNNNN.png, numbered by composed frame). Offer keeps its own
// reference to the frame; it waits only when kMaxPending frames are queued.
class TFrameWriter {
public:
    static constexpr size_t kMaxPending = 16;

    TFrameWriter(std::string rawPath, int pngEvery, std::string pngDir);
    ~TFrameWriter();
    TFrameWriter(const TFrameWriter&) = delete;
    TFrameWriter& operator=(const TFrameWriter&) = delete;

    // Opens the raw file and creates the snapshot folder; false with `error`.
    bool Open(std::string& error);
    bool Enabled() const { return m_pRaw != nullptr || m_nPngEvery > 0; }

    // On the engine's output thread, for composed frame number `index`.
    void Offer(const AVFrame* frame, int64_t index);
    // Writes what is queued and ends the thread; false after a write failure.
    bool Finish(std::string& error);

    int64_t RawFrames() const { return m_nRawFrames; }
    int64_t Snapshots() const { return m_nSnapshots; }

private:
    struct TJob {
        AVFrame* frame;
        int64_t index;
        bool raw;
        bool png;
    };

    void Run();
    bool WriteRaw(const AVFrame* frame);
    bool WritePng(const AVFrame* frame, int64_t index);

    std::string m_strRawPath;
    int m_nPngEvery;
    std::string m_strPngDir;
    std::FILE* m_pRaw = nullptr;

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<TJob> m_jobs;
    bool m_bFinishing = false;
    std::string m_strError;  // the first failure
    std::thread m_thread;

    int64_t m_nRawFrames = 0;  // writer thread until Finish
    int64_t m_nSnapshots = 0;
};

}  // namespace pelorn::play

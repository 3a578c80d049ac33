#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace console {

// Whether a destination is a network push: "rtmp://" or "udp://" in any case.
bool IsRtmpDestination(const std::string& destination);
bool IsUdpDestination(const std::string& destination);
// "flv" for RTMP, "mpegts" for UDP, else null (the file name decides).
const char* ContainerFor(const std::string& destination);

// One output of a recorder: a file or a network push. The container follows
// the destination: FLV for RTMP, MPEG-TS for UDP, else the file extension.
// MP4 files are fragmented (a fragment per keyframe, at most 1 s) and
// Matroska clusters end after 1 s, so a killed recording keeps all but its
// last second.
//
// Every blocking network operation (connect, write, trailer) ends after
// kNetworkTimeoutMs; after Abort, after kAbortTimeoutMs. Open, AddStream,
// Start and Close belong to the owner's thread while no Write runs; Write to
// the recorder's worker; Abort and the counters to any thread.
class TMuxer {
public:
    static constexpr int kNetworkTimeoutMs = 5000;
    static constexpr int kAbortTimeoutMs = 200;

    TMuxer();
    virtual ~TMuxer();
    TMuxer(const TMuxer&) = delete;
    TMuxer& operator=(const TMuxer&) = delete;

    // 0 or an FFmpeg error (the reason in the error trail).
    virtual int Open(const std::string& destination);
    // 0, AVERROR_UNKNOWN (not open), kResultFail (header written, or no
    // stream) or an FFmpeg error.
    virtual int AddStream(const AVCodecContext* codecContext);
    // The same from parameters copied out of an encoder and its time base.
    int AddStream(const AVCodecParameters* parameters, AVRational timeBase);
    // Writes the header: 0 or kResultFail.
    virtual int Start();
    // Writes a new reference to `packet` (timestamps in `timeBase`) to the
    // stream of `mediaType`. 0, kResultFail or an FFmpeg error.
    virtual int Write(int mediaType, const AVPacket* packet, AVRational timeBase);
    // Trailer and close; safe to repeat.
    virtual void Close();

    // Ends blocking network operations quickly from now on.
    void Abort() { m_bAbort.store(true, std::memory_order_release); }

    bool IsNetwork() const { return m_bNetwork; }
    bool HeaderWritten() const { return m_bHeaderWritten; }
    const std::string& Destination() const { return m_strDestination; }
    const char* FormatName() const;

    int64_t BytesWritten() const { return m_nBytes.load(std::memory_order_relaxed); }
    int64_t PacketsWritten() const { return m_nPackets.load(std::memory_order_relaxed); }
    int64_t WriteErrors() const { return m_nErrors.load(std::memory_order_relaxed); }

private:
    static int InterruptCallback(void* self);
    void BeginBlockingCall();

    AVFormatContext* m_pFormatCtx = nullptr;
    bool m_bHeaderWritten = false;
    std::array<int32_t, 6> m_streamMap;
    AVPacket* m_pPacket = nullptr;
    std::string m_strDestination;
    bool m_bNetwork = false;
    std::atomic<bool> m_bAbort{false};
    std::atomic<int64_t> m_nCallStartUs{0};
    std::atomic<int64_t> m_nBytes{0};
    std::atomic<int64_t> m_nPackets{0};
    std::atomic<int64_t> m_nErrors{0};
};

}  // namespace console

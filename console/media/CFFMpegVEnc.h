#pragma once

#include <array>
#include <cstdint>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace console {

// One H.264 encoder for the recorder. It takes NV12 frames and gives packets
// whose timestamps are the capture times of the frames they encode (when the
// caller passes them), with decode times that rise strictly and never pass
// the presentation time.
//
// The hardware encoder "h264_qsv" is tried only when an Intel DRM device
// exists; otherwise, or when it does not open, libx264 with a preset chosen by
// the pixel rate. One thread at a time.
class CFFMpegVEnc {
public:
    // Capture times of this many frames can be inside the encoder at once.
    static constexpr int kPtsMapSize = 256;

    CFFMpegVEnc();
    virtual ~CFFMpegVEnc();
    CFFMpegVEnc(const CFFMpegVEnc&) = delete;
    CFFMpegVEnc& operator=(const CFFMpegVEnc&) = delete;

    // timeBase is 1/fps. 0 or an FFmpeg error (the reason in the error trail).
    virtual int Open(int codecId, int width, int height, AVRational timeBase, int gop, int bitRate);
    virtual void Close();

    // Sends `frame` (NV12 of the opened size; null flushes) and receives at
    // most one packet into *out, owned by the encoder until the next call.
    // With `captureUs` the packet's pts and dts are µs (time base
    // 1/1,000,000); without, frame counts in the codec time base.
    // 0 (*out may still be null), kResultAgain, an FFmpeg error, or kResultFail
    // when closed.
    int Encode(AVPacket** out, const AVFrame* frame, const int64_t* captureUs);

    bool IsOpen() const { return m_pCodecCtx != nullptr; }
    // The time base of the flush's packets: µs when the frames came with
    // capture times, else the codec's.
    AVRational FlushTimeBase() const {
        return m_bCaptureTimes ? AVRational{1, 1000000} : m_pCodecCtx->time_base;
    }
    const AVCodecContext* CodecContext() const { return m_pCodecCtx; }
    const std::string& EncoderName() const { return m_strEncoder; }

    // "ultrafast" above 1280x720 at 30/s, "superfast" down to 640x360 at 30/s,
    // "veryfast" below.
    static const char* PresetFor(int width, int height, AVRational timeBase);

private:
    int OpenWith(const AVCodec* codec, AVPixelFormat format, int width, int height,
                 AVRational timeBase, int gop, int bitRate);
    void FillTemplate();
    void RememberCaptureTime(int64_t captureUs);
    void MapToCaptureTimes(AVPacket* packet);

    AVCodecContext* m_pCodecCtx = nullptr;
    AVFrame* m_pFrame = nullptr;  // the template sent to the encoder; pts counts frames
    AVPacket* m_pPacket = nullptr;
    bool m_bFlushing = false;
    std::string m_strEncoder;

    struct TPtsEntry {
        int64_t key = -1;  // frame counter
        int64_t value = 0;  // capture time, µs
    };
    std::array<TPtsEntry, kPtsMapSize> m_ptsMap{};
    int64_t m_nFramesSent = 0;
    int64_t m_nPacketsOut = 0;
    int64_t m_nFrameUs = 0;  // one frame interval
    int64_t m_nFirstCaptureUs = 0;
    bool m_bCaptureTimes = false;  // the frames came with capture times
};

}  // namespace console

#pragma once

#include <cstdint>
#include <vector>

#include "tools/vcam/IFrameSink.h"
#include "tools/vcam/TPictureLayout.h"

namespace pelorn::vcam {

enum class TStreamKind {
    Raw,  // the packed pictures back to back, as they are in the slots
    Y4m,  // YUV4MPEG2: YUYV as planar 4:2:2, I420 and NV12 as planar 4:2:0, the
          // RGB formats as planar 4:4:4
};

// A raw or YUV4MPEG2 stream into a file descriptor (standard output or a
// file). A y4m stream has one picture format: frames of another format
// after the first are not written and are counted instead.
class TStreamSink final : public IFrameSink {
public:
    // ownsFd: close fd on destruction. framesPerSecond goes into the y4m header.
    TStreamSink(int fd, bool ownsFd, TStreamKind kind, int framesPerSecond);
    ~TStreamSink() override;
    TStreamSink(const TStreamSink&) = delete;
    TStreamSink& operator=(const TStreamSink&) = delete;

    int Configure(int width, int height, int format) override;
    int Write(const uint8_t* pixels, size_t size) override;

    int64_t SkippedFrames() const { return m_nSkipped; }

private:
    int StartY4m(int width, int height, int format);
    void ConvertToPlanar(const uint8_t* pixels);

    int m_fd;
    bool m_bOwnsFd;
    TStreamKind m_kind;
    int m_nFramesPerSecond;
    // The y4m stream's picture; set by the first Configure.
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nFormat = -1;
    bool m_bMatchesStream = false;
    TPictureLayout m_planes;       // the y4m frame's planes, after the marker
    std::vector<uint8_t> m_frame;  // "FRAME\n" and the planes, allocated once per format
    std::vector<uint8_t> m_bgra;   // BGR24 and RGB24 widened to BGRA on the way to 4:4:4
    int64_t m_nSkipped = 0;
};

}  // namespace pelorn::vcam

#pragma once

#include <cstdint>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "console/media/TADChannelBuf.h"
#include "console/media/TActiveBuf.h"

namespace console {

// AAC from 16-bit interleaved PCM in any chunk sizes: the input is cut into
// frames of the codec's frame size, converted to planar float and stamped by
// counting samples from 0. One thread at a time.
class CFFMpegAEnc {
public:
    CFFMpegAEnc();
    virtual ~CFFMpegAEnc();
    CFFMpegAEnc(const CFFMpegAEnc&) = delete;
    CFFMpegAEnc& operator=(const CFFMpegAEnc&) = delete;

    // 0, kResultFail for a codec other than AAC, or an FFmpeg error.
    virtual int Open(int codecId, int channels, int sampleRate, int bitRate);
    virtual void Close();

    // Offers `available` sample frames (null samples flush); *consumed tells
    // how many were taken. 0 with a packet in *out (owned by the encoder until
    // the next call), kResultAgain without one, an FFmpeg error, or
    // kResultFail when closed. At most one packet per call.
    int Encode(const int16_t* samples, int available, int* consumed, AVPacket** out);

    bool IsOpen() const { return m_pCodecCtx != nullptr; }
    const AVCodecContext* CodecContext() const { return m_pCodecCtx; }
    int FrameBytes() const { return m_nFrameBytes; }

private:
    int SendFrame(const int16_t* interleaved, int frameSize);
    void SendRemainder(int held, int frameSize);

    int32_t m_nFrameBytes = 0;  // channels x 2
    AVCodecContext* m_pCodecCtx = nullptr;
    AVFrame* m_pFrame = nullptr;  // pts counts samples
    AVPacket* m_pPacket = nullptr;
    TActiveBuf<unsigned char> m_carry{1024};
    bool m_bPlanar = true;
    TADChannelBuf<float> m_planes;
    bool m_bFlushing = false;
};

}  // namespace console

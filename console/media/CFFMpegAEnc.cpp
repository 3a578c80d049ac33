#include "console/media/CFFMpegAEnc.h"

#include <vector>

#include "common/ErrorTrail.h"
#include "console/media/MediaCodes.h"

namespace console {

CFFMpegAEnc::CFFMpegAEnc() : m_pFrame(av_frame_alloc()), m_pPacket(av_packet_alloc()) {}

CFFMpegAEnc::~CFFMpegAEnc() {
    Close();
    av_frame_free(&m_pFrame);
    av_packet_free(&m_pPacket);
}

int CFFMpegAEnc::Open(int codecId, int channels, int sampleRate, int bitRate) {
    Close();
    if (codecId != AV_CODEC_ID_AAC) {
        common::ErrorTrail::Add("codecID != AV_CODEC_ID_AAC");
        return kResultFail;
    }
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (codec == nullptr) return AVERROR_INVALIDDATA;
    m_bPlanar = true;
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    if (ctx == nullptr) return AVERROR(ENOMEM);
    ctx->sample_rate = sampleRate;
    // The default layout of the count: a fixed stereo layout fails for any
    // other channel count.
    av_channel_layout_default(&ctx->ch_layout, channels);
    ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    ctx->time_base = AVRational{1, sampleRate};
    ctx->bit_rate = bitRate;
    ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    ctx->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
    const int ret = avcodec_open2(ctx, codec, nullptr);
    if (ret < 0) {
        common::ErrorTrail::AddHr("CFFMpegAEnc avcodec_open2 error, hr", ret);
        avcodec_free_context(&ctx);
        return ret;
    }
    m_pCodecCtx = ctx;
    av_frame_unref(m_pFrame);
    m_pFrame->format = ctx->sample_fmt;
    av_channel_layout_copy(&m_pFrame->ch_layout, &ctx->ch_layout);
    m_pFrame->pts = 0;
    m_nFrameBytes = channels * 2;
    m_bFlushing = false;
    m_carry.Clear();
    return 0;
}

void CFFMpegAEnc::Close() {
    if (m_pCodecCtx == nullptr) return;
    avcodec_free_context(&m_pCodecCtx);
    av_packet_unref(m_pPacket);
    av_channel_layout_uninit(&m_pFrame->ch_layout);
    m_planes.Free();
    m_carry.Clear();
}

// Converts one frame to planar float (sample / 32768) and sends it; null
// `interleaved` sends the end of the stream instead.
int CFFMpegAEnc::SendFrame(const int16_t* interleaved, int frameSize) {
    const int channels = m_pCodecCtx->ch_layout.nb_channels;
    if (interleaved == nullptr) return avcodec_send_frame(m_pCodecCtx, nullptr);
    m_planes.Resize(frameSize, channels);
    for (int k = 0; k < channels; ++k) {
        float* plane = m_planes.Plane(k);
        for (int i = 0; i < frameSize; ++i)
            plane[i] = interleaved[i * channels + k] * (1.0f / 32768.0f);
        m_pFrame->data[k] = reinterpret_cast<uint8_t*>(plane);
        m_pFrame->linesize[k] = frameSize * 4;
    }
    m_pFrame->extended_data = m_pFrame->data;
    m_pFrame->nb_samples = frameSize;
    const int ret = avcodec_send_frame(m_pCodecCtx, m_pFrame);
    if (ret >= 0) m_pFrame->pts += frameSize;
    return ret;
}

// The samples held short of a whole frame when the stream ends: as a short
// last frame where the encoder takes one, else padded with silence.
void CFFMpegAEnc::SendRemainder(int held, int frameSize) {
    if (held <= 0) return;
    int size = held;
    if ((m_pCodecCtx->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) == 0) {
        const std::vector<unsigned char> silence(static_cast<size_t>(frameSize - held) * m_nFrameBytes);
        m_carry.Append(silence.data(), static_cast<int>(silence.size()));
        size = frameSize;
    }
    SendFrame(reinterpret_cast<const int16_t*>(m_carry.Data()), size);
}

int CFFMpegAEnc::Encode(const int16_t* samples, int available, int* consumed, AVPacket** out) {
    *consumed = 0;
    *out = nullptr;
    if (!IsOpen()) return kResultFail;
    av_packet_unref(m_pPacket);
    const int frameSize = m_pCodecCtx->frame_size > 0 ? m_pCodecCtx->frame_size : available;
    const int held = m_carry.Length() / m_nFrameBytes;
    if (samples == nullptr || held + available >= frameSize) {
        const int16_t* frame = nullptr;
        if (samples != nullptr) {
            const int need = frameSize - held;
            if (held >= 1) {
                m_carry.Append(reinterpret_cast<const unsigned char*>(samples), need * m_nFrameBytes);
                frame = reinterpret_cast<const int16_t*>(m_carry.Data());
            } else {
                frame = samples;
            }
            *consumed += need;
            samples += need * (m_nFrameBytes / 2);
            available -= need;
        }
        if (!m_bFlushing) {
            if (frame == nullptr) {
                m_bFlushing = true;
                SendRemainder(held, frameSize);
            }
            const int ret = SendFrame(frame, frameSize);
            m_carry.Clear();
            if (ret == AVERROR(EAGAIN)) return kResultAgain;
            if (ret < 0 && ret != AVERROR_EOF) return ret;
        }
        m_carry.Clear();
    }
    if (samples != nullptr && m_carry.Length() / m_nFrameBytes + available < frameSize) {
        m_carry.Append(reinterpret_cast<const unsigned char*>(samples), available * m_nFrameBytes);
        *consumed += available;
    }
    const int ret = avcodec_receive_packet(m_pCodecCtx, m_pPacket);
    if (ret == AVERROR(EAGAIN)) return kResultAgain;
    if (ret < 0) return ret;
    if (m_pPacket->size == 0) return kResultAgain;
    if (m_pPacket->duration <= 0) m_pPacket->duration = frameSize;
    *out = m_pPacket;
    return 0;
}

}  // namespace console

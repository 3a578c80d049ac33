#include "console/media/CFFMpegVEnc.h"

#include <algorithm>

extern "C" {
#include <libavutil/opt.h>
}

#include "common/ErrorTrail.h"
#include "console/media/MediaCodes.h"
#include "platform/DebugOutput.h"
#include "platform/GraphicsAdapters.h"

namespace console {

namespace {

constexpr int kCodecQtRle = 55;
constexpr int kCodecPng = 61;
constexpr int64_t kUsPerSecond = 1000000;

}  // namespace

CFFMpegVEnc::CFFMpegVEnc() : m_pFrame(av_frame_alloc()), m_pPacket(av_packet_alloc()) {}

CFFMpegVEnc::~CFFMpegVEnc() {
    Close();
    av_frame_free(&m_pFrame);
    av_packet_free(&m_pPacket);
}

const char* CFFMpegVEnc::PresetFor(int width, int height, AVRational timeBase) {
    // Pixels per second against w x h x 30; num/den is the frame interval.
    const int64_t rate = int64_t{width} * height * timeBase.den / std::max(timeBase.num, 1);
    if (rate > int64_t{1280} * 720 * 30) return "ultrafast";
    if (rate >= int64_t{640} * 360 * 30) return "superfast";
    return "veryfast";
}

int CFFMpegVEnc::Open(int codecId, int width, int height, AVRational timeBase, int gop,
                      int bitRate) {
    Close();
    m_bFlushing = false;
    int ret = AVERROR_INVALIDDATA;
    if (codecId == AV_CODEC_ID_H264) {
        const AVCodec* qsv = avcodec_find_encoder_by_name("h264_qsv");
        if (qsv != nullptr && platform::HasIntelDrmDevice())
            ret = OpenWith(qsv, AV_PIX_FMT_NV12, width, height, timeBase, gop, bitRate);
        if (!IsOpen()) {
            const AVCodec* x264 = avcodec_find_encoder_by_name("libx264");
            if (x264 == nullptr) x264 = avcodec_find_encoder(AV_CODEC_ID_H264);
            if (x264 != nullptr)
                ret = OpenWith(x264, AV_PIX_FMT_NV12, width, height, timeBase, gop, bitRate);
        }
    } else if (codecId == kCodecQtRle || codecId == kCodecPng) {
        const AVCodec* codec = avcodec_find_encoder(static_cast<AVCodecID>(codecId));
        const AVPixelFormat format = codecId == kCodecQtRle ? AV_PIX_FMT_ARGB : AV_PIX_FMT_RGBA;
        if (codec != nullptr) ret = OpenWith(codec, format, width, height, timeBase, gop, 0);
    }
    if (!IsOpen()) {
        common::ErrorTrail::AddRet("avcodec_open2 err, 请检查核显驱动版本或确保核显可用性", ret);
        return ret;
    }
    FillTemplate();
    m_ptsMap.fill(TPtsEntry{});
    m_nFramesSent = m_nPacketsOut = 0;
    m_bCaptureTimes = false;
    m_nFrameUs = av_rescale_q(1, timeBase, AVRational{1, kUsPerSecond});
    return 0;
}

int CFFMpegVEnc::OpenWith(const AVCodec* codec, AVPixelFormat format, int width, int height,
                          AVRational timeBase, int gop, int bitRate) {
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    if (ctx == nullptr) return AVERROR(ENOMEM);
    ctx->width = width;
    ctx->height = height;
    ctx->sample_aspect_ratio = AVRational{1, 1};
    ctx->pix_fmt = format;
    ctx->time_base = timeBase;
    ctx->framerate = av_inv_q(timeBase);
    ctx->gop_size = gop;
    ctx->max_b_frames = gop < 2 ? 0 : 2;
    ctx->bit_rate = ctx->rc_min_rate = ctx->rc_max_rate = bitRate;
    ctx->rc_buffer_size = bitRate;
    ctx->bit_rate_tolerance = 0;
    ctx->rc_initial_buffer_occupancy = static_cast<int>(int64_t{bitRate} * 3 / 4);
    ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    if (std::string_view(codec->name) == "libx264")
        av_dict_set(&options, "preset", PresetFor(width, height, timeBase), 0);
    const int ret = avcodec_open2(ctx, codec, &options);
    av_dict_free(&options);
    if (ret < 0) {
        avcodec_free_context(&ctx);
        return ret;
    }
    m_pCodecCtx = ctx;
    m_strEncoder = codec->name;
    return 0;
}

void CFFMpegVEnc::FillTemplate() {
    av_frame_unref(m_pFrame);
    m_pFrame->format = m_pCodecCtx->pix_fmt;
    m_pFrame->width = m_pCodecCtx->width;
    m_pFrame->height = m_pCodecCtx->height;
    m_pFrame->sample_aspect_ratio = m_pCodecCtx->sample_aspect_ratio;
    m_pFrame->quality = m_pCodecCtx->global_quality;
    m_pFrame->color_range = m_pCodecCtx->color_range;
    m_pFrame->color_primaries = m_pCodecCtx->color_primaries;
    m_pFrame->color_trc = m_pCodecCtx->color_trc;
    m_pFrame->colorspace = m_pCodecCtx->colorspace;
    m_pFrame->chroma_location = m_pCodecCtx->chroma_sample_location;
    m_pFrame->pts = 0;
    m_pFrame->pict_type = AV_PICTURE_TYPE_NONE;
    m_pFrame->interlaced_frame = 0;
}

void CFFMpegVEnc::Close() {
    if (m_pCodecCtx == nullptr) return;
    avcodec_free_context(&m_pCodecCtx);
    av_packet_unref(m_pPacket);
    m_strEncoder.clear();
}

void CFFMpegVEnc::RememberCaptureTime(int64_t captureUs) {
    if (m_nFramesSent == 0) m_nFirstCaptureUs = captureUs;
    m_bCaptureTimes = true;
    m_ptsMap[m_nFramesSent % kPtsMapSize] = TPtsEntry{m_nFramesSent, captureUs};
}

int CFFMpegVEnc::Encode(AVPacket** out, const AVFrame* frame, const int64_t* captureUs) {
    *out = nullptr;
    if (!IsOpen()) return kResultFail;
    av_packet_unref(m_pPacket);
    if (!m_bFlushing) {
        int ret;
        if (frame == nullptr) {
            m_bFlushing = true;
            ret = avcodec_send_frame(m_pCodecCtx, nullptr);
        } else {
            // The template borrows the frame's planes and buffers; the send
            // takes its own references.
            for (int i = 0; i < AV_NUM_DATA_POINTERS; ++i) {
                m_pFrame->data[i] = frame->data[i];
                m_pFrame->linesize[i] = frame->linesize[i];
                m_pFrame->buf[i] = frame->buf[i];
            }
            m_pFrame->pts = m_nFramesSent;
            if (captureUs != nullptr) RememberCaptureTime(*captureUs);
            ret = avcodec_send_frame(m_pCodecCtx, m_pFrame);
            for (auto& buffer : m_pFrame->buf) buffer = nullptr;
            if (ret >= 0) ++m_nFramesSent;
        }
        if (ret == AVERROR(EAGAIN)) return kResultAgain;
        if (ret < 0 && ret != AVERROR_EOF) {
            platform::DebugOutput("\n\r ------------------- avcodec_send_frame error\n\r");
            return ret;
        }
    }
    const int ret = avcodec_receive_packet(m_pCodecCtx, m_pPacket);
    if (ret == AVERROR(EAGAIN)) return kResultAgain;
    if (ret < 0) return ret;
    if (m_pPacket->size == 0) return kResultFail;
    m_pPacket->duration = 1;
    const bool mapped = captureUs != nullptr || (m_bFlushing && m_bCaptureTimes);
    if (mapped) MapToCaptureTimes(m_pPacket);
    ++m_nPacketsOut;
    *out = m_pPacket;
    return 0;
}

// The n-th packet's dts is the capture time of the (n - delay)-th frame sent,
// delay being the encoder's reorder depth; the first `delay` packets take
// times a frame interval apart before the first frame's. With capture times
// rising this keeps dts rising and at most pts even across capture gaps.
void CFFMpegVEnc::MapToCaptureTimes(AVPacket* packet) {
    const auto captureTime = [this](int64_t counter, int64_t* value) {
        const TPtsEntry& entry = m_ptsMap[counter % kPtsMapSize];
        if (counter < 0 || entry.key != counter) return false;
        *value = entry.value;
        return true;
    };
    int64_t pts = 0;
    if (!captureTime(packet->pts, &pts)) {
        platform::DebugOutput("\n\r ------------------- frame_pts not find in m_ptsMap\n\r");
        pts = m_nFirstCaptureUs + packet->pts * m_nFrameUs;
    }
    const int64_t delay = m_pCodecCtx->has_b_frames;
    const int64_t decodeIndex = m_nPacketsOut - delay;
    int64_t dts = 0;
    if (decodeIndex < 0 || !captureTime(decodeIndex, &dts))
        dts = m_nFirstCaptureUs + decodeIndex * m_nFrameUs;
    packet->pts = pts;
    packet->dts = std::min(dts, pts);
    packet->duration = m_nFrameUs;
}

}  // namespace console

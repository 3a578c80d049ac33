#include "tools/play/TFrameWriter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

namespace pelorn::play {
namespace {

struct TFrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct TPacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct TCodecFree {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct TSwsFree {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};

// The frame as RGB24, the one colour layout of the PNG encoder that every
// output format converts to.
std::unique_ptr<AVFrame, TFrameFree> ToRgb24(const AVFrame* frame) {
    std::unique_ptr<AVFrame, TFrameFree> rgb(av_frame_alloc());
    if (!rgb) return nullptr;
    rgb->format = AV_PIX_FMT_RGB24;
    rgb->width = frame->width;
    rgb->height = frame->height;
    if (av_frame_get_buffer(rgb.get(), 0) < 0) return nullptr;
    std::unique_ptr<SwsContext, TSwsFree> scaler(sws_getContext(
        frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), frame->width,
        frame->height, AV_PIX_FMT_RGB24, SWS_POINT, nullptr, nullptr, nullptr));
    if (!scaler) return nullptr;
    sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, rgb->data,
              rgb->linesize);
    return rgb;
}

}  // namespace

TFrameWriter::TFrameWriter(std::string rawPath, int pngEvery, std::string pngDir)
    : m_strRawPath(std::move(rawPath)), m_nPngEvery(pngEvery), m_strPngDir(std::move(pngDir)) {}

TFrameWriter::~TFrameWriter() {
    std::string ignored;
    Finish(ignored);
}

bool TFrameWriter::Open(std::string& error) {
    if (!m_strRawPath.empty()) {
        m_pRaw = std::fopen(m_strRawPath.c_str(), "wb");
        if (m_pRaw == nullptr) {
            error = m_strRawPath + ": " + std::strerror(errno);
            return false;
        }
    }
    if (m_nPngEvery > 0) {
        std::error_code failure;
        std::filesystem::create_directories(m_strPngDir, failure);
        if (failure) {
            error = m_strPngDir + ": " + failure.message();
            return false;
        }
    }
    if (Enabled()) m_thread = std::thread([this] { Run(); });
    return true;
}

void TFrameWriter::Offer(const AVFrame* frame, int64_t index) {
    const bool raw = m_pRaw != nullptr;
    const bool png = m_nPngEvery > 0 && index % m_nPngEvery == 0;
    if (!raw && !png) return;
    // The engine's frame is valid only during its callback: keep a reference.
    AVFrame* kept = av_frame_clone(frame);
    if (kept == nullptr) return;
    std::unique_lock guard(m_lock);
    m_changed.wait(guard, [this] { return m_jobs.size() < kMaxPending || m_bFinishing; });
    if (m_bFinishing) {
        av_frame_free(&kept);
        return;
    }
    m_jobs.push_back({kept, index, raw, png});
    m_changed.notify_all();
}

void TFrameWriter::Run() {
    for (;;) {
        TJob job{};
        {
            std::unique_lock guard(m_lock);
            m_changed.wait(guard, [this] { return !m_jobs.empty() || m_bFinishing; });
            if (m_jobs.empty()) return;
            job = m_jobs.front();
            m_jobs.pop_front();
            m_changed.notify_all();
        }
        bool written = true;
        if (job.raw) written = WriteRaw(job.frame);
        if (written && job.png) written = WritePng(job.frame, job.index);
        av_frame_free(&job.frame);
        if (!written) {
            std::lock_guard guard(m_lock);
            m_bFinishing = true;
            for (TJob& dropped : m_jobs) av_frame_free(&dropped.frame);
            m_jobs.clear();
            m_changed.notify_all();
            return;
        }
    }
}

bool TFrameWriter::WriteRaw(const AVFrame* frame) {
    const int rowBytes =
        av_image_get_linesize(static_cast<AVPixelFormat>(frame->format), frame->width, 0);
    for (int y = 0; y < frame->height; ++y) {
        const uint8_t* row = frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0];
        if (std::fwrite(row, 1, static_cast<size_t>(rowBytes), m_pRaw) !=
            static_cast<size_t>(rowBytes)) {
            std::lock_guard guard(m_lock);
            if (m_strError.empty()) m_strError = m_strRawPath + ": " + std::strerror(errno);
            return false;
        }
    }
    ++m_nRawFrames;
    return true;
}

bool TFrameWriter::WritePng(const AVFrame* frame, int64_t index) {
    auto fail = [this](const std::string& what) {
        std::lock_guard guard(m_lock);
        if (m_strError.empty()) m_strError = what;
        return false;
    };
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (codec == nullptr) return fail("no PNG encoder");
    std::unique_ptr<AVFrame, TFrameFree> rgb = ToRgb24(frame);
    if (!rgb) return fail("cannot convert a frame for its snapshot");
    std::unique_ptr<AVCodecContext, TCodecFree> encoder(avcodec_alloc_context3(codec));
    std::unique_ptr<AVPacket, TPacketFree> packet(av_packet_alloc());
    if (!encoder || !packet) return fail("out of memory");
    encoder->width = frame->width;
    encoder->height = frame->height;
    encoder->pix_fmt = AV_PIX_FMT_RGB24;
    encoder->time_base = {1, 30};
    if (avcodec_open2(encoder.get(), codec, nullptr) < 0 ||
        avcodec_send_frame(encoder.get(), rgb.get()) < 0 ||
        avcodec_receive_packet(encoder.get(), packet.get()) < 0) {
        return fail("PNG encoding failed");
    }
    char name[32];
    std::snprintf(name, sizeof name, "frame_%06lld.png", static_cast<long long>(index));
    const std::string path = (std::filesystem::path(m_strPngDir) / name).string();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return fail(path + ": " + std::strerror(errno));
    const bool complete =
        std::fwrite(packet->data, 1, static_cast<size_t>(packet->size), file) ==
        static_cast<size_t>(packet->size);
    if (std::fclose(file) != 0 || !complete) return fail(path + ": write failed");
    ++m_nSnapshots;
    return true;
}

bool TFrameWriter::Finish(std::string& error) {
    {
        std::lock_guard guard(m_lock);
        m_bFinishing = true;
        m_changed.notify_all();
    }
    if (m_thread.joinable()) m_thread.join();
    if (m_pRaw != nullptr) {
        if (std::fclose(m_pRaw) != 0 && m_strError.empty()) {
            m_strError = m_strRawPath + ": " + std::strerror(errno);
        }
        m_pRaw = nullptr;
    }
    error = m_strError;
    return m_strError.empty();
}

}  // namespace pelorn::play

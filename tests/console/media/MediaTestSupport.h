#pragma once

// Frames, packets and read-back of written media for the recorder's tests.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
}

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <stdlib.h>
#include <memory>
#include <string>
#include <vector>

namespace mediatest {

// The libraries' own notes would bury the test output.
inline const int kQuietLibraries = (av_log_set_level(AV_LOG_ERROR), 0);

struct TFrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using TFramePtr = std::unique_ptr<AVFrame, TFrameDeleter>;

// A picture with a bright bar that moves with `index` (so the encoder has
// work): NV12 grey with the bar in luma; any other format one byte value.
inline TFramePtr MakePicture(int width, int height, AVPixelFormat format, int index = 0) {
    TFramePtr frame(av_frame_alloc());
    frame->width = width;
    frame->height = height;
    frame->format = format;
    av_frame_get_buffer(frame.get(), 32);
    if (format != AV_PIX_FMT_NV12) {
        for (int y = 0; y < height; ++y)
            std::memset(frame->data[0] + y * frame->linesize[0], 40 + index % 200, frame->linesize[0]);
        return frame;
    }
    const int bar = (index * 8) % width;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = frame->data[0] + y * frame->linesize[0];
        std::memset(row, 100, width);
        std::memset(row + bar, 220, std::min(8, width - bar));
    }
    for (int y = 0; y < (height + 1) / 2; ++y)
        std::memset(frame->data[1] + y * frame->linesize[1], 128, width);
    return frame;
}

// Interleaved 16-bit samples of a 1 kHz tone.
inline std::vector<int16_t> Tone(int samples, int channels, int sampleRate, int startSample = 0) {
    std::vector<int16_t> pcm(static_cast<size_t>(samples) * channels);
    for (int i = 0; i < samples; ++i)
        for (int k = 0; k < channels; ++k)
            pcm[i * channels + k] = static_cast<int16_t>(
                8000 * std::sin(2 * M_PI * 1000.0 * (startSample + i) / sampleRate));
    return pcm;
}

struct TPacketInfo {
    int64_t pts;
    int64_t dts;
    bool key;
};

struct TStreamInfo {
    std::string codec;
    int pixelFormat = -1;
    int channels = 0;
    int packets = 0;
    double durationSec = 0;  // last pts + duration of the packets read
    double firstPtsSec = 1e9;
    bool dtsRising = true;   // strictly, in file order
};

struct TFileInfo {
    bool opened = false;
    std::string format;
    std::vector<TStreamInfo> streams;
};

// Opens a written file (or a partial one) and reads every packet.
inline TFileInfo ReadBack(const std::string& path) {
    TFileInfo info;
    AVFormatContext* ctx = nullptr;
    if (avformat_open_input(&ctx, path.c_str(), nullptr, nullptr) < 0) return info;
    if (avformat_find_stream_info(ctx, nullptr) < 0) {
        avformat_close_input(&ctx);
        return info;
    }
    info.opened = true;
    info.format = ctx->iformat->name;
    std::vector<int64_t> lastDts(ctx->nb_streams, INT64_MIN);
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        TStreamInfo stream;
        stream.codec = avcodec_get_name(ctx->streams[i]->codecpar->codec_id);
        stream.pixelFormat = ctx->streams[i]->codecpar->format;
        stream.channels = ctx->streams[i]->codecpar->ch_layout.nb_channels;
        info.streams.push_back(stream);
    }
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(ctx, packet) >= 0) {
        TStreamInfo& stream = info.streams[packet->stream_index];
        const AVRational tb = ctx->streams[packet->stream_index]->time_base;
        ++stream.packets;
        if (packet->dts != AV_NOPTS_VALUE) {
            if (packet->dts <= lastDts[packet->stream_index]) stream.dtsRising = false;
            lastDts[packet->stream_index] = packet->dts;
        }
        if (packet->pts != AV_NOPTS_VALUE)
            stream.firstPtsSec = std::min(stream.firstPtsSec, packet->pts * av_q2d(tb));
        if (packet->pts != AV_NOPTS_VALUE)
            stream.durationSec = std::max(stream.durationSec,
                                          (packet->pts + packet->duration) * av_q2d(tb));
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&ctx);
    return info;
}

// A stream record as sources put in a frame's opaque: time base and start.
class TStreamRecord {
public:
    TStreamRecord(AVRational timeBase, int64_t startTime) : m_pContext(avformat_alloc_context()) {
        m_pStream = avformat_new_stream(m_pContext, nullptr);
        m_pStream->time_base = timeBase;
        m_pStream->start_time = startTime;
    }
    ~TStreamRecord() { avformat_free_context(m_pContext); }
    TStreamRecord(const TStreamRecord&) = delete;
    TStreamRecord& operator=(const TStreamRecord&) = delete;
    AVStream* Get() const { return m_pStream; }

private:
    AVFormatContext* m_pContext;
    AVStream* m_pStream;
};

// 16-bit interleaved audio frame of `samples` from a 1 kHz tone.
inline TFramePtr MakeAudio(int samples, int channels, int sampleRate, int64_t pts, AVStream* stream) {
    TFramePtr frame(av_frame_alloc());
    frame->format = AV_SAMPLE_FMT_S16;
    frame->sample_rate = sampleRate;
    frame->nb_samples = samples;
    av_channel_layout_default(&frame->ch_layout, channels);
    av_frame_get_buffer(frame.get(), 0);
    const auto pcm = Tone(samples, channels, sampleRate);
    std::memcpy(frame->data[0], pcm.data(), pcm.size() * sizeof(int16_t));
    frame->pts = pts;
    frame->opaque = stream;
    return frame;
}

// A folder from mkdtemp, removed with its contents at destruction.
class TTempFolder {
public:
    TTempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "media-XXXXXX").string();
        m_strPath = mkdtemp(pattern.data());
    }
    ~TTempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_strPath, ignored);
    }
    const std::string& Path() const { return m_strPath; }
    std::string operator/(const std::string& name) const { return m_strPath + "/" + name; }

private:
    std::string m_strPath;
};

}  // namespace mediatest

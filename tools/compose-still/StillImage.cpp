#include "tools/compose-still/StillImage.h"

#include <cstdio>
#include <cstring>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace pelorn::tools {
namespace {

struct TCodecDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct TFrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct TPacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using TCodecPtr = std::unique_ptr<AVCodecContext, TCodecDeleter>;
using TFramePtr = std::unique_ptr<AVFrame, TFrameDeleter>;
using TPacketPtr = std::unique_ptr<AVPacket, TPacketDeleter>;

bool EndsWith(const std::string& text, const char* tail) {
    const size_t length = std::strlen(tail);
    return text.size() >= length && text.compare(text.size() - length, length, tail) == 0;
}

bool IsBmp(const std::string& path) {
    return EndsWith(path, ".bmp") || EndsWith(path, ".BMP");
}

AVPixelFormat FormatOf(TPixelLayout layout) {
    return layout == TPixelLayout::kBgra ? AV_PIX_FMT_BGRA : AV_PIX_FMT_BGR24;
}

int BytesOf(TPixelLayout layout) {
    return layout == TPixelLayout::kBgra ? 4 : 3;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return bytes;
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    std::fclose(file);
    return bytes;
}

bool Convert(const uint8_t* const source[4], const int sourceLinesizes[4], AVPixelFormat from,
             int fromWidth, int fromHeight, uint8_t* const target[4], const int targetLinesizes[4],
             AVPixelFormat to, int toWidth, int toHeight) {
    SwsContext* scaler = sws_getContext(fromWidth, fromHeight, from, toWidth, toHeight, to,
                                        SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (scaler == nullptr)
        return false;
    const int rows =
        sws_scale(scaler, source, sourceLinesizes, 0, fromHeight, target, targetLinesizes);
    sws_freeContext(scaler);
    return rows == toHeight;
}

}  // namespace

std::vector<uint8_t> LoadPicture(const std::string& path, TPixelLayout layout, int& width,
                                 int& height) {
    std::vector<uint8_t> bytes = ReadAll(path);
    if (bytes.empty())
        return {};
    const AVCodec* codec = avcodec_find_decoder(IsBmp(path) ? AV_CODEC_ID_BMP : AV_CODEC_ID_PNG);
    TCodecPtr context(codec != nullptr ? avcodec_alloc_context3(codec) : nullptr);
    TPacketPtr packet(av_packet_alloc());
    TFramePtr frame(av_frame_alloc());
    if (!context || !packet || !frame || avcodec_open2(context.get(), codec, nullptr) < 0 ||
        av_new_packet(packet.get(), static_cast<int>(bytes.size())) < 0) {
        return {};
    }
    std::memcpy(packet->data, bytes.data(), bytes.size());
    if (avcodec_send_packet(context.get(), packet.get()) < 0)
        return {};
    avcodec_send_packet(context.get(), nullptr);
    if (avcodec_receive_frame(context.get(), frame.get()) < 0)
        return {};

    if (width <= 0 || height <= 0) {
        width = frame->width;
        height = frame->height;
    }
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * BytesOf(layout));
    uint8_t* const target[4] = {pixels.data(), nullptr, nullptr, nullptr};
    const int targetLinesizes[4] = {width * BytesOf(layout), 0, 0, 0};
    if (!Convert(frame->data, frame->linesize, static_cast<AVPixelFormat>(frame->format),
                 frame->width, frame->height, target, targetLinesizes, FormatOf(layout), width,
                 height)) {
        return {};
    }
    return pixels;
}

bool SavePicture(const std::string& path, const uint8_t* pixels, TPixelLayout layout, int width,
                 int height) {
    const bool bmp = IsBmp(path);
    const AVPixelFormat encoded =
        bmp ? AV_PIX_FMT_BGR24
            : (layout == TPixelLayout::kBgra ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGB24);
    const AVCodec* codec = avcodec_find_encoder(bmp ? AV_CODEC_ID_BMP : AV_CODEC_ID_PNG);
    TCodecPtr context(codec != nullptr ? avcodec_alloc_context3(codec) : nullptr);
    TFramePtr frame(av_frame_alloc());
    TPacketPtr packet(av_packet_alloc());
    if (!context || !frame || !packet)
        return false;
    context->width = width;
    context->height = height;
    context->pix_fmt = encoded;
    context->time_base = {1, 25};
    if (avcodec_open2(context.get(), codec, nullptr) < 0)
        return false;
    frame->width = width;
    frame->height = height;
    frame->format = encoded;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        return false;

    const uint8_t* const source[4] = {pixels, nullptr, nullptr, nullptr};
    const int sourceLinesizes[4] = {width * BytesOf(layout), 0, 0, 0};
    if (!Convert(source, sourceLinesizes, FormatOf(layout), width, height, frame->data,
                 frame->linesize, encoded, width, height)) {
        return false;
    }
    if (avcodec_send_frame(context.get(), frame.get()) < 0 ||
        avcodec_receive_packet(context.get(), packet.get()) < 0) {
        return false;
    }
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written =
        std::fwrite(packet->data, 1, packet->size, file) == static_cast<size_t>(packet->size);
    return std::fclose(file) == 0 && written;
}

}  // namespace pelorn::tools

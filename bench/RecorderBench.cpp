// The recorder's H.264 encoder: libx264 milliseconds per frame at 1080p and
// 720p for each preset the recorder chooses from, on composed pictures (the
// presenter sample) and on noisy ones (every pixel random), at the recording
// bit rate of 2 Mbit/s with the recorder's rate control and a gop of 30.
//
//   build/bin/recorder_bench

#include <benchmark/benchmark.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <random>
#include <vector>

namespace {

constexpr int kPictures = 30;
constexpr const char* kPresets[] = {"ultrafast", "superfast", "veryfast"};

AVFrame* NewNv12(int width, int height) {
    AVFrame* frame = av_frame_alloc();
    frame->width = width;
    frame->height = height;
    frame->format = AV_PIX_FMT_NV12;
    av_frame_get_buffer(frame, 32);
    return frame;
}

std::vector<AVFrame*> NoisyPictures(int width, int height) {
    std::mt19937 random(7);
    std::vector<AVFrame*> pictures;
    for (int i = 0; i < kPictures; ++i) {
        AVFrame* frame = NewNv12(width, height);
        for (int plane = 0; plane < 2; ++plane)
            for (int y = 0; y < (plane == 0 ? height : height / 2); ++y)
                for (int x = 0; x < width; ++x)
                    frame->data[plane][y * frame->linesize[plane] + x] = static_cast<uint8_t>(random());
        pictures.push_back(frame);
    }
    return pictures;
}

// The first pictures of the presenter sample, scaled to the size.
std::vector<AVFrame*> ComposedPictures(int width, int height) {
    std::vector<AVFrame*> pictures;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, PRESENTER_SAMPLE_PATH, nullptr, nullptr) < 0) return pictures;
    avformat_find_stream_info(format, nullptr);
    const AVCodec* codec = nullptr;
    const int stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    AVCodecContext* decoder = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(decoder, format->streams[stream]->codecpar);
    avcodec_open2(decoder, codec, nullptr);
    AVPacket* packet = av_packet_alloc();
    AVFrame* decoded = av_frame_alloc();
    SwsContext* scaler = nullptr;
    while (static_cast<int>(pictures.size()) < kPictures && av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == stream) avcodec_send_packet(decoder, packet);
        av_packet_unref(packet);
        while (static_cast<int>(pictures.size()) < kPictures && avcodec_receive_frame(decoder, decoded) == 0) {
            scaler = sws_getCachedContext(scaler, decoded->width, decoded->height,
                                          static_cast<AVPixelFormat>(decoded->format), width, height,
                                          AV_PIX_FMT_NV12, SWS_BILINEAR, nullptr, nullptr, nullptr);
            AVFrame* frame = NewNv12(width, height);
            sws_scale(scaler, decoded->data, decoded->linesize, 0, decoded->height, frame->data, frame->linesize);
            pictures.push_back(frame);
        }
    }
    sws_freeContext(scaler);
    av_frame_free(&decoded);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
    return pictures;
}

// args: height (1080 or 720), preset index, 0 composed / 1 noisy.
void BM_X264Frame(benchmark::State& state) {
    const int height = static_cast<int>(state.range(0));
    const int width = height * 16 / 9;
    const char* preset = kPresets[state.range(1)];
    auto pictures = state.range(2) == 0 ? ComposedPictures(width, height) : NoisyPictures(width, height);
    if (pictures.empty()) {
        state.SkipWithError("no pictures");
        return;
    }
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->width = width;
    ctx->height = height;
    ctx->pix_fmt = AV_PIX_FMT_NV12;
    ctx->time_base = {1, 30};
    ctx->framerate = {30, 1};
    ctx->gop_size = 30;
    ctx->max_b_frames = 2;
    ctx->bit_rate = ctx->rc_min_rate = ctx->rc_max_rate = ctx->rc_buffer_size = 2097152;
    ctx->rc_initial_buffer_occupancy = 2097152 * 3 / 4;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", preset, 0);
    avcodec_open2(ctx, codec, &options);
    av_dict_free(&options);
    AVPacket* packet = av_packet_alloc();
    int64_t index = 0;
    for (auto _ : state) {
        AVFrame* frame = pictures[index % pictures.size()];
        frame->pts = index++;
        avcodec_send_frame(ctx, frame);
        while (avcodec_receive_packet(ctx, packet) == 0) av_packet_unref(packet);
    }
    state.SetLabel(std::string(preset) + (state.range(2) == 0 ? " composed" : " noisy"));
    av_packet_free(&packet);
    avcodec_free_context(&ctx);
    for (AVFrame* frame : pictures) av_frame_free(&frame);
}

BENCHMARK(BM_X264Frame)
    ->ArgsProduct({{1080, 720}, {0, 1, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(150)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    av_log_set_level(AV_LOG_ERROR);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// av-offset: measures how far a recording's sound lies from its picture, on
// clips made from av-sample.mp4 (a white flash and a beep at the same
// instants). For each flash (a jump of the mean luma) it finds the nearest
// beep onset and prints the offsets, beep minus flash, in milliseconds.
//
//   av-offset FILE...     one line per file; exit 1 when a file has no pair.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr double kFlashLuma = 200;      // mean luma of a flash frame (the scene is ~100)
constexpr float kBeepLevel = 0.05f;     // onset: first sample above this...
constexpr double kQuietBeforeSec = 0.5; // ...after this long below it
constexpr double kPairWindowSec = 0.9;

struct TDecoder {
    AVCodecContext* context = nullptr;
    int stream = -1;
    ~TDecoder() { avcodec_free_context(&context); }
};

bool OpenDecoder(AVFormatContext* format, AVMediaType type, TDecoder& decoder) {
    const AVCodec* codec = nullptr;
    decoder.stream = av_find_best_stream(format, type, -1, -1, &codec, 0);
    if (decoder.stream < 0) return false;
    decoder.context = avcodec_alloc_context3(codec);
    return avcodec_parameters_to_context(decoder.context, format->streams[decoder.stream]->codecpar) >= 0 &&
           avcodec_open2(decoder.context, codec, nullptr) >= 0;
}

double MeanLuma(const AVFrame* frame) {
    double sum = 0;
    for (int y = 0; y < frame->height; y += 4)
        for (int x = 0; x < frame->width; x += 4) sum += frame->data[0][y * frame->linesize[0] + x];
    return sum / ((frame->height + 3) / 4) / ((frame->width + 3) / 4);
}

struct TEvents {
    std::vector<double> flashes;
    std::vector<double> beeps;
    bool wasBright = false;
    double quietSince = -1e9;
    bool inBeep = false;
};

void TakeVideo(const AVFrame* frame, double seconds, TEvents& events) {
    const bool bright = MeanLuma(frame) > kFlashLuma;
    if (bright && !events.wasBright) events.flashes.push_back(seconds);
    events.wasBright = bright;
}

void TakeAudio(const AVFrame* frame, double seconds, TEvents& events) {
    if (frame->format != AV_SAMPLE_FMT_FLTP && frame->format != AV_SAMPLE_FMT_FLT) return;
    const auto* samples = reinterpret_cast<const float*>(frame->data[0]);
    const int step = frame->format == AV_SAMPLE_FMT_FLT ? frame->ch_layout.nb_channels : 1;
    for (int i = 0; i < frame->nb_samples; ++i) {
        const double t = seconds + static_cast<double>(i) / frame->sample_rate;
        if (std::fabs(samples[i * step]) > kBeepLevel) {
            if (!events.inBeep && t - events.quietSince >= kQuietBeforeSec) events.beeps.push_back(t);
            events.inBeep = true;
        } else if (events.inBeep) {
            events.inBeep = false;
            events.quietSince = t;
        } else if (events.quietSince < -1e8) {
            events.quietSince = t;
        }
    }
}

bool Measure(const std::string& path) {
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0 ||
        avformat_find_stream_info(format, nullptr) < 0) {
        std::printf("%s: cannot be read\n", path.c_str());
        avformat_close_input(&format);
        return false;
    }
    TDecoder video, audio;
    if (!OpenDecoder(format, AVMEDIA_TYPE_VIDEO, video) || !OpenDecoder(format, AVMEDIA_TYPE_AUDIO, audio)) {
        std::printf("%s: needs a video and an audio stream\n", path.c_str());
        avformat_close_input(&format);
        return false;
    }
    TEvents events;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    const auto drain = [&](TDecoder& decoder) {
        const AVRational timeBase = format->streams[decoder.stream]->time_base;
        while (avcodec_receive_frame(decoder.context, frame) == 0) {
            const double seconds = frame->best_effort_timestamp * av_q2d(timeBase);
            if (&decoder == &video) TakeVideo(frame, seconds, events);
            else TakeAudio(frame, seconds, events);
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        for (TDecoder* decoder : {&video, &audio}) {
            if (packet->stream_index != decoder->stream) continue;
            avcodec_send_packet(decoder->context, packet);
            drain(*decoder);
        }
        av_packet_unref(packet);
    }
    for (TDecoder* decoder : {&video, &audio}) {
        avcodec_send_packet(decoder->context, nullptr);
        drain(*decoder);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avformat_close_input(&format);

    std::vector<double> offsetsMs;
    for (const double flash : events.flashes) {
        double best = 1e9;
        for (const double beep : events.beeps)
            if (std::fabs(beep - flash) < std::fabs(best)) best = beep - flash;
        if (std::fabs(best) <= kPairWindowSec) offsetsMs.push_back(best * 1000);
        if (std::getenv("AV_OFFSET_VERBOSE") != nullptr)
            std::printf("  flash %.3f s beep offset %.1f ms\n", flash, best * 1000);
    }
    if (offsetsMs.empty()) {
        std::printf("%s: no flash with a beep (%zu flashes, %zu beeps)\n", path.c_str(),
                    events.flashes.size(), events.beeps.size());
        return false;
    }
    double sum = 0;
    for (const double offset : offsetsMs) sum += offset;
    const auto [low, high] = std::minmax_element(offsetsMs.begin(), offsetsMs.end());
    std::printf("%s: %zu pairs, offset mean %.1f ms min %.1f max %.1f\n", path.c_str(),
                offsetsMs.size(), sum / offsetsMs.size(), *low, *high);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    av_log_set_level(AV_LOG_ERROR);
    if (argc < 2) {
        std::fprintf(stderr, "usage: av-offset FILE...\n");
        return 2;
    }
    bool all = true;
    for (int i = 1; i < argc; ++i) all = Measure(argv[i]) && all;
    return all ? 0 : 1;
}

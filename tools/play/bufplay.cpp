// pelorn-bufplay: hosts the buffer-matting engine through the library's
// exports. It decodes the clip once to YUYV 4:2:2 of the chosen size (not
// timed), then calls Process at the clip's pace or back to back, and prints
// frames, failures and the median, p99 and worst Process time every second
// and at the end.
//
// Exit status: 0 when pictures were composed, 1 when the clip or the engine
// failed, 2 for a bad command line.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/ErrorTrail.h"
#include "engine/IBufMattEngine.h"
#include "tools/common/StopSignal.h"
#include "tools/play/TFrameWriter.h"
#include "tools/play/TPlayOptions.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxClipFrames = 300;
constexpr double kBudgetMs = 1.0;

struct TBufOptions {
    std::string file;
    int width = 640;
    int height = 360;
    int screen = 0;
    double seconds = 10;
    bool unpaced = false;
    int pngEvery = 0;
    std::string pngDir;
};

const char kUsage[] =
    "usage: pelorn-bufplay FILE [--size WxH] [--screen N] [--seconds S] [--unpaced]\n"
    "                      [--png-every N DIR]\n"
    "Defaults: --size 640x360 --screen 0 --seconds 10, paced at the clip's rate.\n";

bool ParseOptions(int argc, char** argv, TBufOptions& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto bad = [&](const char* what) {
            error = option + ": " + what;
            return false;
        };
        if (option.rfind("--", 0) != 0) {
            if (!options.file.empty()) return bad("only one file can be played");
            options.file = option;
            continue;
        }
        if (option == "--unpaced") {
            options.unpaced = true;
            continue;
        }
        if (value == nullptr) return bad("needs a value");
        ++i;
        if (option == "--size") {
            if (!pelorn::play::ParseSizeArgument(value, options.width, options.height)) return bad("expected WxH");
        } else if (option == "--screen") {
            if (!pelorn::play::ParseScreenArgument(value, options.screen)) return bad("expected 0 to 63");
        } else if (option == "--seconds") {
            if (!pelorn::play::ParseSecondsArgument(value, options.seconds)) return bad("expected a positive duration");
        } else if (option == "--png-every") {
            if (!pelorn::play::ParseCountArgument(value, options.pngEvery)) return bad("expected a positive count");
            if (i + 1 >= argc) return bad("needs a folder after the interval");
            options.pngDir = argv[++i];
        } else {
            return bad("unknown option");
        }
    }
    if (options.file.empty()) {
        error = "no file to play";
        return false;
    }
    return true;
}

// The clip's pictures as YUYV 4:2:2 of the wanted size, and its frame rate.
struct TClip {
    std::vector<std::vector<uint8_t>> pictures;
    double frameRate = 30;
};

bool DecodeClip(const TBufOptions& options, TClip& clip, std::string& error) {
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, options.file.c_str(), nullptr, nullptr) < 0) {
        error = "cannot open " + options.file;
        return false;
    }
    const AVCodec* codec = nullptr;
    const int stream = avformat_find_stream_info(format, nullptr) < 0
                           ? -1
                           : av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    AVCodecContext* decoder = stream >= 0 ? avcodec_alloc_context3(codec) : nullptr;
    if (decoder == nullptr || avcodec_parameters_to_context(decoder, format->streams[stream]->codecpar) < 0 ||
        avcodec_open2(decoder, codec, nullptr) < 0) {
        avcodec_free_context(&decoder);
        avformat_close_input(&format);
        error = "no decodable video stream in " + options.file;
        return false;
    }
    const AVRational rate = format->streams[stream]->avg_frame_rate;
    if (rate.num > 0 && rate.den > 0) clip.frameRate = av_q2d(rate);
    SwsContext* scaler = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    const int lineSize = options.width * 2;
    auto receive = [&] {
        while (avcodec_receive_frame(decoder, frame) == 0 && clip.pictures.size() < kMaxClipFrames) {
            scaler = sws_getCachedContext(scaler, frame->width, frame->height,
                                          static_cast<AVPixelFormat>(frame->format), options.width,
                                          options.height, AV_PIX_FMT_YUYV422, SWS_BILINEAR, nullptr, nullptr,
                                          nullptr);
            if (scaler == nullptr) return;
            std::vector<uint8_t> picture(static_cast<size_t>(lineSize) * options.height);
            uint8_t* planes[] = {picture.data()};
            sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, planes, &lineSize);
            clip.pictures.push_back(std::move(picture));
        }
    };
    while (clip.pictures.size() < kMaxClipFrames && av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == stream && avcodec_send_packet(decoder, packet) == 0) receive();
        av_packet_unref(packet);
    }
    avcodec_send_packet(decoder, nullptr);
    receive();
    sws_freeContext(scaler);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
    if (clip.pictures.empty()) error = "no picture decoded from " + options.file;
    return !clip.pictures.empty();
}

// Process times of one window or of the whole run, in microseconds.
struct TTimes {
    std::vector<int64_t> micros;
    int64_t failures = 0;

    void Print(const char* label) {
        std::vector<int64_t> sorted = micros;
        std::sort(sorted.begin(), sorted.end());
        auto at = [&](double share) {
            return sorted.empty() ? 0.0 : sorted[std::min(sorted.size() - 1, static_cast<size_t>(share * sorted.size()))] / 1000.0;
        };
        const auto within = std::count_if(sorted.begin(), sorted.end(), [](int64_t us) { return us <= kBudgetMs * 1000; });
        std::printf("%s frames %zu failures %lld process ms median %.3f p99 %.3f worst %.3f within %.0f ms %.1f%%\n",
                    label, micros.size(), static_cast<long long>(failures), at(0.5), at(0.99),
                    sorted.empty() ? 0.0 : sorted.back() / 1000.0, kBudgetMs,
                    sorted.empty() ? 0.0 : 100.0 * static_cast<double>(within) / sorted.size());
        std::fflush(stdout);
    }
};

// A composed picture for the snapshot writer, which keeps its own reference.
void OfferSnapshot(pelorn::play::TFrameWriter& writer, const std::vector<uint8_t>& bgr, int width, int height,
                   int64_t index) {
    AVFrame* frame = av_frame_alloc();
    frame->format = AV_PIX_FMT_BGR24;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame, 1) == 0) {
        for (int y = 0; y < height; ++y) {
            std::memcpy(frame->data[0] + static_cast<size_t>(y) * frame->linesize[0], &bgr[static_cast<size_t>(y) * width * 3],
                        static_cast<size_t>(width) * 3);
        }
        writer.Offer(frame, index);
    }
    av_frame_free(&frame);
}

int Run(const TBufOptions& options, const TClip& clip, IBufMattEngine& engine) {
    if (engine.SetUp(static_cast<int16_t>(options.width), static_cast<int16_t>(options.height),
                     static_cast<int16_t>(options.screen)) != 0) {
        std::fprintf(stderr, "pelorn-bufplay: SetUp failed\n%s\n", common::ErrorTrail::Take().c_str());
        return 1;
    }
    pelorn::play::TFrameWriter writer({}, options.pngEvery, options.pngDir);
    std::string error;
    if (!writer.Open(error)) {
        std::fprintf(stderr, "pelorn-bufplay: %s\n", error.c_str());
        return 1;
    }
    std::vector<uint8_t> destination(static_cast<size_t>(options.width) * options.height * 3);
    TTimes window, total;
    const Clock::time_point start = Clock::now();
    const auto period = std::chrono::duration<double>(1.0 / clip.frameRate);
    Clock::time_point nextPrint = start + std::chrono::seconds(1);
    int64_t calls = 0;
    while (!tools::g_stopRequested && Clock::now() - start < std::chrono::duration<double>(options.seconds)) {
        if (!options.unpaced) {
            std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(period * calls));
        }
        const std::vector<uint8_t>& source = clip.pictures[calls % clip.pictures.size()];
        const Clock::time_point before = Clock::now();
        const int result = engine.Process(destination.data(), source.data());
        const int64_t micros = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - before).count();
        for (TTimes* times : {&window, &total}) {
            times->micros.push_back(micros);
            times->failures += result != 0;
        }
        if (result == 0 && writer.Enabled() && calls % options.pngEvery == 0) {
            OfferSnapshot(writer, destination, options.width, options.height, calls);
        }
        ++calls;
        if (Clock::now() >= nextPrint) {
            window.Print("second");
            window = {};
            nextPrint += std::chrono::seconds(1);
        }
    }
    engine.Stop();
    total.Print("total");
    common::ErrorTrail::Take();  // one line per refused call; the counts say it
    if (!writer.Finish(error)) std::fprintf(stderr, "pelorn-bufplay: %s\n", error.c_str());
    return total.micros.size() > static_cast<size_t>(total.failures) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    TBufOptions options;
    std::string error;
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!ParseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "pelorn-bufplay: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    TClip clip;
    if (!DecodeClip(options, clip, error)) {
        std::fprintf(stderr, "pelorn-bufplay: %s\n", error.c_str());
        return 1;
    }
    tools::InstallStopSignals();
    IBufMattEngine* engine = CreateInstance_IBufMattEngine();
    if (engine == nullptr) {
        std::fprintf(stderr, "pelorn-bufplay: the engine could not be made\n%s\n", common::ErrorTrail::Take().c_str());
        return 1;
    }
    const int status = Run(options, clip, *engine);
    ReleaseInstance_IBufMattEngine(&engine);
    return status;
}

// pelorn-play: plays a media file or a camera through the engine without the console.
// It loads the engine library and drives it only through ICapMattEngine, as
// the console does: create, list the parameters, Open the file, SetLayout,
// SetParam, SetProcessFlags, then Stop and release. Every second it prints
// the figures of the composed frames; at the end a summary line.
//
// Exit status: 0 when frames were composed, 1 when the engine failed (the
// error trail follows on standard error), 2 for a bad command line.


extern "C" {
#include <libavutil/frame.h>
#include <libavutil/time.h>
}

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "common/ErrorTrail.h"
#include "engine/ICapMattEngine.h"
#include "tools/common/StopSignal.h"
#include "tools/play/PlayLayouts.h"
#include "tools/play/TFrameWriter.h"
#include "tools/play/TPlayOptions.h"
#include "tools/play/TPlayStats.h"

namespace {

using namespace pelorn::play;

struct TPlayback {
    TPlayStats stats;
    TFrameWriter* writer = nullptr;
    std::atomic<int64_t> composed{0};
    // The callback's virtual-camera state and the wall-clock time (µs since
    // the epoch) of its last change, stored before the state.
    std::atomic<int> cameraInUse{0};
    std::atomic<int64_t> cameraChangedAt{0};
    // When Open returned and the first composed frame arrived (µs of FFmpeg's
    // monotonic clock); 0 until then.
    int64_t openReturnedAt = 0;
    std::atomic<int64_t> firstFrameAt{0};
};

// The engine's output thread, once per composed frame.
long OnFrame(unsigned char* bytes, void* user, int cameraInUse) {
    const int64_t now = av_gettime_relative();
    auto* playback = static_cast<TPlayback*>(user);
    const auto* frame = reinterpret_cast<const AVFrame*>(bytes);
    int64_t none = 0;
    playback->firstFrameAt.compare_exchange_strong(none, now, std::memory_order_release);
    playback->stats.Add({frame->pkt_size, frame->pkt_dts, frame->pkt_pos, frame->pkt_duration, now});
    playback->writer->Offer(frame, playback->composed.fetch_add(1));
    if (cameraInUse != playback->cameraInUse.load(std::memory_order_relaxed)) {
        playback->cameraChangedAt.store(av_gettime(), std::memory_order_relaxed);
        playback->cameraInUse.store(cameraInUse, std::memory_order_release);
    }
    return 0;
}

// One line per change of the virtual camera's state, with the wall-clock
// time at which the engine first reported it.
void PrintCameraChange(const TPlayback& playback, int& shown) {
    const int inUse = playback.cameraInUse.load(std::memory_order_acquire);
    if (inUse == shown) return;
    shown = inUse;
    const int64_t at = playback.cameraChangedAt.load(std::memory_order_relaxed);
    std::printf("virtual camera in use %d (clock %lld.%06lld s)\n", inUse,
                static_cast<long long>(at / 1000000), static_cast<long long>(at % 1000000));
    std::fflush(stdout);
}

const char* FormatName(int pixelFormat) {
    switch (pixelFormat) {
        case 3:
            return "bgr24";
        case 28:
            return "bgra";
        default:
            return "yuyv422";
    }
}

void PrintFigures(const char* head, const TPlayStats::TFigures& figures) {
    std::printf(
        "%s frames %lld  rate %.2f fps  pkt_pos median %lld ms worst %lld ms  delay median %.1f "
        "ms p99 %.1f ms  drops queue-full %lld low-latency %lld\n",
        head, static_cast<long long>(figures.frames), figures.measuredRate,
        static_cast<long long>(figures.medianProcessMs),
        static_cast<long long>(figures.worstProcessMs), figures.medianDelayMs,
        figures.p99DelayMs, static_cast<long long>(figures.queueFullDrops),
        static_cast<long long>(figures.lowLatencyDrops));
    std::fflush(stdout);
}

int Fail(const char* step) {
    std::fprintf(stderr, "pelorn-play: %s failed\n%s\n", step,
                 common::ErrorTrail::Take().c_str());
    return 1;
}

// For a camera: how long Open took and how much later the first frame came.
void PrintFirstFrame(const TPlayback& playback, int64_t openMs, bool& shown) {
    const int64_t first = playback.firstFrameAt.load(std::memory_order_acquire);
    if (shown || first == 0) return;
    shown = true;
    std::printf("open %lld ms, first frame %lld ms later\n", static_cast<long long>(openMs),
                static_cast<long long>((first - playback.openReturnedAt) / 1000));
    std::fflush(stdout);
}

TCapOpenParam OpenParamFor(const TPlayOptions& options) {
    TCapOpenParam param;
    const bool camera = !options.camera.empty();
    param.sources[0].kind = camera ? kCapSourceCamera : kCapSourceFile;
    param.sources[0].name = camera ? options.camera : options.file;
    param.sources[1].kind = kCapSourceNone;
    if (options.screen >= 0) {
        // As the console fills it: the whole output.
        param.sources[1].kind = kCapSourceScreen;
        param.sources[1].name = std::to_string(options.screen);
        param.sources[1].region = {0, 0, options.width - 1, options.height - 1};
    }
    param.outWidth = static_cast<int16_t>(options.width);
    param.outHeight = static_cast<int16_t>(options.height);
    param.outFormat = static_cast<int16_t>(options.pixelFormat);
    param.outFrameRate = static_cast<int16_t>(options.frameRate);
    return param;
}

// Until the frame count or the time is reached, or a signal arrives.
void RunFor(const TPlayOptions& options, TPlayback& playback, int64_t openMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    Clock::time_point nextLine = start + std::chrono::seconds(1);
    int second = 0;
    int cameraShown = 0;
    bool firstFrameShown = options.camera.empty();
    while (!tools::g_stopRequested.load()) {
        PrintCameraChange(playback, cameraShown);
        PrintFirstFrame(playback, openMs, firstFrameShown);
        const Clock::time_point now = Clock::now();
        const double elapsed = std::chrono::duration<double>(now - start).count();
        if (options.frames > 0 && playback.composed.load() >= options.frames) break;
        if (options.seconds > 0 && elapsed >= options.seconds) break;
        if (now >= nextLine) {
            char head[32];
            std::snprintf(head, sizeof head, "[%4d s]", ++second);
            PrintFigures(head, playback.stats.TakeWindow());
            nextLine += std::chrono::seconds(1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace

int main(int argc, char** argv) {
    TPlayOptions options;
    std::string error;
    if (!ParsePlayOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "pelorn-play: %s\n%s", error.c_str(), PlayUsage());
        return 2;
    }
    if (options.help) {
        std::printf("%s", PlayUsage());
        return 0;
    }
    tools::InstallStopSignals();
    if (!options.cameraStandin.empty()) setenv("QUINDLE_CAMERA_STANDIN", options.cameraStandin.c_str(), 1);

    TFrameWriter writer(options.rawOut, options.pngEvery, options.pngDir);
    if (!writer.Open(error)) {
        std::fprintf(stderr, "pelorn-play: %s\n", error.c_str());
        return 1;
    }
    TPlayback playback;
    playback.writer = &writer;

    ICapMattEngine* engine = CreateInstance_ICapMattEngine(
        &OnFrame, &playback, options.virtualCamera ? 0xFFFFFFFFu : 0u);
    if (engine == nullptr) return Fail("CreateInstance_ICapMattEngine");

    TCapParamList params;
    engine->GetParamList(&params);
    TCapOpenParam param = OpenParamFor(options);
    const int64_t openStart = av_gettime_relative();
    const int opened = engine->Open(&param);
    playback.openReturnedAt = av_gettime_relative();
    if (opened != 0) {
        ReleaseInstance_ICapMattEngine(&engine);
        return Fail("Open");
    }
    // Open succeeds even when the compositor could not be set up; say so.
    const std::string warnings = common::ErrorTrail::Take();
    if (!warnings.empty()) std::fprintf(stderr, "pelorn-play: warning: %s\n", warnings.c_str());
    std::printf("playing %s (%dx%d, format %d, %d fps) as %dx%d %s at %d fps, flags 0x%x\n",
                param.sources[0].name.c_str(), param.actualFormat.width, param.actualFormat.height,
                param.actualFormat.pixelFormat, param.actualFormat.frameRate, options.width,
                options.height, FormatName(options.pixelFormat), options.frameRate,
                options.processFlags);

    TCapLayout layout = BuiltInLayout(options.layout);
    engine->SetLayout(&layout);
    for (const auto& [index, value] : options.params) engine->SetParam(value, index);
    engine->SetProcessFlags(static_cast<int>(options.processFlags));

    RunFor(options, playback, (playback.openReturnedAt - openStart) / 1000);
    engine->Stop();
    ReleaseInstance_ICapMattEngine(&engine);
    const bool written = writer.Finish(error);

    const TPlayStats::TFigures total = playback.stats.Total();
    char head[96];
    std::snprintf(head, sizeof head, "summary: %.2f fps delivered,", total.deliveredRate);
    PrintFigures(head, total);
    if (writer.Enabled()) {
        std::printf("written: %lld raw frames, %lld snapshots\n",
                    static_cast<long long>(writer.RawFrames()),
                    static_cast<long long>(writer.Snapshots()));
    }
    if (!written) {
        std::fprintf(stderr, "pelorn-play: writing frames failed: %s\n", error.c_str());
        return 1;
    }
    if (total.frames == 0) return Fail("playback (no frame was composed)");
    return 0;
}

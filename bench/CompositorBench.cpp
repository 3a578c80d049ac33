// The compositor's figures, printed one per line:
//   - Compose of a 1920 x 1080 YUYV presenter on green over a 1920 x 1080
//     canvas into BGR24, matting on, full-screen layout (median of many frames),
//     and the same into BGRA;
//   - the same picture pair through FFmpeg's chromakey and overlay filters;
//   - the decision-data rebuild (kernels 8 and 5) after a parameter change;
//   - the first-run table build (derived-colour table, resources, cache file);
//   - a warm start with "ClrFloat.map" present (construction, SetUp and the
//     first Compose, in a fresh process) and its resident memory.
//
//   compositor_bench [--frames N]
//
// Everything runs in a temporary data folder, so the user's cache is not
// touched; the colour-conversion module comes out of the container beside
// the program.

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
}

#include "engine/compositor/TColourTables.h"
#include "engine/compositor/TCompositor.h"
#include "engine/compositor/TCompositorPool.h"
#include "engine/modules/ModuleExtractor.h"
#include "engine/modules/ModuleFolder.h"
#include "tools/compose-still/SyntheticScene.h"

namespace {

using namespace pelorn;
using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return -1;
}

TCapLayout FullScreenLayout() {
    TCapLayout layout{};
    for (TCapLayer& layer : layout.layers) layer.Id = TCapLayer::kUnused;
    layout.LayerCnt = 1;
    layout.MaxWidth = kWidth;
    layout.MaxHeight = kHeight;
    layout.layers[0] = {TCapLayer::kPresenter,
                        TCapLayer::kFlagEnabled,
                        0,
                        {{0, 0}, {kWidth - 1, 0}, {kWidth - 1, kHeight - 1}, {0, kHeight - 1}}};
    return layout;
}

struct TPicturePair {
    std::vector<uint8_t> yuyv;
    std::vector<uint8_t> canvas;
};

TPicturePair MakePair() {
    const tools::TSyntheticScene scene = tools::MakePresenterScene(kWidth, kHeight);
    return {tools::ToYuyv(scene.bgr, kWidth, kHeight), tools::MakeCanvas(kWidth, kHeight)};
}

void SetUpForBenchmark(TCompositor& compositor, int outFormat = 3) {
    compositor.SetFormats(1, outFormat);
    compositor.SetUp(kWidth, kHeight);
    compositor.Controls().SetLayout(FullScreenLayout());
    compositor.Controls().SetProcessFlags(TCompositor::kFlagCanvasBackground);
}

double ComposeMedianMs(TCompositor& compositor, const TPicturePair& pair, int frames) {
    const size_t pixelBytes = compositor.OutFormat() == 28 ? 4 : 3;
    std::vector<uint8_t> out(static_cast<size_t>(kWidth) * kHeight * pixelBytes);
    compositor.Compose(out.data(), pair.yuyv.data(), pair.canvas.data());  // decision data
    std::vector<double> times;
    for (int i = 0; i < frames; ++i) {
        const auto start = Clock::now();
        compositor.Compose(out.data(), pair.yuyv.data(), pair.canvas.data());
        times.push_back(MsSince(start));
    }
    return Median(times);
}

// FFmpeg's own way: chromakey on the camera picture, overlay on the canvas,
// BGR24 out.
double FilterGraphMedianMs(const TPicturePair& pair, int frames) {
    AVFilterGraph* graph = avfilter_graph_alloc();
    char description[512];
    std::snprintf(description, sizeof description,
                  "buffer=video_size=%dx%d:pix_fmt=yuyv422:time_base=1/25[cam];"
                  "buffer=video_size=%dx%d:pix_fmt=bgra:time_base=1/25[bg];"
                  "[cam]chromakey=color=0x28B432:similarity=0.12:blend=0.08[key];"
                  "[bg][key]overlay=format=auto,format=bgr24,buffersink",
                  kWidth, kHeight, kWidth, kHeight);
    AVFilterInOut* inputs = nullptr;
    AVFilterInOut* outputs = nullptr;
    double median = -1.0;
    if (avfilter_graph_parse2(graph, description, &inputs, &outputs) < 0 ||
        avfilter_graph_config(graph, nullptr) < 0) {
        std::fprintf(stderr, "the FFmpeg filter graph could not be built\n");
        avfilter_graph_free(&graph);
        return median;
    }
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    AVFilterContext* camera = nullptr;
    AVFilterContext* background = nullptr;
    AVFilterContext* sink = nullptr;
    for (unsigned i = 0; i < graph->nb_filters; ++i) {
        AVFilterContext* filter = graph->filters[i];
        const std::string name = filter->filter->name;
        if (name == "buffer")
            (camera == nullptr ? camera : background) = filter;
        if (name == "buffersink")
            sink = filter;
    }

    auto frameOf = [](const std::vector<uint8_t>& bytes, AVPixelFormat format, int linesize) {
        AVFrame* frame = av_frame_alloc();
        frame->width = kWidth;
        frame->height = kHeight;
        frame->format = format;
        av_frame_get_buffer(frame, 32);
        for (int y = 0; y < kHeight; ++y) {
            std::memcpy(frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0],
                        bytes.data() + static_cast<size_t>(y) * linesize, linesize);
        }
        return frame;
    };
    AVFrame* cameraFrame = frameOf(pair.yuyv, AV_PIX_FMT_YUYV422, kWidth * 2);
    AVFrame* canvasFrame = frameOf(pair.canvas, AV_PIX_FMT_BGRA, kWidth * 4);
    AVFrame* out = av_frame_alloc();
    std::vector<double> times;
    for (int i = 0; i < frames + 2; ++i) {
        cameraFrame->pts = canvasFrame->pts = i;
        const auto start = Clock::now();
        const bool fed =
            av_buffersrc_add_frame_flags(camera, cameraFrame, AV_BUFFERSRC_FLAG_KEEP_REF) >= 0 &&
            av_buffersrc_add_frame_flags(background, canvasFrame, AV_BUFFERSRC_FLAG_KEEP_REF) >= 0;
        const bool got = fed && av_buffersink_get_frame(sink, out) >= 0;
        const double ms = MsSince(start);
        if (got)
            av_frame_unref(out);
        if (got && i >= 2)
            times.push_back(ms);
    }
    median = Median(times);
    av_frame_free(&out);
    av_frame_free(&cameraFrame);
    av_frame_free(&canvasFrame);
    avfilter_graph_free(&graph);
    return median;
}

struct TRebuildFigures {
    double levelAndClassifyMs;
    double classifyMs;
};

TRebuildFigures RebuildMs(const std::string& folder) {
    TCompositorPool pool(kernels::KernelTable());
    TColourTables tables;
    tables.Load(pool, folder);
    colour::TKeyParams key{0, 0, 0, 0, 0, 255};
    tables.BuildLevel(pool, 255);
    tables.BuildClassification(pool, key);  // pages touched once
    std::vector<double> both;
    std::vector<double> classify;
    for (int i = 0; i < 5; ++i) {
        auto start = Clock::now();
        tables.BuildLevel(pool, i % 2 ? 200 : 150);
        tables.BuildClassification(pool, key);
        both.push_back(MsSince(start));
        key.p0 = i * 10;
        start = Clock::now();
        tables.BuildClassification(pool, key);
        classify.push_back(MsSince(start));
    }
    return {Median(both), Median(classify)};
}

double FirstRunBuildMs(const std::string& folder) {
    std::filesystem::remove(folder + "/" + TColourCache::kFileName);
    TCompositorPool pool(kernels::KernelTable());
    TColourTables tables;
    const auto start = Clock::now();
    const bool loaded = tables.Load(pool, folder);
    const double ms = MsSince(start);
    return loaded ? ms : -1.0;
}

// In a child process, so that nothing of this one counts: construction,
// SetUp and the first Compose with the cache present, and the resident
// memory afterwards.
bool WarmStart(const TPicturePair& pair, double& ms, long& residentKb) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return false;
    const pid_t child = fork();
    if (child == 0) {
        close(pipeFds[0]);
        const auto start = Clock::now();
        TCompositor compositor;
        SetUpForBenchmark(compositor);
        std::vector<uint8_t> out(static_cast<size_t>(kWidth) * kHeight * 3);
        const int result = compositor.Compose(out.data(), pair.yuyv.data(), pair.canvas.data());
        double figures[2] = {
            result == 0 && compositor.Tables()->FoundCache() == TColourCache::Status::kLoaded
                ? MsSince(start)
                : -1.0,
            static_cast<double>(ResidentKb())};
        const bool written = write(pipeFds[1], figures, sizeof figures) == sizeof figures;
        _exit(written ? 0 : 1);
    }
    close(pipeFds[1]);
    double figures[2] = {-1.0, -1.0};
    const bool read_ok = read(pipeFds[0], figures, sizeof figures) == sizeof figures;
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ms = figures[0];
    residentKb = static_cast<long>(figures[1]);
    return read_ok && ms >= 0.0;
}

}  // namespace

int main(int argc, char** argv) {
    int frames = 60;
    if (argc == 3 && std::strcmp(argv[1], "--frames") == 0)
        frames = std::max(1, std::atoi(argv[2]));

    char pattern[] = "/tmp/compositor-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        return 1;
    const std::string root = pattern;
    setenv("XDG_DATA_HOME", root.c_str(), 1);
    const std::string folder = ModuleFolder();
    std::filesystem::create_directories(folder);
    ModuleExtractor::ExtractInstalled();

    const TPicturePair pair = MakePair();
    const double buildMs = FirstRunBuildMs(folder);
    std::printf("first-run table build (derived table, resources, 219 MB cache file): %.0f ms\n",
                buildMs);

    double warmMs = -1.0;
    long residentKb = -1;
    if (WarmStart(pair, warmMs, residentKb)) {
        std::printf("warm start with ClrFloat.map (construct + SetUp + first Compose): %.0f ms\n",
                    warmMs);
        std::printf("resident memory of a set-up compositor after its first frame: %ld MB\n",
                    residentKb / 1024);
    } else {
        std::printf("warm start: failed (is Gxrl.dat available?)\n");
    }

    const TRebuildFigures rebuild = RebuildMs(folder);
    std::printf("decision-data rebuild, level (kernel 8) and classification (kernel 5): %.1f ms\n",
                rebuild.levelAndClassifyMs);
    std::printf("decision-data rebuild, classification only (kernel 5): %.1f ms\n",
                rebuild.classifyMs);

    {
        TCompositor compositor;
        SetUpForBenchmark(compositor);
        if (!compositor.IsReady()) {
            std::printf("compose: the compositor is not ready\n");
        } else {
            const double composeMs = ComposeMedianMs(compositor, pair, frames);
            const double filterMs = FilterGraphMedianMs(pair, std::max(frames / 3, 5));
            std::printf(
                "Compose 1920x1080 YUYV over canvas into BGR24, matting on, full screen: "
                "median %.2f ms over %d frames\n",
                composeMs, frames);
            std::printf(
                "FFmpeg chromakey + overlay filter graph, same pictures: median %.2f ms "
                "(%.1fx the compositor's time)\n",
                filterMs, composeMs > 0 ? filterMs / composeMs : 0.0);
            // The camera chain's case: the blend writes the BGRA output itself.
            SetUpForBenchmark(compositor, 28);
            if (compositor.IsReady()) {
                std::printf(
                    "Compose 1920x1080 YUYV over canvas into BGRA, matting on, full screen: "
                    "median %.2f ms over %d frames\n",
                    ComposeMedianMs(compositor, pair, frames), frames);
            }
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
    return 0;
}

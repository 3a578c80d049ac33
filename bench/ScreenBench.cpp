// Screen capture of the first display by shared memory and by XGetImage,
// at the display's size and scaled into 1280 x 720. Run it under an X server
// of 1920 x 1080 at depth 24, e.g.
//   xvfb-run -s "-screen 0 1920x1080x24" build/bin/screen_bench

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "engine/DisplayList.h"
#include "engine/capture/TXShmScreenCap.h"
#include "engine/capture/TXlibScreenCap.h"
#include "engine/modules/BrenvikDLL.h"
#include "engine/modules/ModuleExtractor.h"
#include "platform/XScreenGrabber.h"

namespace {

using namespace pelorn;

template <typename TCap>
void BM_Capture(benchmark::State& state) {
    const DisplayList displays;
    if (displays.Count() == 0) {
        state.SkipWithError("no display: set $DISPLAY");
        return;
    }
    TCap capturer;
    const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
    if (capturer.Open(displays.At(0).deviceName, 0, 0, nullptr) != 0 ||
        capturer.SetSize(width, height, nullptr) != 0) {
        state.SkipWithError("the capturer does not open");
        return;
    }
    std::vector<uint8_t> target(1920 * 1080 * 4);
    for (auto _ : state) benchmark::DoNotOptimize(capturer.Capture(target.data()));
}

BENCHMARK_TEMPLATE(BM_Capture, TXShmScreenCap)->Args({0, 0})->Args({1280, 720})->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Capture, TXlibScreenCap)->Args({0, 0})->Args({1280, 720})->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // The colour-conversion module is extracted into a folder of the run's own.
    char root[] = "/tmp/screen-bench-XXXXXX";
    if (mkdtemp(root) == nullptr) return 1;
    setenv("XDG_DATA_HOME", root, 1);
    if (ModuleExtractor::ExtractInstalled().entriesWritten != 2) {
        std::fprintf(stderr, "screen_bench: VexarRes.dll is not beside the program\n");
        return 1;
    }
    // Held for the whole run: a holder deletes the module's file once the
    // last one unloads it, and every benchmark run makes its own capturer.
    const BrenvikDLL keeper;
    // A server started without -noreset (as xvfb-run starts it) resets
    // whenever its last client leaves and refuses connections meanwhile; one
    // connection held open for the run keeps it from doing so.
    platform::TXScreenGrabber connection(platform::EXGrabMethod::Plain);
    const DisplayList displays;
    if (displays.Count() > 0) connection.Open(displays.At(0).deviceName);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
    return 0;
}

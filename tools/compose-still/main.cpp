// pelorn-compose: composes one still picture the way the engine composes a
// camera frame, and writes the result as PNG for a person to look at.
//
//   pelorn-compose [input] [options] --output OUT.png
//
// Input (one of):
//   --synthetic WxH        a generated presenter on a green backdrop (default 1280x720)
//   --input FILE.png|.bmp  a picture, taken as the camera picture
//   --input FILE.yuv --size WxH   raw YUYV422 (rows of (W + 1) / 2 pairs)
// Options:
//   --canvas FILE          the background picture (PNG or BMP), scaled to the
//                          input's size; default a generated screen picture
//   --flags VALUE          process flags, decimal or 0x hex (default 0x80)
//   --param INDEX=VALUE    a parameter value, repeatable
//   --layout fullscreen|dual|custom=ID:FLAG:L,T,R,B[/ID:FLAG:L,T,R,B...]
//                          (custom rectangles in 1920 x 1080 reference coordinates)
//   --images DIR           folder of the frame pictures (画面相框.png, 底图画布.bmp)
//   --debug-switch         the internal debug switch (mask picture and overlay)
//   --scene-output FILE    also write the input picture as PNG
//   --mask-output FILE     also write the final mask as a grey PNG

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "engine/compositor/TCompositor.h"
#include "engine/modules/ModuleExtractor.h"
#include "engine/modules/ModuleFolder.h"
#include "tools/compose-still/StillImage.h"
#include "tools/compose-still/SyntheticScene.h"

namespace {

using namespace pelorn;
using tools::TPixelLayout;

struct TOptions {
    std::string input;
    int width = 1280;
    int height = 720;
    bool sizeGiven = false;
    std::string canvas;
    int32_t flags = TCompositor::kFlagCanvasBackground;
    std::vector<std::pair<int, int>> params;
    std::string layout = "fullscreen";
    std::string images;
    bool debugSwitch = false;
    std::string output;
    std::string sceneOutput;
    std::string maskOutput;
};

int Fail(const char* text, const std::string& detail = {}) {
    std::fprintf(stderr, "pelorn-compose: %s%s%s\n", text, detail.empty() ? "" : ": ",
                 detail.c_str());
    return 1;
}

bool ParseSize(const char* text, int& width, int& height) {
    return std::sscanf(text, "%dx%d", &width, &height) == 2 && width > 0 && height > 0;
}

bool ParseOptions(int argc, char** argv, TOptions& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto next = [&]() { return value != nullptr ? (++i, true) : false; };
        if (arg == "--synthetic" && next()) {
            if (!ParseSize(value, options.width, options.height))
                return false;
        } else if (arg == "--input" && next()) {
            options.input = value;
        } else if (arg == "--size" && next()) {
            if (!ParseSize(value, options.width, options.height))
                return false;
            options.sizeGiven = true;
        } else if (arg == "--canvas" && next()) {
            options.canvas = value;
        } else if (arg == "--flags" && next()) {
            options.flags = static_cast<int32_t>(std::strtoul(value, nullptr, 0));
        } else if (arg == "--param" && next()) {
            int index = 0;
            int number = 0;
            if (std::sscanf(value, "%d=%d", &index, &number) != 2)
                return false;
            options.params.emplace_back(index, number);
        } else if (arg == "--layout" && next()) {
            options.layout = value;
        } else if (arg == "--images" && next()) {
            options.images = value;
        } else if (arg == "--debug-switch") {
            options.debugSwitch = true;
        } else if (arg == "--output" && next()) {
            options.output = value;
        } else if (arg == "--scene-output" && next()) {
            options.sceneOutput = value;
        } else if (arg == "--mask-output" && next()) {
            options.maskOutput = value;
        } else {
            return false;
        }
    }
    return !options.output.empty();
}

TCapLayer Layer(int16_t id, int32_t flag, int left, int top, int right, int bottom) {
    return {id, flag, 0, {{left, top}, {right, top}, {right, bottom}, {left, bottom}}};
}

// The console's two built-in templates, and rectangles given by hand.
bool MakeLayout(const std::string& text, TCapLayout& layout) {
    layout = TCapLayout{};
    for (TCapLayer& layer : layout.layers) layer.Id = TCapLayer::kUnused;
    layout.MaxWidth = 1920;
    layout.MaxHeight = 1080;
    const int w = layout.MaxWidth;
    const int h = layout.MaxHeight;
    if (text == "fullscreen") {
        layout.LayerCnt = 2;
        layout.layers[0] = Layer(0, 1, 0, 0, w - 1, h - 1);
        layout.layers[1] = Layer(1, 1, 0, 0, w - 1, h - 1);
        return true;
    }
    if (text == "dual") {
        layout.LayerCnt = 2;
        for (int i = 0; i < 2; ++i) {
            const int left = i * w / 2;
            layout.layers[i] = Layer(static_cast<int16_t>(i), i == 0 ? 5 : 1, left, h / 4,
                                     left + w / 2 - 1, h / 4 + h / 2 - 1);
        }
        return true;
    }
    if (text.rfind("custom=", 0) != 0)
        return false;
    size_t start = 7;
    while (start < text.size() && layout.LayerCnt < TCapLayout::kMaxLayers) {
        size_t end = text.find('/', start);
        if (end == std::string::npos)
            end = text.size();
        int id, flag, left, top, right, bottom;
        if (std::sscanf(text.substr(start, end - start).c_str(), "%d:%d:%d,%d,%d,%d", &id, &flag,
                        &left, &top, &right, &bottom) != 6) {
            return false;
        }
        layout.layers[layout.LayerCnt++] =
            Layer(static_cast<int16_t>(id), flag, left, top, right, bottom);
        start = end + 1;
    }
    return layout.LayerCnt > 0;
}

bool ReadRaw(const std::string& path, size_t bytes, std::vector<uint8_t>& out) {
    std::ifstream file(path, std::ios::binary);
    out.resize(bytes);
    return file.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(bytes))
        .good();
}

bool EndsWith(const std::string& text, const char* tail) {
    const size_t length = std::strlen(tail);
    return text.size() >= length && text.compare(text.size() - length, length, tail) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    TOptions options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(
            stderr,
            "usage: pelorn-compose [--synthetic WxH | --input FILE [--size WxH]] "
            "[--canvas FILE] [--flags N] [--param I=V]... "
            "[--layout fullscreen|dual|custom=ID:FLAG:L,T,R,B/...] [--images DIR] "
            "[--debug-switch] [--scene-output FILE] [--mask-output FILE] --output OUT.png\n");
        return 2;
    }

    // The camera picture as YUYV422.
    std::vector<uint8_t> yuyv;
    std::vector<uint8_t> sceneBgr;
    int width = options.width;
    int height = options.height;
    if (options.input.empty()) {
        tools::TSyntheticScene scene = tools::MakePresenterScene(width, height);
        sceneBgr = std::move(scene.bgr);
    } else if (EndsWith(options.input, ".png") || EndsWith(options.input, ".bmp")) {
        width = height = 0;
        sceneBgr = tools::LoadPicture(options.input, TPixelLayout::kBgr24, width, height);
        if (sceneBgr.empty())
            return Fail("cannot read the input picture", options.input);
    } else {
        if (!options.sizeGiven)
            return Fail("a raw input needs --size WxH");
        if (!ReadRaw(options.input, static_cast<size_t>((width + 1) / 2) * 4 * height, yuyv)) {
            return Fail("cannot read the raw input", options.input);
        }
    }
    if (!sceneBgr.empty())
        yuyv = tools::ToYuyv(sceneBgr, width, height);
    if (!options.sceneOutput.empty() && !sceneBgr.empty()) {
        tools::SavePicture(options.sceneOutput, sceneBgr.data(), TPixelLayout::kBgr24, width,
                           height);
    }

    std::vector<uint8_t> canvas;
    if (options.canvas.empty()) {
        canvas = tools::MakeCanvas(width, height);
    } else {
        int canvasWidth = width;
        int canvasHeight = height;
        canvas = tools::LoadPicture(options.canvas, TPixelLayout::kBgra, canvasWidth, canvasHeight);
        if (canvas.empty())
            return Fail("cannot read the canvas picture", options.canvas);
    }

    TCapLayout layout;
    if (!MakeLayout(options.layout, layout))
        return Fail("bad layout", options.layout);

    // The colour-conversion module comes out of the container beside this program.
    struct stat info {};
    if (::stat((ModuleFolder() + "/" + BrenvikDLL::kFileName).c_str(), &info) != 0) {
        ModuleExtractor::ExtractInstalled();
    }
    TCompositorPaths paths;
    paths.imageFolder = options.images;
    TCompositor compositor(paths);
    compositor.SetFormats(1, 3);
    if (compositor.SetUp(width, height) != TCompositor::kOk) {
        return Fail("the compositor could not be set up (tables or Gxrl.dat missing?)");
    }
    for (auto [index, value] : options.params) compositor.Controls().SetValue(index, value);
    compositor.Controls().SetLayout(layout);
    compositor.Controls().SetProcessFlags(options.flags);
    compositor.SetDebugSwitch(options.debugSwitch);

    std::vector<uint8_t> composed(static_cast<size_t>(width) * height * 3);
    const int result = compositor.Compose(composed.data(), yuyv.data(), canvas.data());
    if (result != TCompositor::kOk)
        std::fprintf(stderr, "pelorn-compose: compose result %d\n", result);
    if (!tools::SavePicture(options.output, composed.data(), TPixelLayout::kBgr24, width, height)) {
        return Fail("cannot write", options.output);
    }
    if (!options.maskOutput.empty()) {
        std::vector<uint8_t> grey(static_cast<size_t>(width) * height * 3);
        for (size_t i = 0; i < grey.size(); ++i) grey[i] = compositor.Mask()[i / 3];
        tools::SavePicture(options.maskOutput, grey.data(), TPixelLayout::kBgr24, width, height);
    }
    std::printf("composed %dx%d in %d ms (result %d)%s\n", width, height,
                compositor.LastComposeMs(), result,
                compositor.HasFrameOverlay() ? ", with frame overlay" : "");
    return result == TCompositor::kOk ? 0 : 1;
}

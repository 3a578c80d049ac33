// qndl-vcam: reads the engine's virtual-camera block as the outside camera
// driver does and forwards every frame to a v4l2loopback device, a raw or
// y4m stream, or nowhere.
//
//   qndl-vcam --v4l2 /dev/videoN|auto [--pix yuyv|i420|nv12|rgb24|same] [--size WxH] [--fps N]
//   qndl-vcam --out PATH|- [--y4m] [--pix ...] [--size WxH] [--fps N] [--repeat]
//   qndl-vcam --discard
//   qndl-vcam --find
//   and with any of the first three: [--name MAPPING] [--event EVENT]
//
// A device gets YUYV unless told otherwise, and is kept fed while the engine
// is silent: the last picture again at the frame rate, a dark slate after
// 2 s (--repeat does the same for a stream). Statistics go to standard error
// once a second. SIGINT and SIGTERM end it with status 0.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "engine/VCamLayout.h"
#include "platform/V4l2Output.h"
#include "tools/common/StopSignal.h"
#include "tools/vcam/TConvertingSink.h"
#include "tools/vcam/TStreamSink.h"
#include "tools/vcam/TV4l2Sink.h"
#include "tools/vcam/TVCamConsumer.h"
#include "tools/vcam/TVCamReader.h"

namespace {

using namespace pelorn::vcam;

constexpr char kCameraLabel[] = "Quindle Camera";
constexpr int kMaxSide = 16384;

struct TOptions {
    std::string v4l2Device;
    std::string outPath = "-";
    bool y4m = false;
    bool discard = false;
    bool find = false;
    bool repeat = false;
    bool pixGiven = false;
    TOutputChoice output;
    int framesPerSecond = 30;
    std::string mappingName = kMappingName;
    std::string eventName = kEventName;
};

int Usage(const char* message) {
    if (message != nullptr) std::fprintf(stderr, "qndl-vcam: %s\n", message);
    std::fprintf(stderr,
                 "usage: qndl-vcam --v4l2 /dev/videoN|auto [--pix yuyv|i420|nv12|rgb24|same] "
                 "[--size WxH] [--fps N]\n"
                 "       qndl-vcam --out PATH|- [--y4m] [--pix ...] [--size WxH] [--fps N] "
                 "[--repeat]\n"
                 "       qndl-vcam --discard\n"
                 "       qndl-vcam --find\n"
                 "       and with the first three: [--name MAPPING] [--event EVENT]\n");
    return 2;
}

bool ParsePix(const std::string& name, int* format) {
    if (name == "yuyv") *format = kAvYuyv422;
    else if (name == "i420") *format = kAvYuv420p;
    else if (name == "nv12") *format = kAvNv12;
    else if (name == "rgb24") *format = kAvRgb24;
    else if (name == "same") *format = TOutputChoice::kSameFormat;
    else return false;
    return true;
}

bool ParseSize(const std::string& text, int* width, int* height) {
    char tail = 0;
    if (std::sscanf(text.c_str(), "%dx%d%c", width, height, &tail) != 2) return false;
    return *width > 0 && *height > 0 && *width <= kMaxSide && *height <= kMaxSide;
}

bool ParseOptions(int argc, char** argv, TOptions* options, const char** error) {
    int outputs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--y4m") {
            options->y4m = true;
        } else if (arg == "--repeat") {
            options->repeat = true;
        } else if (arg == "--discard" || arg == "--find") {
            (arg == "--find" ? options->find : options->discard) = true;
            ++outputs;
        } else if (!hasValue) {
            *error = "an option is missing its value, or is unknown";
            return false;
        } else if (arg == "--v4l2") {
            options->v4l2Device = argv[++i];
            ++outputs;
        } else if (arg == "--out") {
            options->outPath = argv[++i];
            ++outputs;
        } else if (arg == "--pix") {
            if (!ParsePix(argv[++i], &options->output.format)) {
                *error = "--pix takes yuyv, i420, nv12, rgb24 or same";
                return false;
            }
            options->pixGiven = true;
        } else if (arg == "--size") {
            if (!ParseSize(argv[++i], &options->output.width, &options->output.height)) {
                *error = "--size takes WIDTHxHEIGHT, each 1 to 16384";
                return false;
            }
        } else if (arg == "--fps") {
            options->framesPerSecond = std::atoi(argv[++i]);
        } else if (arg == "--name") {
            options->mappingName = argv[++i];
        } else if (arg == "--event") {
            options->eventName = argv[++i];
        } else {
            *error = "unknown option";
            return false;
        }
    }
    if (outputs > 1) {
        *error = "--v4l2, --out, --discard and --find exclude each other";
        return false;
    }
    if (options->framesPerSecond <= 0) {
        *error = "--fps needs a positive number";
        return false;
    }
    // A stream keeps the engine's own bytes unless a conversion is asked for.
    if (!options->pixGiven && options->v4l2Device.empty()) {
        options->output.format = TOutputChoice::kSameFormat;
    }
    return true;
}

int ListDevices() {
    const std::vector<platform::TV4l2Node> nodes = platform::ListOutputNodes();
    if (nodes.empty()) {
        std::fprintf(stderr, "qndl-vcam: no V4L2 output device (is the v4l2loopback module loaded?)\n");
        return 1;
    }
    for (const platform::TV4l2Node& node : nodes) std::printf("%s\t%s\n", node.path.c_str(), node.card.c_str());
    return 0;
}

int ResolveDevice(const std::string& asked, std::string* path) {
    if (asked != "auto") {
        *path = asked;
        return 0;
    }
    const int error = platform::PickOutputNode(platform::ListOutputNodes(), kCameraLabel, path);
    if (error == ENODEV) {
        std::fprintf(stderr, "qndl-vcam: no V4L2 output device (is the v4l2loopback module loaded?)\n");
    } else if (error != 0) {
        std::fprintf(stderr,
                     "qndl-vcam: several V4L2 output devices and none labelled \"%s\"; name one "
                     "(qndl-vcam --find lists them)\n",
                     kCameraLabel);
    }
    return error;
}

int OpenDevice(const std::string& path, std::unique_ptr<platform::TV4l2Output>* output) {
    const int error = platform::TV4l2Output::Open(path, output);
    if (error == ENOENT) {
        std::fprintf(stderr, "qndl-vcam: no such device node: %s\n", path.c_str());
    } else if (error == ENOTTY || error == ENODEV) {
        std::fprintf(stderr, "qndl-vcam: %s is no V4L2 video output (%s)\n", path.c_str(),
                     std::strerror(error));
    } else if (error != 0) {
        std::fprintf(stderr, "qndl-vcam: cannot open %s (%s)\n", path.c_str(), std::strerror(error));
    }
    return error;
}

std::unique_ptr<IFrameSink> MakeStreamSink(const TOptions& options, int fd, bool ownsFd) {
    const TStreamKind kind = options.y4m ? TStreamKind::Y4m : TStreamKind::Raw;
    auto stream = std::make_unique<TStreamSink>(fd, ownsFd, kind, options.framesPerSecond);
    // A raw stream of the engine's own pictures is passed through untouched.
    const bool convert = options.y4m || options.repeat || options.output.width > 0 ||
                         options.output.format != TOutputChoice::kSameFormat;
    if (!convert) return stream;
    return std::make_unique<TConvertingSink>(std::move(stream), options.output);
}

int MakeSink(const TOptions& options, std::unique_ptr<IFrameSink>* sink, TKeepAlive* keepAlive) {
    const auto period = [](double perSecond) {
        return std::chrono::milliseconds(std::lround(1000.0 / perSecond));
    };
    if (options.discard) {
        *sink = std::make_unique<TDiscardSink>();
        return 0;
    }
    if (!options.v4l2Device.empty()) {
        std::string path;
        if (int error = ResolveDevice(options.v4l2Device, &path)) return error;
        std::unique_ptr<platform::TV4l2Output> output;
        if (int error = OpenDevice(path, &output)) return error;
        double perSecond = options.framesPerSecond;
        output->SetFrameRate(options.framesPerSecond, &perSecond);  // a device without it keeps ours
        keepAlive->period = period(perSecond);
        *sink = std::make_unique<TConvertingSink>(std::make_unique<TV4l2Sink>(std::move(output)),
                                                  options.output);
        std::fprintf(stderr, "qndl-vcam: writing to %s\n", path.c_str());
        return 0;
    }
    if (options.repeat) keepAlive->period = period(options.framesPerSecond);
    if (options.outPath == "-") {
        *sink = MakeStreamSink(options, STDOUT_FILENO, false);
        return 0;
    }
    const int fd = ::open(options.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        const int error = errno;
        std::fprintf(stderr, "qndl-vcam: cannot write %s (%s)\n", options.outPath.c_str(),
                     std::strerror(error));
        return error;
    }
    *sink = MakeStreamSink(options, fd, true);
    return 0;
}

// A fixed output is set up before the engine's first frame, so that a
// refusing device fails at once and a consumer sees the slate meanwhile.
int PrepareSink(IFrameSink& sink, const TOptions& options) {
    const int error = sink.Prepare();
    if (error != 0) {
        std::fprintf(stderr, "qndl-vcam: the output does not take %dx%d (%s)\n",
                     options.output.width, options.output.height, DescribeOutputError(error));
    }
    return error;
}

}  // namespace

int main(int argc, char** argv) {
    TOptions options;
    const char* error = nullptr;
    if (!ParseOptions(argc, argv, &options, &error)) return Usage(error);
    if (options.find) return ListDevices();
    tools::InstallStopSignals();
    // A closed pipe shows up as EPIPE from write() and ends the run.
    signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<IFrameSink> sink;
    TKeepAlive keepAlive;
    if (MakeSink(options, &sink, &keepAlive) != 0) return 1;
    if (PrepareSink(*sink, options) != 0) return 1;
    TVCamReader reader(options.mappingName, options.eventName);
    TVCamConsumer consumer(reader, *sink, stderr, keepAlive);
    return consumer.Run(tools::g_stopRequested);
}

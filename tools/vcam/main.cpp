// qndl-vcam: reads the engine's virtual-camera block as the outside camera
// driver does and forwards every frame to a v4l2loopback device, a raw or
// y4m stream, or nowhere.
//
//   qndl-vcam [--v4l2 /dev/videoN | --out PATH|- [--y4m] [--fps N] | --discard]
//             [--name MAPPING] [--event EVENT]
//
// Statistics go to standard error once a second. SIGINT and SIGTERM end it
// with status 0.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "engine/VCamLayout.h"
#include "platform/V4l2Output.h"
#include "tools/common/StopSignal.h"
#include "tools/vcam/TStreamSink.h"
#include "tools/vcam/TV4l2Sink.h"
#include "tools/vcam/TVCamConsumer.h"
#include "tools/vcam/TVCamReader.h"

namespace {

using namespace pelorn::vcam;

struct TOptions {
    std::string v4l2Device;
    std::string outPath = "-";
    bool y4m = false;
    bool discard = false;
    int framesPerSecond = 30;
    std::string mappingName = kMappingName;
    std::string eventName = kEventName;
};

int Usage(const char* message) {
    if (message != nullptr) std::fprintf(stderr, "qndl-vcam: %s\n", message);
    std::fprintf(stderr,
                 "usage: qndl-vcam [--v4l2 /dev/videoN | --out PATH|- [--y4m] [--fps N] | "
                 "--discard]\n"
                 "                 [--name MAPPING] [--event EVENT]\n");
    return 2;
}

bool ParseOptions(int argc, char** argv, TOptions* options, const char** error) {
    int outputs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--y4m") {
            options->y4m = true;
        } else if (arg == "--discard") {
            options->discard = true;
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
        *error = "--v4l2, --out and --discard exclude each other";
        return false;
    }
    if (options->framesPerSecond <= 0) {
        *error = "--fps needs a positive number";
        return false;
    }
    return true;
}

int MakeSink(const TOptions& options, std::unique_ptr<IFrameSink>* sink) {
    if (options.discard) {
        *sink = std::make_unique<TDiscardSink>();
        return 0;
    }
    if (!options.v4l2Device.empty()) {
        std::unique_ptr<platform::TV4l2Output> output;
        if (int error = platform::TV4l2Output::Open(options.v4l2Device, &output)) {
            std::fprintf(stderr, "qndl-vcam: %s is no V4L2 video output (%s)\n",
                         options.v4l2Device.c_str(), std::strerror(error));
            return error;
        }
        *sink = std::make_unique<TV4l2Sink>(std::move(output));
        return 0;
    }
    const TStreamKind kind = options.y4m ? TStreamKind::Y4m : TStreamKind::Raw;
    if (options.outPath == "-") {
        *sink = std::make_unique<TStreamSink>(STDOUT_FILENO, false, kind, options.framesPerSecond);
        return 0;
    }
    const int fd = ::open(options.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        const int error = errno;
        std::fprintf(stderr, "qndl-vcam: cannot write %s (%s)\n", options.outPath.c_str(),
                     std::strerror(error));
        return error;
    }
    *sink = std::make_unique<TStreamSink>(fd, true, kind, options.framesPerSecond);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    TOptions options;
    const char* error = nullptr;
    if (!ParseOptions(argc, argv, &options, &error)) return Usage(error);
    tools::InstallStopSignals();
    // A closed pipe shows up as EPIPE from write() and ends the run.
    signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<IFrameSink> sink;
    if (MakeSink(options, &sink) != 0) return 1;
    TVCamReader reader(options.mappingName, options.eventName);
    TVCamConsumer consumer(reader, *sink, stderr);
    return consumer.Run(tools::g_stopRequested);
}

#include "tools/cli/TCliOptions.h"

#include "console/media/TRecord.h"
#include "tools/common/OptionParsing.h"

namespace corvane::cli {

const char* CliUsage() {
    return "usage: corvane-cli FILE [--size WxH] [--format bgr24|bgra|yuyv422] [--fps N]\n"
           "                   [--seconds S] [--record-dir DIR] [--types BITS]\n"
           "                   [--bitrate-index N] [--gop N] [--align MS] [--push URL]...\n"
           "                   [--push-size WxH] [--audio file|tone|none] [--no-vcam]\n"
           "Plays FILE through the engine and records the composed frames: files of the\n"
           "types in BITS (1 mp4, 2 ts, 4 flv, 8 mkv) and live pushes to each URL.\n"
           "Defaults: --size 1280x720 --format yuyv422 --fps 30 --seconds 10 --types 1\n"
           "          --bitrate-index 2 --gop 30 --align 0 --audio file.\n"
           "Exit status: 0 when the run left no error, 1 otherwise, 2 for a bad command line.\n";
}

bool ParseCliOptions(int argc, const char* const* argv, TCliOptions& options, std::string& error) {
    options = TCliOptions{};
    const auto take = [&](const std::string& option, const char* value, int&) -> const char* {
        long number = 0;
        if (option == "--no-vcam") {
            options.virtualCamera = false;
        } else if (option == "--size") {
            if (!tools::ParseSize(value, options.width, options.height)) return "expected WxH";
        } else if (option == "--push-size") {
            if (!tools::ParseSize(value, options.pushWidth, options.pushHeight)) return "expected WxH";
        } else if (option == "--format") {
            if (!tools::ParseFormat(value, options.pixelFormat)) return "expected bgr24, bgra or yuyv422";
        } else if (option == "--fps") {
            if (!tools::ParseInt(value, 1, 240, number)) return "expected 1 to 240";
            options.frameRate = static_cast<int>(number);
        } else if (option == "--seconds") {
            if (!tools::ParseSeconds(value, options.seconds)) return "expected a positive duration";
        } else if (option == "--record-dir") {
            options.recordDir = value;
        } else if (option == "--types") {
            if (!tools::ParseInt(value, 0, 15, number)) return "expected 0 to 15";
            options.types = static_cast<uint32_t>(number);
        } else if (option == "--bitrate-index") {
            if (!tools::ParseInt(value, 0, 5, number)) return "expected 0 to 5";
            options.bitrateIndex = static_cast<int>(number);
        } else if (option == "--gop") {
            if (!tools::ParseInt(value, 0, 1000, number)) return "expected 0 to 1000";
            options.gop = static_cast<int>(number);
        } else if (option == "--align") {
            if (!tools::ParseInt(value, -5000, 5000, number)) return "expected -5000 to 5000";
            options.alignMs = static_cast<int>(number);
        } else if (option == "--push") {
            if (!console::IsUsableOutput(value)) return "expected an rtmp:// or udp:// URL";
            options.pushes.push_back(value);
        } else if (option == "--audio") {
            const std::string audio = value;
            if (audio == "file") {
                options.audio = EAudioSource::kFile;
            } else if (audio == "tone") {
                options.audio = EAudioSource::kTone;
            } else if (audio == "none") {
                options.audio = EAudioSource::kNone;
            } else {
                return "expected file, tone or none";
            }
        } else {
            return "unknown option";
        }
        return nullptr;
    };
    if (!tools::WalkOptions(argc, argv, {"--no-vcam"}, options.file, options.help, error, take))
        return false;
    if (options.help) return true;
    if (options.file.empty()) {
        error = "no file to play";
        return false;
    }
    if (options.pushes.size() > 3) {
        error = "--push: at most three destinations";
        return false;
    }
    return true;
}

}  // namespace corvane::cli

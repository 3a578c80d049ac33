#include "tools/cli/TCliOptions.h"

#include "console/media/TRecord.h"
#include "tools/common/OptionParsing.h"

namespace corvane::cli {

const char* CliUsage() {
    return "usage: corvane-cli FILE [--size WxH] [--format bgr24|bgra|yuyv422] [--fps N]\n"
           "                   [--seconds S] [--record-dir DIR] [--types BITS]\n"
           "                   [--bitrate-index N] [--push-bitrate-index N] [--gop N] [--align MS]\n"
           "                   [--push URL]... [--push-size WxH] [--template N]\n"
           "                   [--audio NAME | --no-audio | --feed file|tone] [--no-vcam]\n"
           "       corvane-cli --list-devices | --show-settings\n"
           "Plays FILE through the engine and records the composed frames: files of the\n"
           "types in BITS (1 mp4, 2 ts, 4 flv, 8 mkv) and live pushes to each URL.\n"
           "Settings not given come from the console's settings store (Client, Record,\n"
           "RTMP), else its defaults; --show-settings prints each with its origin.\n"
           "--audio captures the input NAME (a listed name or description); without\n"
           "it the stored AudioDevName is captured when it is listed. --feed replaces\n"
           "the capture by the file's own audio or a tone. --template loads layout\n"
           "slot N (0..5), its default when the stored one cannot be loaded.\n"
           "Exit status: 0 when the run left no error, 1 otherwise, 2 for a bad command line.\n";
}

namespace {

const char* TakeAudio(const char* option, const char* value, TCliOptions& options) {
    const bool chosen = options.audio != EAudioSource::kStored;
    if (chosen) return "--audio, --no-audio and --feed exclude each other";
    const std::string text = value != nullptr ? value : "";
    if (std::string_view(option) == "--no-audio") {
        options.audio = EAudioSource::kNone;
    } else if (std::string_view(option) == "--audio") {
        if (text.empty()) return "expected an input name";
        options.audio = EAudioSource::kDevice;
        options.audioDevice = text;
    } else if (text == "file") {
        options.audio = EAudioSource::kFile;
    } else if (text == "tone") {
        options.audio = EAudioSource::kTone;
    } else {
        return "expected file or tone";
    }
    return nullptr;
}

bool TakeIndex(const char* value, std::optional<int>& index) {
    long number = 0;
    if (!tools::ParseInt(value, 0, 5, number)) return false;
    index = static_cast<int>(number);
    return true;
}

}  // namespace

bool ParseCliOptions(int argc, const char* const* argv, TCliOptions& options, std::string& error) {
    options = TCliOptions{};
    const auto take = [&](const std::string& option, const char* value, int&) -> const char* {
        long number = 0;
        int width = 0, height = 0, format = 0;
        if (option == "--no-vcam") {
            options.virtualCamera = false;
        } else if (option == "--list-devices") {
            options.listDevices = true;
        } else if (option == "--show-settings") {
            options.showSettings = true;
        } else if (option == "--audio" || option == "--no-audio" || option == "--feed") {
            return TakeAudio(option.c_str(), value, options);
        } else if (option == "--size") {
            if (!tools::ParseSize(value, width, height)) return "expected WxH";
            options.width = width;
            options.height = height;
        } else if (option == "--push-size") {
            if (!tools::ParseSize(value, options.pushWidth, options.pushHeight)) return "expected WxH";
        } else if (option == "--format") {
            if (!tools::ParseFormat(value, format)) return "expected bgr24, bgra or yuyv422";
            options.pixelFormat = format;
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
            if (!TakeIndex(value, options.bitrateIndex)) return "expected 0 to 5";
        } else if (option == "--push-bitrate-index") {
            if (!TakeIndex(value, options.pushBitrateIndex)) return "expected 0 to 5";
        } else if (option == "--gop") {
            if (!tools::ParseInt(value, 0, 1000, number)) return "expected 0 to 1000";
            options.gop = static_cast<int>(number);
        } else if (option == "--align") {
            if (!tools::ParseInt(value, -5000, 5000, number)) return "expected -5000 to 5000";
            options.alignMs = static_cast<int>(number);
        } else if (option == "--template") {
            if (!tools::ParseInt(value, 0, 5, number)) return "expected 0 to 5";
            options.templateSlot = static_cast<int>(number);
        } else if (option == "--push") {
            if (!console::IsUsableOutput(value)) return "expected an rtmp:// or udp:// URL";
            options.pushes.push_back(value);
        } else {
            return "unknown option";
        }
        return nullptr;
    };
    if (!tools::WalkOptions(argc, argv, {"--no-vcam", "--no-audio", "--list-devices", "--show-settings"},
                            options.file, options.help, error, take))
        return false;
    if (options.help || options.OnlyPrints()) return true;
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

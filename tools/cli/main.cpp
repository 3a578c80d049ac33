// corvane-cli: the console's recording path without its windows. It reads the
// console's settings (command-line flags override them), opens the audio
// input as the console's RestartAudio does, creates the engine, plays a media
// file, and records every composed frame and audio frame with a live recorder
// (pushes) and a file recorder. Each second it prints every recorder's
// figures and the captured audio's; at the end a summary. It never writes the
// settings store.
//
// Exit status: 0 when the run left nothing in the error trail, 1 otherwise
// (the trail follows on standard error), 2 for a bad command line.

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/time.h>
}

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "common/ErrorTrail.h"
#include "common/Utf.h"
#include "console/media/RecordNaming.h"
#include "console/media/TEnumDShowDevices.h"
#include "console/media/TRecord.h"
#include "console/media/TRecorderSlot.h"
#include "console/media/TVideoRestamp.h"
#include "console/services/SettingsStore.h"
#include "engine/ICapMattEngine.h"
#include "tools/cli/TAudioFeeder.h"
#include "tools/cli/TCliAudio.h"
#include "tools/cli/TCliOptions.h"
#include "tools/cli/TCliSettings.h"
#include "tools/cli/TRecorderReport.h"
#include "tools/common/StopSignal.h"

namespace {

using namespace corvane::cli;
using console::IRecord;
using console::RecordParams;
using console::TRecord;

constexpr int kRunningState = 2;
constexpr int kStartWaitMs = 10000;

// What the engine's output thread and the audio thread share with main.
struct TSession {
    console::TRecorderSlots recorders;
    std::atomic<bool> closing{false};
    std::atomic<int64_t> composed{0};
    std::atomic<int64_t> engineDrops{0};  // gaps in the input sequence numbers
    std::atomic<int64_t> lastSequence{-1};
    std::atomic<int64_t> captorStartUs{0};  // first frame's arrival - pts, µs
    // With a captured input, pictures go to the recorders stamped with their
    // arrival time (pkt_duration) through this record, the clock the captor
    // stamps audio on. Touched by the engine's output thread only.
    bool restampVideo = false;
    console::TVideoRestamp videoRestamp;
    TAudioTally audio;
};

int64_t PtsUs(const AVFrame* frame) {
    const auto* stream = static_cast<const AVStream*>(frame->opaque);
    const AVRational timeBase = stream != nullptr ? stream->time_base : AVRational{1, 1000000};
    return av_rescale_q(frame->pts, timeBase, AVRational{1, 1000000});
}

// The engine's output thread, once per composed frame.
long OnFrame(unsigned char* bytes, void* user, int /*cameraInUse*/) {
    auto* session = static_cast<TSession*>(user);
    if (session->closing.load()) return 0;
    auto* frame = reinterpret_cast<AVFrame*>(bytes);
    if (session->composed.fetch_add(1) == 0) {
        std::printf("first frame pkt_duration %lld us\n", static_cast<long long>(frame->pkt_duration));
        std::fflush(stdout);
    }
    const int64_t previous = session->lastSequence.exchange(frame->pkt_size);
    if (previous >= 0 && frame->pkt_size > previous + 1) session->engineDrops += frame->pkt_size - previous - 1;
    int64_t unset = 0;
    session->captorStartUs.compare_exchange_strong(unset, frame->pkt_duration - PtsUs(frame));
    session->videoRestamp.Push(session->recorders, frame, session->restampVideo);
    return 0;
}

// The captor's thread, once per audio frame: the file recorder, then the
// live one.
void OnAudio(AVFrame* frame, void* user) {
    auto* session = static_cast<TSession*>(user);
    if (session->closing.load()) return;
    session->audio.Note(frame, av_gettime_relative());
    session->recorders.PushAudio(frame);
}

int Fail(const char* step) {
    std::fprintf(stderr, "corvane-cli: %s failed\n%s\n", step, common::ErrorTrail::Take().c_str());
    return 1;
}

// RecordParams as the console builds them from the engine's state and the
// settings.
RecordParams ParamsFor(const TCapOpenParam& state, const TCliSettings& settings,
                       const std::optional<console::TAudioSrcFormat>& audio, const TCliOptions& options,
                       bool live) {
    RecordParams params{};
    if (audio) {
        params.srcAudio = *audio;
        params.audioCodecId = console::kAudioCodecAac;
        params.sampleRate = audio->sampleRate;
        params.channels = audio->channels;
        params.audioBitRate = 128000;
    }
    params.videoCodecId = console::kVideoCodecH264;
    params.width = state.outWidth;
    params.height = state.outHeight;
    params.fps = state.outFrameRate;
    params.srcVideo = {state.outWidth, state.outHeight, state.outFormat, state.outFrameRate, 0, 0};
    params.avAlignMs = static_cast<int16_t>(settings.alignMs.value);
    params.gop = static_cast<int16_t>(settings.gop.value);
    params.videoBitRate = console::RecordBitRate(settings.bitrateIndex.value);
    if (live) {
        params.videoBitRate = console::PushBitRate(settings.pushBitrateIndex.value);
        if (options.pushWidth > 0) {
            params.width = static_cast<int16_t>(options.pushWidth);
            params.height = static_cast<int16_t>(options.pushHeight);
        }
    }
    return params;
}

IRecord* StartRecorder(const std::vector<std::string>& outputs, const RecordParams& params) {
    IRecord* recorder = console::CreateInstance_IRecord();
    std::vector<const char*> names;
    for (const auto& output : outputs) names.push_back(output.c_str());
    if (recorder->Open(names.data(), static_cast<int>(names.size()), &params) != 0) {
        common::ErrorTrail::Add("Start Record error");
        console::ReleaseInstance_IRecord(&recorder);
    }
    return recorder;
}

bool WaitUntilRunning(ICapMattEngine* engine, TCapOpenParam** state) {
    for (int waited = 0; waited < kStartWaitMs && !tools::g_stopRequested; waited += 10) {
        if (engine->GetState(state) == kRunningState && *state != nullptr) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

struct TReports {
    TRecorderReport live{"live"};
    TRecorderReport file{"file"};
};

console::TRecordStats StatsOf(IRecord* recorder) { return static_cast<TRecord*>(recorder)->Stats(); }

void RunFor(const TCliOptions& options, TSession& session, TReports& reports) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    Clock::time_point nextLine = start + std::chrono::seconds(1);
    int second = 0;
    int64_t composedBefore = 0;
    while (!tools::g_stopRequested.load()) {
        const Clock::time_point now = Clock::now();
        if (std::chrono::duration<double>(now - start).count() >= options.seconds) break;
        if (now >= nextLine) {
            const int64_t composed = session.composed.load();
            std::printf("[%4d s] composed %lld engine drops %lld\n", ++second,
                        static_cast<long long>(composed - composedBefore),
                        static_cast<long long>(session.engineDrops.load()));
            composedBefore = composed;
            if (session.restampVideo) session.audio.Print("        ", stdout);
            if (IRecord* live = session.recorders.live.Held()) reports.live.PrintSecond(StatsOf(live), 1.0, stdout);
            if (IRecord* file = session.recorders.file.Held()) reports.file.PrintSecond(StatsOf(file), 1.0, stdout);
            std::fflush(stdout);
            nextLine += std::chrono::seconds(1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Closes and releases a recorder, printing its summary first.
void FinishRecorder(console::TRecorderSlot& slot, const TRecorderReport& report, double seconds) {
    IRecord* recorder = slot.Take();
    if (recorder == nullptr) return;
    recorder->Close();
    report.PrintSummary(StatsOf(recorder), seconds, stdout);
    console::ReleaseInstance_IRecord(&recorder);
}

void PrintProcessFigures(double wallSeconds) {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                       usage.ru_stime.tv_usec / 1e6;
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    std::printf("summary process: cpu %.1f s over %.1f s = %.1f %% of %ld cores, peak rss %ld MiB\n",
                cpu, wallSeconds, 100.0 * cpu / wallSeconds / static_cast<double>(cores), cores,
                usage.ru_maxrss / 1024);
}

void PrintDevices(std::FILE* out) {
    auto list = std::make_unique<console::TDShowDeviceList>();
    console::TEnumDShowDevices().Enumerate(list.get());
    std::fprintf(out, "video inputs: %d\n", list->videoCount);
    for (int i = 0; i < list->videoCount; ++i)
        std::fprintf(out, "  %s | %s\n", list->videoNames[i], list->videoAltNames[i]);
    std::fprintf(out, "audio inputs: %d\n", list->audioCount);
    for (int i = 0; i < list->audioCount; ++i)
        std::fprintf(out, "  %s | %s\n", list->audioNames[i], list->audioAltNames[i]);
}

// The layout of slot n as the console selects it; a slot that cannot be
// loaded plays its default.
TCapLayout TemplateLayout(int slot) {
    TCapLayout layout{};
    for (TCapLayer& layer : layout.layers) layer.Id = TCapLayer::kUnused;
    layout.MaxWidth = 1920;
    layout.MaxHeight = 1080;
    const bool loaded = console::LoadTemplate(&layout, slot, true) == 1;
    if (!loaded) layout = console::DefaultTemplate(slot);
    const std::u16string_view name(layout.Name, std::char_traits<char16_t>::length(layout.Name));
    std::printf("template %d \"%s\" (%s)\n", slot, common::Utf16ToUtf8(name).c_str(),
                loaded ? (layout.BuildIn != 0 ? "built in" : "stored") : "default");
    return layout;
}

// What the run captures: the input to open, empty for none.
std::string AudioInputToOpen(const TCliOptions& options, const TCliSettings& settings) {
    if (options.audio == EAudioSource::kDevice) return options.audioDevice;
    if (options.audio != EAudioSource::kStored || settings.audioInput.value.empty()) return {};
    std::string listed = ListedAudioInput(settings.audioInput.value);
    if (listed.empty())
        std::printf("the stored audio input \"%s\" is not listed: no audio\n", settings.audioInput.value.c_str());
    return listed;
}

}  // namespace

int main(int argc, char** argv) {
    TCliOptions options;
    std::string error;
    if (!ParseCliOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "corvane-cli: %s\n%s", error.c_str(), CliUsage());
        return 2;
    }
    if (options.help) {
        std::printf("%s", CliUsage());
        return 0;
    }
    av_log_set_level(AV_LOG_ERROR);
    const TCliSettings settings = ResolveSettings(options);
    if (options.showSettings) PrintSettings(settings, stdout);
    if (options.listDevices) PrintDevices(stdout);
    if (options.OnlyPrints()) return 0;
    tools::InstallStopSignals();
    const auto began = std::chrono::steady_clock::now();

    TSession session;
    // The audio input opens before the video source, as at the console's start.
    console::IAudioCaptor* captor = nullptr;
    std::optional<console::TAudioSrcFormat> audioFormat;
    TAudioFeeder feeder;
    if (const std::string input = AudioInputToOpen(options, settings); !input.empty()) {
        if (!RestartAudio(input, &OnAudio, &session, &captor)) return Fail("RestartAudio");
        console::TAudioSrcFormat format{};
        captor->GetFormatRecord(&format);
        audioFormat = format;
        session.restampVideo = true;
        std::printf("audio %s: format %d, %d Hz, %d channels\n", input.c_str(), format.sampleFormat,
                    format.sampleRate, format.channels);
    } else if (options.audio == EAudioSource::kFile || options.audio == EAudioSource::kTone) {
        if (!feeder.Open(options.audio, options.file, error))
            std::fprintf(stderr, "corvane-cli: %s; recording without audio\n", error.c_str());
        if (feeder.IsOpen())
            audioFormat = console::TAudioSrcFormat{feeder.SampleFormat(), feeder.SampleRate(),
                                                   static_cast<int16_t>(feeder.Channels()), {}};
    }

    ICapMattEngine* engine =
        CreateInstance_ICapMattEngine(&OnFrame, &session, options.virtualCamera ? 0xFFFFFFFFu : 0u);
    if (engine == nullptr) {
        console::ReleaseInstance_IAudioCaptor(&captor);
        return Fail("CreateInstance_ICapMattEngine");
    }
    // Releases the engine, then the audio captor, as the console's close does.
    const auto release = [&] {
        session.closing = true;
        engine->Stop();
        ReleaseInstance_ICapMattEngine(&engine);
        console::ReleaseInstance_IAudioCaptor(&captor);
        feeder.Stop();
    };
    TCapParamList paramList;
    engine->GetParamList(&paramList);
    TCapOpenParam open;
    open.sources[0].kind = kCapSourceFile;
    open.sources[0].name = options.file;
    open.sources[1].kind = kCapSourceNone;
    open.outWidth = static_cast<int16_t>(settings.width.value);
    open.outHeight = static_cast<int16_t>(settings.height.value);
    open.outFormat = static_cast<int16_t>(settings.pixelFormat.value);
    open.outFrameRate = static_cast<int16_t>(settings.frameRate.value);
    if (engine->Open(&open) != 0) {
        release();
        return Fail("Open");
    }
    TCapLayout layout = TemplateLayout(settings.templateSlot.value);
    engine->SetLayout(&layout);
    engine->SetProcessFlags(0x80);

    TCapOpenParam* state = nullptr;
    if (!WaitUntilRunning(engine, &state)) {
        release();
        return Fail("waiting for the source to run");
    }
    if (settings.AnyPush()) {
        std::vector<std::string> pushes;
        for (const auto& push : settings.pushes) pushes.push_back(push.value);
        session.recorders.live.Put(StartRecorder(pushes, ParamsFor(*state, settings, audioFormat, options, true)));
        for (const auto& push : pushes)
            if (!push.empty()) std::printf("pushing %s\n", push.c_str());
    }
    if (settings.types.value != 0) {
        const auto names =
            console::RecordFileNames(settings.recordDir.value, settings.types.value, std::time(nullptr));
        session.recorders.file.Put(StartRecorder(names, ParamsFor(*state, settings, audioFormat, options, false)));
        for (const auto& name : names) std::printf("recording %s\n", name.c_str());
    }
    std::fflush(stdout);

    if (feeder.IsOpen()) {
        while (session.captorStartUs.load() == 0 && !tools::g_stopRequested) av_usleep(5000);
        feeder.Start(session.captorStartUs.load(), [&session](AVFrame* frame) {
            session.recorders.PushAudio(frame);
        });
    }

    TReports reports;
    RunFor(options, session, reports);

    release();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("summary engine: composed %lld engine drops %lld\n",
                static_cast<long long>(session.composed.load()),
                static_cast<long long>(session.engineDrops.load()));
    if (session.restampVideo) session.audio.Print("summary", stdout);
    FinishRecorder(session.recorders.file, reports.file, seconds);
    FinishRecorder(session.recorders.live, reports.live, seconds);
    PrintProcessFigures(seconds);
    const std::string trail = common::ErrorTrail::Take();
    if (!trail.empty()) {
        std::fprintf(stderr, "corvane-cli: the run left errors:\n%s\n", trail.c_str());
        return 1;
    }
    return 0;
}

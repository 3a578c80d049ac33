// corvane-cli: the console's recording path without its windows. It creates
// the engine as the console does, plays a media file, and records every
// composed frame with a live recorder (pushes) and a file recorder, with the
// file's own audio, a tone or none. Each second it prints every recorder's
// figures; at the end a summary.
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
#include <string>
#include <thread>

#include "common/ErrorTrail.h"
#include "console/media/RecordNaming.h"
#include "console/media/TRecord.h"
#include "console/media/TRecorderSlot.h"
#include "engine/ICapMattEngine.h"
#include "tools/cli/TAudioFeeder.h"
#include "tools/cli/TCliOptions.h"
#include "tools/cli/TRecorderReport.h"
#include "tools/common/StopSignal.h"
#include "tools/play/PlayLayouts.h"

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
    session->composed.fetch_add(1);
    const int64_t previous = session->lastSequence.exchange(frame->pkt_size);
    if (previous >= 0 && frame->pkt_size > previous + 1) session->engineDrops += frame->pkt_size - previous - 1;
    int64_t unset = 0;
    session->captorStartUs.compare_exchange_strong(unset, frame->pkt_duration - PtsUs(frame));
    session->recorders.PushVideo(frame);
    return 0;
}

int Fail(const char* step) {
    std::fprintf(stderr, "corvane-cli: %s failed\n%s\n", step, common::ErrorTrail::Take().c_str());
    return 1;
}

// RecordParams as the console builds them from the engine's state; the
// options stand for the stored settings.
RecordParams ParamsFor(const TCapOpenParam& state, const TCliOptions& options,
                       const TAudioFeeder& audio, bool live) {
    RecordParams params{};
    if (audio.IsOpen()) {
        params.srcAudio = {audio.SampleFormat(), audio.SampleRate(),
                           static_cast<int16_t>(audio.Channels()), {}};
        params.audioCodecId = console::kAudioCodecAac;
        params.sampleRate = audio.SampleRate();
        params.channels = audio.Channels();
        params.audioBitRate = 128000;
    }
    params.videoCodecId = console::kVideoCodecH264;
    params.width = state.outWidth;
    params.height = state.outHeight;
    params.fps = state.outFrameRate;
    params.srcVideo = {state.outWidth, state.outHeight, state.outFormat, state.outFrameRate, 0, 0};
    params.avAlignMs = static_cast<int16_t>(options.alignMs);
    params.gop = static_cast<int16_t>(options.gop);
    params.videoBitRate = console::RecordBitRate(options.bitrateIndex);
    if (live) {
        params.videoBitRate = console::PushBitRate(options.bitrateIndex);
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
    tools::InstallStopSignals();
    av_log_set_level(AV_LOG_ERROR);
    const auto began = std::chrono::steady_clock::now();

    TAudioFeeder audio;
    if (!audio.Open(options.audio, options.file, error))
        std::fprintf(stderr, "corvane-cli: %s; recording without audio\n", error.c_str());

    TSession session;
    ICapMattEngine* engine =
        CreateInstance_ICapMattEngine(&OnFrame, &session, options.virtualCamera ? 0xFFFFFFFFu : 0u);
    if (engine == nullptr) return Fail("CreateInstance_ICapMattEngine");
    TCapParamList paramList;
    engine->GetParamList(&paramList);
    TCapOpenParam open;
    open.sources[0].kind = kCapSourceFile;
    open.sources[0].name = options.file;
    open.sources[1].kind = kCapSourceNone;
    open.outWidth = static_cast<int16_t>(options.width);
    open.outHeight = static_cast<int16_t>(options.height);
    open.outFormat = static_cast<int16_t>(options.pixelFormat);
    open.outFrameRate = static_cast<int16_t>(options.frameRate);
    if (engine->Open(&open) != 0) {
        ReleaseInstance_ICapMattEngine(&engine);
        return Fail("Open");
    }
    TCapLayout layout = pelorn::play::BuiltInLayout(pelorn::play::TLayoutChoice::kFullScreen);
    engine->SetLayout(&layout);
    engine->SetProcessFlags(0x80);

    TCapOpenParam* state = nullptr;
    if (!WaitUntilRunning(engine, &state)) {
        ReleaseInstance_ICapMattEngine(&engine);
        return Fail("waiting for the source to run");
    }
    if (!options.pushes.empty())
        session.recorders.live.Put(StartRecorder(options.pushes, ParamsFor(*state, options, audio, true)));
    if (options.types != 0) {
        const auto names = console::RecordFileNames(options.recordDir, options.types, std::time(nullptr));
        session.recorders.file.Put(StartRecorder(names, ParamsFor(*state, options, audio, false)));
        for (const auto& name : names) std::printf("recording %s\n", name.c_str());
    }
    for (const auto& push : options.pushes) std::printf("pushing %s\n", push.c_str());
    std::fflush(stdout);

    while (session.captorStartUs.load() == 0 && !tools::g_stopRequested) av_usleep(5000);
    audio.Start(session.captorStartUs.load(), [&session](AVFrame* frame) {
        session.recorders.PushAudio(frame);
    });

    TReports reports;
    RunFor(options, session, reports);

    session.closing = true;
    engine->Stop();
    ReleaseInstance_ICapMattEngine(&engine);
    audio.Stop();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("summary engine: composed %lld engine drops %lld\n",
                static_cast<long long>(session.composed.load()),
                static_cast<long long>(session.engineDrops.load()));
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

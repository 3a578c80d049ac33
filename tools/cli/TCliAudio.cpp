#include "tools/cli/TCliAudio.h"

#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

#include "common/ErrorTrail.h"
#include "console/media/TEnumDShowDevices.h"

namespace corvane::cli {

bool RestartAudio(const std::string& deviceName, console::AudioFrameCallback callback, void* user,
                  console::IAudioCaptor** holder) {
    console::ReleaseInstance_IAudioCaptor(holder);
    if (deviceName.empty()) {
        common::ErrorTrail::Add("RestartAudio: Audio dev name is empty");
        return false;
    }
    console::IAudioCaptor* captor = console::CreateInstance_IAudioCaptor();
    if (captor == nullptr) {
        common::ErrorTrail::Add("RestartAudio: CreateInstance_IAudioCaptor error");
        return false;
    }
    const console::TAudioOpenParams params{deviceName, callback, user};
    if (!captor->Open(&params)) {
        console::ReleaseInstance_IAudioCaptor(&captor);
        common::ErrorTrail::Add("RestartAudio: OpenAudioStream error");
        return false;
    }
    captor->Start();
    *holder = captor;
    return true;
}

std::string ListedAudioInput(const std::string& name) {
    std::vector<console::TCaptureDevice> inputs;
    console::TEnumDShowDevices::WalkAudioSources(&inputs);
    for (const console::TCaptureDevice& input : inputs)
        if (input.friendlyName == name || input.altName == name) return input.altName;
    return {};
}

void TAudioTally::Note(const AVFrame* frame, int64_t arrivalUs) {
    if (m_nFrames.fetch_add(1, std::memory_order_relaxed) == 0) {
        m_nFirstSamples.store(frame->nb_samples, std::memory_order_relaxed);
        m_nFirstArrivalUs.store(arrivalUs, std::memory_order_relaxed);
        m_nRate.store(frame->sample_rate, std::memory_order_relaxed);
    }
    m_nSamples.fetch_add(frame->nb_samples, std::memory_order_relaxed);
    m_nLastArrivalUs.store(arrivalUs, std::memory_order_relaxed);
}

void TAudioTally::Print(const char* label, std::FILE* out) const {
    const int rate = m_nRate.load(std::memory_order_relaxed);
    const int64_t frames = Frames();
    const int64_t samples = m_nSamples.load(std::memory_order_relaxed);
    if (frames == 0 || rate <= 0) {
        std::fprintf(out, "%s audio: frames 0\n", label);
        return;
    }
    // The first frame's samples were captured before it arrived.
    const double elapsed = static_cast<double>(m_nLastArrivalUs.load(std::memory_order_relaxed) -
                                               m_nFirstArrivalUs.load(std::memory_order_relaxed)) / 1e6 +
                           static_cast<double>(m_nFirstSamples.load(std::memory_order_relaxed)) / rate;
    const double beyondMs = (static_cast<double>(samples) / rate - elapsed) * 1000.0;
    std::fprintf(out, "%s audio: frames %lld samples %lld over %.3f s at %d Hz: %+.1f ms\n", label,
                 static_cast<long long>(frames), static_cast<long long>(samples), elapsed, rate, beyondMs);
}

}  // namespace corvane::cli

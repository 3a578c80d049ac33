#include "tools/cli/TCliAudio.h"

#include <algorithm>
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
    if (frame->sample_rate <= 0) return;
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_nFrames++ == 0) {
        m_nRate = frame->sample_rate;
        m_nFirstArrivalUs = arrivalUs;
    }
    m_nSamples += frame->nb_samples;
    m_nLastArrivalUs = arrivalUs;
    const int64_t lagUs = (arrivalUs - m_nFirstArrivalUs) - m_nSamples * 1000000 / m_nRate;
    // Jitter may put a frame behind the window its predecessor opened.
    const int64_t window = std::max(m_nWindow, (arrivalUs - m_nFirstArrivalUs) / kWindowUs);
    if (m_nFrames == 1 || window > m_nWindow) {
        if (m_nFrames > 1) m_nWindowMinLagUs[0] = window == m_nWindow + 1 ? m_nWindowMinLagUs[1] : lagUs;
        m_nWindow = window;
        m_nWindowMinLagUs[1] = lagUs;
    }
    m_nWindowMinLagUs[1] = std::min(m_nWindowMinLagUs[1], lagUs);
    if (m_nWindow == 0) m_nFirstWindowMinLagUs = m_nWindowMinLagUs[1];
}

int64_t TAudioTally::Frames() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_nFrames;
}

void TAudioTally::Print(const char* label, std::FILE* out) const {
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_nFrames == 0) {
        std::fprintf(out, "%s audio: frames 0\n", label);
        return;
    }
    // The latest window may hold a few frames only: the one before it counts too.
    const int64_t latestMinLagUs =
        m_nWindow == 0 ? m_nWindowMinLagUs[1] : std::min(m_nWindowMinLagUs[0], m_nWindowMinLagUs[1]);
    const double beyondMs = static_cast<double>(m_nFirstWindowMinLagUs - latestMinLagUs) / 1000.0;
    const double elapsed = static_cast<double>(m_nLastArrivalUs - m_nFirstArrivalUs) / 1e6;
    std::fprintf(out, "%s audio: frames %lld samples %lld over %.3f s at %d Hz: %+.1f ms\n", label,
                 static_cast<long long>(m_nFrames), static_cast<long long>(m_nSamples), elapsed, m_nRate,
                 beyondMs);
}

}  // namespace corvane::cli

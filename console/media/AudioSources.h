#pragma once

#include <string>
#include <vector>

namespace console {

// One audio input: what the user reads and what FFmpeg opens.
struct TAudioSource {
    std::string description;  // "Built-in Audio Analog Stereo", "Monitor of qtest"
    std::string name;         // "alsa_input.pci-0000_00_1f.3.analog-stereo", "qtest.monitor"
};

enum class AudioListResult {
    Listed,    // the server answered (the list may be empty)
    NoServer,  // no PulseAudio server answered
};

// PulseAudio's sources: the default source first, then the others in the
// server's order, the monitors of sinks ("Monitor of ...") last, so that a
// fresh console picks a microphone rather than the speakers' echo.
AudioListResult ListPulseSources(std::vector<TAudioSource>* sources);

// The ALSA inputs worth offering: "default" and the "CARD=" devices.
void ListAlsaSources(std::vector<TAudioSource>* sources);

}  // namespace console

#pragma once

#include <string>
#include <vector>

#include "console/media/TCaptureDevice.h"

namespace console {

// An audio input is listed as its description ("Monitor of qtest") and its
// source or device name ("qtest.monitor").
using TAudioSource = TCaptureDevice;

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

#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "console/media/TCaptureDevice.h"

namespace console {

// The capture devices offered to the user, filled in place. Names are UTF-8:
// the friendly name is what the user reads and what is stored, the
// alternative name is what the captors open (a node path, a source name).
struct TDShowDeviceList {
    static constexpr int kMaxDevices = 20;
    static constexpr int kNameBytes = 256;

    char videoNames[kMaxDevices][kNameBytes];
    char videoAltNames[kMaxDevices][kNameBytes];
    int32_t videoCount;
    char audioNames[kMaxDevices][kNameBytes];
    char audioAltNames[kMaxDevices][kNameBytes];
    int32_t audioCount;
};

// Fills `devices` with the machine's capture devices of one kind, in the
// order they should be offered.
using CaptureDeviceWalk = std::function<void(std::vector<TCaptureDevice>* devices)>;

// Lists the cameras (through the walk it is given) and the audio inputs
// (PulseAudio sources, or ALSA's "default" and card devices when no
// PulseAudio server answers). Keeps no state between listings.
class TEnumDShowDevices {
public:
    static constexpr int kAttempts = 4;

    // Without walks of its own it lists the capture nodes and the audio
    // sources of the machine.
    explicit TEnumDShowDevices(CaptureDeviceWalk videoWalk = {}, CaptureDeviceWalk audioWalk = {});

    // Up to four attempts, until both kinds have devices.
    void Enumerate(TDShowDeviceList* list) const;

    // The video capture nodes in node order: card name, node path.
    static void WalkCameraNodes(std::vector<TCaptureDevice>* devices);
    // The audio inputs: the default source first, sink monitors last.
    static void WalkAudioSources(std::vector<TCaptureDevice>* devices);

private:
    CaptureDeviceWalk m_videoWalk;
    CaptureDeviceWalk m_audioWalk;
};

}  // namespace console

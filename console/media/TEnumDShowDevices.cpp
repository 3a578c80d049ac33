#include "console/media/TEnumDShowDevices.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "console/media/AudioSources.h"
#include "platform/CaptureDevices.h"
#include "platform/DebugOutput.h"

namespace console {
namespace {

constexpr size_t kMaxNameLength = TDShowDeviceList::kNameBytes - 1;

// Copies a friendly name, cut at a character boundary when it is too long.
void CopyCut(const std::string& text, char* out) {
    size_t length = std::min(text.size(), kMaxNameLength);
    if (length < text.size()) {
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
    }
    std::memcpy(out, text.data(), length);
    out[length] = '\0';
}

// Fills one kind's names; a device whose alternative name does not fit is
// left out, since a cut name would open another device or none.
int32_t Fill(const CaptureDeviceWalk& walk, char (*names)[TDShowDeviceList::kNameBytes],
             char (*altNames)[TDShowDeviceList::kNameBytes]) {
    std::vector<TCaptureDevice> devices;
    walk(&devices);
    int32_t count = 0;
    for (const TCaptureDevice& device : devices) {
        if (count == TDShowDeviceList::kMaxDevices)
            break;
        if (device.altName.size() > kMaxNameLength)
            continue;
        CopyCut(device.friendlyName, names[count]);
        CopyCut(device.altName, altNames[count]);
        ++count;
    }
    return count;
}

}  // namespace

TEnumDShowDevices::TEnumDShowDevices(CaptureDeviceWalk videoWalk, CaptureDeviceWalk audioWalk)
    : m_videoWalk(videoWalk ? std::move(videoWalk) : &TEnumDShowDevices::WalkCameraNodes),
      m_audioWalk(audioWalk ? std::move(audioWalk) : &TEnumDShowDevices::WalkAudioSources) {}

void TEnumDShowDevices::Enumerate(TDShowDeviceList* list) const {
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        list->videoCount = Fill(m_videoWalk, list->videoNames, list->videoAltNames);
        list->audioCount = Fill(m_audioWalk, list->audioNames, list->audioAltNames);
        if ((list->videoCount != 0 && list->audioCount != 0) || attempt == kAttempts)
            return;
        platform::DebugOutput("\n\nTEnumDShowDevices Retry\n\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void TEnumDShowDevices::WalkCameraNodes(std::vector<TCaptureDevice>* devices) {
    devices->clear();
    for (platform::TCaptureNode& node : platform::ListCaptureNodes())
        devices->push_back({std::move(node.cardName), std::move(node.path)});
}

void TEnumDShowDevices::WalkAudioSources(std::vector<TCaptureDevice>* devices) {
    if (ListPulseSources(devices) == AudioListResult::NoServer)
        ListAlsaSources(devices);
}

}  // namespace console

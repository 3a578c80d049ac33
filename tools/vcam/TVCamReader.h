#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/VCamLayout.h"
#include "platform/NamedEvent.h"
#include "platform/SharedMemory.h"

namespace pelorn::vcam {

// One picture as the reader took it out of a slot.
struct TVCamFrame {
    int16_t width = 0;
    int16_t height = 0;
    int16_t format = 0;
    int64_t pts = 0;
    // width x height x bytes per pixel of `format`; 0 for a format that is
    // not one of the three packed ones. More than kPixelBytes means the
    // writer had to cut the picture at the end of the slot.
    size_t declaredBytes = 0;
    const uint8_t* pixels = nullptr;  // the reader's copy, valid until the next ReadNext
    size_t copiedBytes = 0;           // min(declaredBytes, kPixelBytes)
    int waiting = 0;                  // frames waiting when this one was taken, itself included
};

// The reading side of the virtual-camera block, as the outside camera driver
// has it: it takes the slots in order, frees each by advancing readIndex and
// increments the heartbeat while it reads. One reader thread.
class TVCamReader {
public:
    TVCamReader(std::string mappingName, std::string eventName);
    TVCamReader(const TVCamReader&) = delete;
    TVCamReader& operator=(const TVCamReader&) = delete;

    // Opens the block and the event. 0; ENOENT while the writer has not
    // created them; EAGAIN while its header is not written yet; otherwise the
    // errno of the step that failed. Nothing stays open on failure.
    int Connect();
    void Disconnect();
    bool IsConnected() const { return m_block.IsOpen(); }
    // True when the name no longer leads to the block this reader has open:
    // the writer removed it, or removed it and created a new one.
    bool WriterGone() const;

    // Waits up to timeout_ms for the writer's event and resets it when set.
    // Reset before the ring is drained, so a frame published after the drain
    // looked at writeIndex sets the event again.
    bool WaitForFrames(int timeout_ms);
    // Copies the oldest waiting slot out, increments the heartbeat and frees
    // the slot. False when the ring is empty.
    bool ReadNext(TVCamFrame* frame);

private:
    void BumpHeartbeat(int heldSlot);

    std::string m_strMappingName;
    std::string m_strEventName;
    platform::TSharedMemory m_block;
    platform::TNamedEvent m_event;
    std::unique_ptr<uint8_t[]> m_pCopy;  // kPixelBytes, allocated once
    uint32_t m_nBeats = 0;               // the heartbeat this reader last stored
};

}  // namespace pelorn::vcam

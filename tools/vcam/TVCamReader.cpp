#include "tools/vcam/TVCamReader.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

namespace pelorn::vcam {
namespace {

int Distance(int from, int to) { return (to - from + kCapacity) % kCapacity; }

template <typename T>
T ReadField(const uint8_t* slot, size_t offset) {
    T value;
    std::memcpy(&value, slot + offset, sizeof value);
    return value;
}

}  // namespace

TVCamReader::TVCamReader(std::string mappingName, std::string eventName)
    : m_strMappingName(std::move(mappingName)),
      m_strEventName(std::move(eventName)),
      m_pCopy(std::make_unique_for_overwrite<uint8_t[]>(kPixelBytes)) {}

int TVCamReader::Connect() {
    Disconnect();
    // A block still shorter than the layout is one whose writer is creating it.
    int error = m_block.Open(m_strMappingName, kBlockBytes, platform::TSharedMemory::Access::OpenExisting);
    if (error == EINVAL) error = EAGAIN;
    if (error != 0) return error;
    const common::TFrameRingHeader* header = Header(m_block.Data());
    if (header->capacity != kCapacity || header->slotSize != kSlotBytes) {
        Disconnect();
        return EAGAIN;
    }
    error = m_event.Open(m_strEventName, platform::TNamedEvent::Access::OpenExisting);
    if (error != 0) Disconnect();
    return error;
}

void TVCamReader::Disconnect() {
    m_event.Close();
    m_block.Close();
}

bool TVCamReader::WriterGone() const {
    return IsConnected() && platform::TSharedMemory::CurrentIdentity(m_strMappingName) != m_block.Identity();
}

bool TVCamReader::WaitForFrames(int timeout_ms) {
    if (!m_event.WaitFor(timeout_ms)) return false;
    m_event.Reset();
    return true;
}

// The heartbeat is the first pixel word of slot 19, so changing it while
// slot 19 holds a waiting frame, or the frame the writer is filling, would
// change that frame. It is safe while this reader holds slot 19, or while
// slot 19 lies beyond the writer's next slot: the writer then has to publish
// at least one more frame (a slot's copy) before it gets to slot 19.
//
// Every frame written into slot 19 puts its own first pixel into the word,
// so the reader stores a count of its own rather than adding to whatever it
// finds: added to pixel values, the word would fall back every 20 frames
// and the writer, which wants it to rise from one check to the next, would
// rarely see a reader.
void TVCamReader::BumpHeartbeat(int heldSlot) {
    common::TFrameRingHeader* header = Header(m_block.Data());
    const int tail = header->tail.load(std::memory_order_acquire);
    const bool safe = heldSlot == kHeartbeatSlot ||
                      Distance(heldSlot, kHeartbeatSlot) > Distance(heldSlot, tail);
    if (!safe) return;
    // Relaxed: a lone counter that publishes nothing.
    std::atomic_ref<uint32_t>(*Heartbeat(m_block.Data())).store(++m_nBeats, std::memory_order_relaxed);
}

bool TVCamReader::ReadNext(TVCamFrame* frame) {
    if (!IsConnected()) return false;
    common::TFrameRingHeader* header = Header(m_block.Data());
    // Acquire on writeIndex pairs with the writer's release store after it
    // filled the slot; readIndex is ours, but the writer's Reset may zero it.
    const int head = header->head.load(std::memory_order_acquire);
    const int tail = header->tail.load(std::memory_order_acquire);
    if (head == tail || head < 0 || head >= kCapacity || tail < 0 || tail >= kCapacity) return false;

    const uint8_t* slot = Slot(m_block.Data(), head);
    frame->width = ReadField<int16_t>(slot, kWidthOffset);
    frame->height = ReadField<int16_t>(slot, kHeightOffset);
    frame->format = ReadField<int16_t>(slot, kFormatOffset);
    frame->pts = ReadField<int64_t>(slot, kPtsOffset);
    const int bytesPerPixel = PackedBytesPerPixel(frame->format);
    frame->declaredBytes = frame->width > 0 && frame->height > 0
                               ? static_cast<size_t>(frame->width) * frame->height * bytesPerPixel
                               : 0;
    frame->copiedBytes = std::min(frame->declaredBytes, kPixelBytes);
    std::memcpy(m_pCopy.get(), slot + kPixelsOffset, frame->copiedBytes);
    frame->pixels = m_pCopy.get();
    frame->waiting = Distance(head, tail);

    BumpHeartbeat(head);
    // Release: the copy is complete before the writer may refill the slot. A
    // compare-exchange rather than a store: when the writer's Reset zeroed
    // both indices meanwhile (its drain wait ran out), its zeros stand.
    int16_t expected = static_cast<int16_t>(head);
    header->head.compare_exchange_strong(expected, static_cast<int16_t>((head + 1) % kCapacity),
                                         std::memory_order_release, std::memory_order_relaxed);
    return true;
}

}  // namespace pelorn::vcam

#include "engine/VCamWriter.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

extern "C" {
#include <libavutil/frame.h>
}

namespace pelorn {
namespace {

using common::FrameRing;

#if !defined(__x86_64__)
#error "ResetIndices relies on x86-64's single-access unaligned 4-byte store"
#endif

struct TNameOverride {
    std::mutex lock;
    std::string mapping;
    std::string event;
};

TNameOverride& NameOverride() {
    static TNameOverride names;
    return names;
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The frame's first plane as a slot stores it: rows of rowBytes, packed.
struct TPackedPlane {
    const uint8_t* top = nullptr;
    ptrdiff_t stride = 0;
    size_t rowBytes = 0;
    size_t bytes = 0;  // what goes into the slot
};

TPackedPlane PackedPlane(const AVFrame& frame) {
    TPackedPlane plane;
    if (frame.data[0] == nullptr || frame.height <= 0 || frame.linesize[0] == 0) return plane;
    plane.top = frame.data[0];
    plane.stride = frame.linesize[0];
    const size_t lineBytes = static_cast<size_t>(std::abs(frame.linesize[0]));
    const int bytesPerPixel = vcam::PackedBytesPerPixel(frame.format);
    // Rows go in without the padding FFmpeg may leave at the end of a line;
    // a line shorter than the width claims is taken as it is.
    const size_t packed = bytesPerPixel > 0 && frame.width > 0
                              ? static_cast<size_t>(frame.width) * bytesPerPixel
                              : lineBytes;
    plane.rowBytes = std::min(packed, lineBytes);
    // A picture larger than the pixel area is cut at its end.
    plane.bytes = std::min(plane.rowBytes * static_cast<size_t>(frame.height), vcam::kPixelBytes);
    return plane;
}

// Copies bytes [begin, end) of the packed picture to the same offsets of `to`.
void CopyPacked(uint8_t* to, const TPackedPlane& plane, size_t begin, size_t end) {
    if (begin >= end) return;
    if (plane.stride == static_cast<ptrdiff_t>(plane.rowBytes)) {
        std::memcpy(to + begin, plane.top + begin, end - begin);
        return;
    }
    for (size_t at = begin; at < end;) {
        const size_t row = at / plane.rowBytes;
        const size_t column = at % plane.rowBytes;
        const size_t count = std::min(plane.rowBytes - column, end - at);
        std::memcpy(to + at, plane.top + static_cast<ptrdiff_t>(row) * plane.stride + column, count);
        at += count;
    }
}

}  // namespace

VCamWriter::VCamWriter() : VCamWriter(vcam::kMappingName, vcam::kEventName) {
    if (const char* suffix = std::getenv(kNameSuffixVariable); suffix != nullptr) {
        m_strMappingName += suffix;
        m_strEventName += suffix;
    }
    TNameOverride& names = NameOverride();
    std::lock_guard<std::mutex> guard(names.lock);
    if (!names.mapping.empty()) m_strMappingName = names.mapping;
    if (!names.event.empty()) m_strEventName = names.event;
}

VCamWriter::VCamWriter(std::string mappingName, std::string eventName)
    : m_strMappingName(std::move(mappingName)),
      m_strEventName(std::move(eventName)),
      m_pSleep(&SleepMs) {}

VCamWriter::~VCamWriter() { Destroy(); }

void VCamWriter::OverrideNamesForTesting(const std::string& mappingName,
                                         const std::string& eventName) {
    TNameOverride& names = NameOverride();
    std::lock_guard<std::mutex> guard(names.lock);
    names.mapping = mappingName;
    names.event = eventName;
}

int VCamWriter::Create() {
    if (!HasBlock()) {
        const int error = m_mapping.Open(m_strMappingName, vcam::kBlockBytes,
                                         platform::TSharedMemory::Access::CreateOrOpen);
        if (error != 0) return error;
    }
    void* block = m_mapping.Data();
    FrameRing::Format(block, vcam::kCapacity, vcam::kSlotBytes);
    m_ring.emplace(FrameRing::Attach(block));
    for (int i = 0; i < vcam::kCapacity; ++i) std::memset(vcam::Slot(block, i), 0, vcam::kSlotHeaderBytes);
    m_detector.Start(vcam::Heartbeat(block));
    // Without the event the reader is not woken, but it still finds the frames.
    if (m_event.IsOpen()) {
        m_event.Reset();
    } else {
        m_event.Open(m_strEventName, platform::TNamedEvent::Access::CreateOrOpen);
    }
    m_nRingFullCount = 0;
    m_nPaused.store(0);
    return 0;
}

void VCamWriter::PauseWrites() {
    m_nPaused.store(1);
    // A Write that got past the pause check finishes within one frame copy.
    while (m_nWritesInFlight.load() != 0) std::this_thread::yield();
}

void VCamWriter::WaitForDrain() {
    for (int sleeps = 0; sleeps < kDrainSleeps && !m_ring->IsEmpty(); ++sleeps) m_pSleep(kDrainSleepMs);
}

// readIndex and writeIndex lie side by side at offset 2, so one 4-byte store
// sets both and the reader never sees one index reset without the other. The
// word is only 2-aligned; x86-64 performs a 4-byte store that lies inside one
// aligned quadword as a single access, and __atomic_store_n emits exactly one
// such store. Release: the reader that sees the zeros also sees the slots as
// they were before.
void VCamWriter::ResetIndices() {
    auto* indices = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(m_mapping.Data()) +
                                                vcam::kReadIndexOffset);
    __atomic_store_n(indices, 0u, __ATOMIC_RELEASE);
}

void VCamWriter::StampSlots(int16_t width, int16_t height, int16_t format) {
    const int64_t pts = 0;
    for (int i = 0; i < vcam::kCapacity; ++i) {
        uint8_t* slot = vcam::Slot(m_mapping.Data(), i);
        std::memcpy(slot + vcam::kWidthOffset, &width, sizeof width);
        std::memcpy(slot + vcam::kHeightOffset, &height, sizeof height);
        std::memcpy(slot + vcam::kFormatOffset, &format, sizeof format);
        std::memcpy(slot + vcam::kPtsOffset, &pts, sizeof pts);
    }
}

void VCamWriter::Reset(int16_t width, int16_t height, int16_t format) {
    if (!HasBlock()) return;
    PauseWrites();
    m_event.Reset();
    WaitForDrain();
    ResetIndices();
    StampSlots(width, height, format);
    m_nPaused.store(0);
}

void VCamWriter::StoreFrame(uint8_t* slot, const AVFrame& frame) {
    // pts sits 4 bytes off an 8-byte boundary: copied, never loaded in place.
    std::memcpy(slot + vcam::kPtsOffset, &frame.pts, sizeof frame.pts);
    const TPackedPlane plane = PackedPlane(frame);
    uint8_t* pixels = slot + vcam::kPixelsOffset;
    uint32_t* heartbeat = vcam::Heartbeat(m_mapping.Data());
    if (pixels == reinterpret_cast<uint8_t*>(heartbeat) && plane.bytes >= sizeof(uint32_t)) {
        // The first four bytes of the last slot are also the reader's
        // heartbeat, which it increments at any time: store them in one
        // atomic access so that neither side tears the other's bytes.
        uint32_t first = 0;
        CopyPacked(reinterpret_cast<uint8_t*>(&first), plane, 0, sizeof first);
        std::atomic_ref<uint32_t>(*heartbeat).store(first, std::memory_order_relaxed);
        CopyPacked(pixels, plane, sizeof first, plane.bytes);
    } else {
        CopyPacked(pixels, plane, 0, plane.bytes);
    }
}

int VCamWriter::Write(const AVFrame* frame) {
    if (!HasBlock()) return 0;
    m_nWritesInFlight.fetch_add(1);
    if (m_nPaused.load() != 0) {
        m_nWritesInFlight.fetch_sub(1, std::memory_order_release);
        return 0;
    }
    bool heartbeatHoldsPixels = false;
    if (frame != nullptr) {
        // TailSlot loads readIndex with acquire (the reader is done with the
        // slot); Push stores writeIndex with release (the slot is complete).
        if (void* slot = m_ring->TailSlot()) {
            StoreFrame(static_cast<uint8_t*>(slot), *frame);
            m_ring->Push();
            heartbeatHoldsPixels = slot == vcam::Slot(m_mapping.Data(), vcam::kHeartbeatSlot);
        } else {
            ++m_nRingFullCount;
        }
        m_event.Set();
    }
    // Right after a frame went into slot 19 the heartbeat word is that
    // frame's first pixel until the reader takes it: a check now would judge
    // the reader by a pixel, so it waits for the next frame.
    const int state = heartbeatHoldsPixels ? m_detector.State() : m_detector.Check();
    m_nWritesInFlight.fetch_sub(1, std::memory_order_release);
    return state;
}

void VCamWriter::Destroy() {
    if (!HasBlock()) {
        m_event.Close();
        return;
    }
    PauseWrites();
    m_event.Reset();
    WaitForDrain();
    ResetIndices();
    m_event.Close();
    m_detector.Stop();
    m_ring.reset();
    m_mapping.Close();
}

}  // namespace pelorn

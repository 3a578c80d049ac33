#pragma once

// The virtual-camera block as the engine writes it and an outside reader
// reads it, byte for byte. All integers are little-endian.
//
//   offset 0   header (12 bytes): the FrameRing header; `head` is the reader's
//              readIndex, `tail` the writer's writeIndex
//   offset 12  20 slots of 8294416 bytes: slot i at 12 + i * 8294416
//
//   slot +0  int16 width   +2 int16 height   +4 int16 format (AVPixelFormat)
//        +6  int16 reserved (never written)   +8 int64 pts
//        +16 8294400 bytes of pixels: packed rows of the first plane
//
// The reader's heartbeat is the uint32 at offset 16 of slot 19, that is the
// first four pixel bytes of the last slot.

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "common/FrameRing.h"

namespace pelorn::vcam {

constexpr char kMappingName[] = "Global\\QndlShareMemT";
constexpr char kEventName[] = "Global\\KpEvtShowTestKp";

constexpr int16_t kCapacity = 20;
constexpr size_t kHeaderBytes = 12;
constexpr size_t kSlotHeaderBytes = 16;
constexpr size_t kPixelBytes = 1920 * 1080 * 4;
constexpr int32_t kSlotBytes = static_cast<int32_t>(kSlotHeaderBytes + kPixelBytes);
constexpr size_t kBlockBytes = kHeaderBytes + kCapacity * static_cast<size_t>(kSlotBytes);

// Header fields.
constexpr size_t kCapacityOffset = 0;
constexpr size_t kReadIndexOffset = 2;
constexpr size_t kWriteIndexOffset = 4;
constexpr size_t kKeepOffset = 6;
constexpr size_t kSlotSizeOffset = 8;

// Fields inside a slot.
constexpr size_t kWidthOffset = 0;
constexpr size_t kHeightOffset = 2;
constexpr size_t kFormatOffset = 4;
constexpr size_t kPtsOffset = 8;
constexpr size_t kPixelsOffset = 16;

constexpr int kHeartbeatSlot = 19;
constexpr size_t kHeartbeatOffset = 16;

static_assert(kSlotBytes == 8294416);
static_assert(kPixelBytes == 8294400);
static_assert(kBlockBytes == 165888332);
static_assert(common::FrameRing::kHeaderSize == kHeaderBytes);
static_assert(common::FrameRing::BytesFor(kCapacity, kSlotBytes) == kBlockBytes);
static_assert(offsetof(common::TFrameRingHeader, capacity) == kCapacityOffset);
static_assert(offsetof(common::TFrameRingHeader, head) == kReadIndexOffset);
static_assert(offsetof(common::TFrameRingHeader, tail) == kWriteIndexOffset);
static_assert(offsetof(common::TFrameRingHeader, keep) == kKeepOffset);
static_assert(offsetof(common::TFrameRingHeader, slotSize) == kSlotSizeOffset);

constexpr size_t SlotOffset(int index) {
    return kHeaderBytes + static_cast<size_t>(index) * static_cast<size_t>(kSlotBytes);
}

// The block is mapped page-aligned, so the heartbeat word is 4-byte aligned
// and can be accessed atomically.
static_assert((SlotOffset(kHeartbeatSlot) + kHeartbeatOffset) % alignof(uint32_t) == 0);
static_assert(SlotOffset(kCapacity) == kBlockBytes);

inline uint8_t* Slot(void* block, int index) {
    return static_cast<uint8_t*>(block) + SlotOffset(index);
}

inline uint32_t* Heartbeat(void* block) {
    return reinterpret_cast<uint32_t*>(Slot(block, kHeartbeatSlot) + kHeartbeatOffset);
}

inline common::TFrameRingHeader* Header(void* block) {
    return static_cast<common::TFrameRingHeader*>(block);
}

// Bytes per pixel of the three packed output formats (AVPixelFormat 3 BGR24,
// 28 BGRA, 1 YUYV422); 0 for any other code.
constexpr int PackedBytesPerPixel(int format) {
    switch (format) {
        case 3: return 3;
        case 28: return 4;
        case 1: return 2;
        default: return 0;
    }
}

}  // namespace pelorn::vcam

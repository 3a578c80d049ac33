#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace common {

// The ring's header, 12 bytes, little-endian. The virtual-camera block starts
// with the same header (there `head` is the reader's index and `tail` the
// writer's), so the layout is fixed byte for byte.
struct TFrameRingHeader {
    int16_t capacity;
    std::atomic<int16_t> head;  // slot the consumer takes next; written by the consumer only
    std::atomic<int16_t> tail;  // slot the producer fills next; written by the producer only
    int16_t keep;               // 0, or how many newest entries a Pop keeps
    int32_t slotSize;           // bytes per slot
};

static_assert(std::atomic<int16_t>::is_always_lock_free,
              "ring positions are shared between processes and must be address-free");
static_assert(sizeof(std::atomic<int16_t>) == 2);
static_assert(sizeof(TFrameRingHeader) == 12);

// A single-producer, single-consumer ring of equal slots after the header.
// Empty when head == tail, full when (tail + 1) % capacity == head, so at most
// capacity - 1 entries wait.
//
// Ordering: the producer fills a slot and then stores `tail` with release; the
// consumer loads `tail` with acquire before it reads a slot. The consumer is
// done with a slot before it stores `head` with release; the producer loads
// `head` with acquire before it reuses a slot. Nothing else is shared, so the
// ring needs no lock, in one process or across processes in shared memory.
class FrameRing {
public:
    static constexpr size_t kHeaderSize = sizeof(TFrameRingHeader);

    static constexpr size_t BytesFor(int capacity, int slotSize) {
        return kHeaderSize + static_cast<size_t>(capacity) * static_cast<size_t>(slotSize);
    }

    // A ring in memory of its own, slots zero-filled.
    FrameRing(int16_t capacity, int32_t slotSize, int16_t keep = 0);

    // Writes a fresh header (empty ring) into `block` of BytesFor() bytes.
    static void Format(void* block, int16_t capacity, int32_t slotSize, int16_t keep = 0);
    // A view of a ring already formatted in `block` (for example shared memory);
    // the view does not own the block.
    static FrameRing Attach(void* block) { return FrameRing(static_cast<uint8_t*>(block)); }

    FrameRing(FrameRing&&) = default;
    FrameRing& operator=(FrameRing&&) = default;

    int Capacity() const { return m_pHeader->capacity; }
    int SlotSize() const { return m_pHeader->slotSize; }
    int Count() const;
    bool IsEmpty() const;
    bool IsFull() const;

    // Producer side: the slot to fill, or nullptr when the ring is full; Push
    // publishes the filled tail slot.
    void* TailSlot();
    void Push();
    // Copies `size` bytes (at most the slot size) into the tail slot and
    // publishes it; false when the ring is full.
    bool Push(const void* bytes, size_t size);

    // Consumer side: the oldest entry, or nullptr when empty; Pop releases it.
    void* Front();
    void Pop();

    void* Slot(int index) { return m_pSlots + static_cast<size_t>(index) * SlotSize(); }
    // Empties the ring by setting both positions to 0; only while neither side runs.
    void ResetPositions();

    TFrameRingHeader* Header() { return m_pHeader; }

private:
    explicit FrameRing(uint8_t* block);

    std::unique_ptr<uint8_t[]> m_pOwned;
    TFrameRingHeader* m_pHeader = nullptr;
    uint8_t* m_pSlots = nullptr;
};

}  // namespace common

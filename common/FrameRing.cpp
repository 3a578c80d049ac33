#include "common/FrameRing.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace common {
namespace {

int16_t Advance(int16_t position, int by, int capacity) {
    return static_cast<int16_t>((position + by) % capacity);
}

int Distance(int head, int tail, int capacity) { return (tail - head + capacity) % capacity; }

}  // namespace

FrameRing::FrameRing(int16_t capacity, int32_t slotSize, int16_t keep)
    : m_pOwned(new uint8_t[BytesFor(capacity, slotSize)]()) {
    Format(m_pOwned.get(), capacity, slotSize, keep);
    m_pHeader = reinterpret_cast<TFrameRingHeader*>(m_pOwned.get());
    m_pSlots = m_pOwned.get() + kHeaderSize;
}

FrameRing::FrameRing(uint8_t* block)
    : m_pHeader(reinterpret_cast<TFrameRingHeader*>(block)), m_pSlots(block + kHeaderSize) {}

void FrameRing::Format(void* block, int16_t capacity, int32_t slotSize, int16_t keep) {
    auto* header = new (block) TFrameRingHeader;
    header->capacity = capacity;
    header->keep = keep;
    header->slotSize = slotSize;
    header->head.store(0, std::memory_order_relaxed);
    // Readers load the indices with acquire: this store publishes the rest.
    header->tail.store(0, std::memory_order_release);
}

int FrameRing::Count() const {
    const int head = m_pHeader->head.load(std::memory_order_acquire);
    const int tail = m_pHeader->tail.load(std::memory_order_acquire);
    return Distance(head, tail, Capacity());
}

bool FrameRing::IsEmpty() const { return Count() == 0; }

bool FrameRing::IsFull() const { return Count() == Capacity() - 1; }

void* FrameRing::TailSlot() {
    const int16_t tail = m_pHeader->tail.load(std::memory_order_relaxed);
    const int16_t head = m_pHeader->head.load(std::memory_order_acquire);
    if (Advance(tail, 1, Capacity()) == head) return nullptr;
    return Slot(tail);
}

void FrameRing::Push() {
    const int16_t tail = m_pHeader->tail.load(std::memory_order_relaxed);
    m_pHeader->tail.store(Advance(tail, 1, Capacity()), std::memory_order_release);
}

bool FrameRing::Push(const void* bytes, size_t size) {
    void* slot = TailSlot();
    if (slot == nullptr) return false;
    std::memcpy(slot, bytes, std::min(size, static_cast<size_t>(SlotSize())));
    Push();
    return true;
}

void* FrameRing::Front() {
    const int16_t head = m_pHeader->head.load(std::memory_order_relaxed);
    const int16_t tail = m_pHeader->tail.load(std::memory_order_acquire);
    return head == tail ? nullptr : Slot(head);
}

void FrameRing::Pop() {
    const int16_t head = m_pHeader->head.load(std::memory_order_relaxed);
    const int16_t tail = m_pHeader->tail.load(std::memory_order_acquire);
    const int waiting = Distance(head, tail, Capacity());
    if (waiting == 0) return;
    const int keep = m_pHeader->keep;
    const int step = keep > 0 && waiting > keep ? waiting - keep : 1;
    m_pHeader->head.store(Advance(head, step, Capacity()), std::memory_order_release);
}

void FrameRing::ResetPositions() {
    m_pHeader->head.store(0, std::memory_order_release);
    m_pHeader->tail.store(0, std::memory_order_release);
}

}  // namespace common

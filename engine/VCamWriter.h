#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "common/FrameRing.h"
#include "engine/ConsumerDetector.h"
#include "engine/VCamLayout.h"
#include "platform/NamedEvent.h"
#include "platform/SharedMemory.h"

struct AVFrame;

namespace pelorn {

// The engine's side of the virtual camera: a named shared block holding a
// ring of 20 picture slots (layout in VCamLayout.h) and a named manual-reset
// event. Every output frame goes into the next free slot and sets the event;
// a heartbeat that the reader advances tells whether somebody reads.
//
// Threads: Create and Destroy on the owner's thread while no Write runs;
// Write on the output worker; Reset on the user-interface thread while the
// output worker may be writing. Reset pauses writing and waits for a Write
// already under way to finish before it touches the slots or the indices.
class VCamWriter {
public:
    using SleepFunction = void (*)(int ms);

    static constexpr int kDrainSleepMs = 20;
    static constexpr int kDrainSleeps = 5;

    // Uses the real names with the value of QUINDLE_VCAM_SUFFIX appended,
    // when it is set (an engine and its reader run beside another pair),
    // unless a test replaced them with OverrideNamesForTesting.
    VCamWriter();
    VCamWriter(std::string mappingName, std::string eventName);
    ~VCamWriter();
    VCamWriter(const VCamWriter&) = delete;
    VCamWriter& operator=(const VCamWriter&) = delete;

    // Creates (or takes over) the block and the event. Returns 0, or the
    // errno of the mapping step; the writer then stays without a block and
    // every Write returns 0 without signalling.
    int Create();
    // Empties the ring for a new output size and format: pauses writing,
    // waits at most kDrainSleeps x kDrainSleepMs for the reader to drain,
    // then resets both indices and stamps every slot.
    void Reset(int16_t width, int16_t height, int16_t format);
    // Stores the frame in the next free slot (a full ring loses it), sets the
    // event and returns the consumer state, 0 or 1. Paused or without a
    // block: returns 0 and does nothing.
    int Write(const AVFrame* frame);
    // Drains as Reset does, then closes the event, zeroes the heartbeat and
    // unmaps and removes the block.
    void Destroy();

    bool HasBlock() const { return m_ring.has_value(); }
    const std::string& MappingName() const { return m_strMappingName; }
    const std::string& EventName() const { return m_strEventName; }
    // Frames lost because the reader had not freed a slot; output worker only.
    int64_t RingFullCount() const { return m_nRingFullCount; }

    // Replaces the 20 ms sleep of the drain wait (tests count the sleeps).
    void SetSleepForTesting(SleepFunction sleep) { m_pSleep = sleep; }
    static constexpr char kNameSuffixVariable[] = "QUINDLE_VCAM_SUFFIX";
    // Names that later default-constructed writers use, so that a test's
    // engine does not meet other processes on the real names; empty strings
    // restore the real names.
    static void OverrideNamesForTesting(const std::string& mappingName,
                                        const std::string& eventName);

private:
    void PauseWrites();
    void WaitForDrain();
    void ResetIndices();
    void StampSlots(int16_t width, int16_t height, int16_t format);
    void StoreFrame(uint8_t* slot, const AVFrame& frame);

    std::string m_strMappingName;
    std::string m_strEventName;
    platform::TNamedEvent m_event;
    // 1 while Reset or Destroy own the ring. Write announces itself in
    // m_nWritesInFlight before it looks at m_nPaused, and Reset raises
    // m_nPaused before it looks at m_nWritesInFlight; with both sides
    // sequentially consistent, either the Write sees the pause and backs out,
    // or Reset sees the Write and waits for its release decrement.
    std::atomic<int32_t> m_nPaused{0};
    std::atomic<int32_t> m_nWritesInFlight{0};
    platform::TSharedMemory m_mapping;
    std::optional<common::FrameRing> m_ring;  // a view of the mapped block
    ConsumerDetector m_detector;
    SleepFunction m_pSleep;
    int64_t m_nRingFullCount = 0;
};

}  // namespace pelorn

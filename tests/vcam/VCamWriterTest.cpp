#include "engine/VCamWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "platform/NamedEvent.h"
#include "platform/PerfCounter.h"
#include "tests/vcam/VCamTestSupport.h"
#include "tools/vcam/TVCamReader.h"

namespace pelorn {
namespace {

using namespace vcam;
using namespace vcam::test;

constexpr int kBgra = 28;
constexpr int kBgr24 = 3;
constexpr int kYuyv = 1;

class VCamWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::PerfCounter::OverrideForTesting(&TFakeClock::Read);
        m_names = UniqueNames("Writer");
        m_writer = std::make_unique<VCamWriter>(m_names.mapping, m_names.event);
        ASSERT_EQ(m_writer->Create(), 0);
        ASSERT_EQ(m_view.Open(m_names.mapping), 0);
        ASSERT_EQ(m_event.Open(m_names.event, platform::TNamedEvent::Access::OpenExisting), 0);
    }
    void TearDown() override {
        m_writer.reset();
        platform::PerfCounter::OverrideForTesting(nullptr);
    }

    // Writes one small frame 600 ms after the previous check, so that every
    // Write runs a consumer check.
    int WriteAtNextCheck(AVFrame* frame) {
        TFakeClock::AdvanceMs(ConsumerDetector::kCheckIntervalMs);
        return m_writer->Write(frame);
    }

    TNames m_names;
    std::unique_ptr<VCamWriter> m_writer;
    TBlockView m_view;
    platform::TNamedEvent m_event;
};

TEST_F(VCamWriterTest, CreateWritesTheHeaderAndClearsEverySlotHeader) {
    for (int i = 0; i < kCapacity; ++i) std::memset(m_view.Slot(i), 0xAB, kSlotHeaderBytes);
    m_view.Heartbeat().store(99);
    m_view.Header()->head.store(7);
    m_event.Set();

    ASSERT_EQ(m_writer->Create(), 0);  // again, on the block it already has
    const uint8_t* base = m_view.Base();
    int16_t capacity, keep;
    int32_t slotSize;
    std::memcpy(&capacity, base + kCapacityOffset, 2);
    std::memcpy(&keep, base + kKeepOffset, 2);
    std::memcpy(&slotSize, base + kSlotSizeOffset, 4);
    EXPECT_EQ(capacity, 20);
    EXPECT_EQ(keep, 0);
    EXPECT_EQ(slotSize, 8294416);
    EXPECT_EQ(m_view.ReadIndex(), 0);
    EXPECT_EQ(m_view.WriteIndex(), 0);
    for (int i = 0; i < kCapacity; ++i) {
        const std::vector<uint8_t> header(m_view.Slot(i), m_view.Slot(i) + kSlotHeaderBytes);
        EXPECT_EQ(header, std::vector<uint8_t>(kSlotHeaderBytes, 0)) << "slot " << i;
    }
    EXPECT_EQ(m_view.Heartbeat().load(), 0u);
    EXPECT_FALSE(m_event.IsSet());
}

TEST_F(VCamWriterTest, FullHdBgraFrameFillsExactlyThePixelArea) {
    m_writer->Reset(1920, 1080, kBgra);
    AVFrame* frame = NewFrame(1920, 1080, kBgra);
    ASSERT_EQ(frame->linesize[0], 1920 * 4);
    for (size_t i = 0; i < kPixelBytes; ++i) frame->data[0][i] = static_cast<uint8_t>(i % 251);
    frame->pts = 123456789012;
    const std::vector<uint8_t> nextSlotHeader(m_view.Slot(1), m_view.Slot(1) + kSlotHeaderBytes);

    m_writer->Write(frame);

    TVCamReader reader(m_names.mapping, m_names.event);
    ASSERT_EQ(reader.Connect(), 0);
    TVCamFrame read;
    ASSERT_TRUE(reader.ReadNext(&read));
    EXPECT_EQ(read.width, 1920);
    EXPECT_EQ(read.height, 1080);
    EXPECT_EQ(read.format, kBgra);
    EXPECT_EQ(read.pts, 123456789012);
    EXPECT_EQ(read.declaredBytes, 8294400u);
    EXPECT_EQ(std::memcmp(read.pixels, frame->data[0], kPixelBytes), 0);
    EXPECT_EQ(std::vector<uint8_t>(m_view.Slot(1), m_view.Slot(1) + kSlotHeaderBytes), nextSlotHeader);
    EXPECT_EQ(m_view.ReadIndex(), 1);
    av_frame_free(&frame);
}

TEST_F(VCamWriterTest, WithoutAReaderTheRingFillsAfter19FramesAndTheEventIsStillSet) {
    m_writer->Reset(64, 4, kBgra);
    AVFrame* frame = NewFrame(64, 4, kBgra, 0x11);
    for (int i = 0; i < 25; ++i) {
        frame->pts = 100 + i;
        m_event.Reset();
        EXPECT_EQ(WriteAtNextCheck(frame), 0) << "frame " << i;
        EXPECT_TRUE(m_event.IsSet()) << "frame " << i;
        EXPECT_EQ(m_view.WriteIndex(), std::min(i + 1, 19)) << "frame " << i;
    }
    EXPECT_EQ(m_writer->RingFullCount(), 6);
    EXPECT_EQ(m_view.Pts(18), 118);
    EXPECT_EQ(m_view.Pts(19), 0);  // the slot that stays free
    av_frame_free(&frame);
}

// A reader that keeps up with 30 frames a second, on pictures whose first
// pixel (the heartbeat word when they land in slot 19) flips between white
// and black: the writer still sees the heartbeat rise within about 2 s, and
// loses it within about 2.5 s once the reader stops.
TEST_F(VCamWriterTest, AReaderIsSeenThroughPicturesThatOverwriteTheHeartbeat) {
    AVFrame* white = NewFrame(64, 4, kBgra, 0xFF);
    AVFrame* black = NewFrame(64, 4, kBgra, 0x00);
    TVCamReader reader(m_names.mapping, m_names.event);
    ASSERT_EQ(reader.Connect(), 0);
    auto playFor = [&](int frames, bool reading) {
        int firstChange = -1;
        const int before = m_writer->Write(nullptr);
        for (int i = 0; i < frames; ++i) {
            TFakeClock::AdvanceMs(33);
            const int state = m_writer->Write(i % 2 == 0 ? white : black);
            if (firstChange < 0 && state != before) firstChange = i;
            TVCamFrame frame;
            while (reading && reader.ReadNext(&frame)) {
            }
        }
        return firstChange;
    };
    const int on = playFor(300, true);
    EXPECT_GE(on, 0);
    EXPECT_LE(on * 33, 2500);
    EXPECT_EQ(playFor(300, true), -1) << "the state fell back while the reader read";
    const int off = playFor(300, false);
    EXPECT_GE(off, 0);
    EXPECT_LE(off * 33, 3000);
    av_frame_free(&white);
    av_frame_free(&black);
}

// Checks fall due exactly when frames go into slot 19, whose first pixel
// (white, above any count) then fills the heartbeat word: they are put off
// to the next frame, when the reader has taken the slot and stored its count.
TEST_F(VCamWriterTest, ACheckDueAsAFrameFillsSlot19WaitsForTheNextFrame) {
    AVFrame* white = NewFrame(64, 4, kBgra, 0xFF);
    TVCamReader reader(m_names.mapping, m_names.event);
    ASSERT_EQ(reader.Connect(), 0);
    std::vector<int> states;
    for (int i = 0; i < 5 * kCapacity; ++i) {
        const bool intoSlot19 = m_view.WriteIndex() == kHeartbeatSlot;
        TFakeClock::AdvanceMs(intoSlot19 ? ConsumerDetector::kCheckIntervalMs : 1);
        const int state = m_writer->Write(white);
        if (i % kCapacity == 0) states.push_back(state);
        TVCamFrame frame;
        while (reader.ReadNext(&frame)) {
        }
    }
    EXPECT_EQ(states, (std::vector<int>{0, 0, 0, 1, 1}));
    av_frame_free(&white);
}

TEST_F(VCamWriterTest, HeartbeatOncePerSecondTurnsTheStateOnAtTheThirdCheck) {
    AVFrame* frame = NewFrame(64, 4, kBgra);
    std::vector<int> states;
    for (int second = 0; second < 4; ++second) {
        m_view.Heartbeat().fetch_add(1);
        TFakeClock::AdvanceMs(1000);
        states.push_back(m_writer->Write(frame));
        m_view.TakeAll();
    }
    EXPECT_EQ(states, (std::vector<int>{0, 0, 1, 1}));

    // Three checks in a row without a heartbeat turn it off again.
    states.clear();
    for (int second = 0; second < 3; ++second) {
        TFakeClock::AdvanceMs(1000);
        states.push_back(m_writer->Write(frame));
    }
    EXPECT_EQ(states, (std::vector<int>{1, 1, 0}));
    av_frame_free(&frame);
}

TEST_F(VCamWriterTest, ChecksComeAtMostEvery600Milliseconds) {
    AVFrame* frame = NewFrame(64, 4, kBgra);
    // A heartbeat before every frame, frames 300 ms apart: only every second
    // frame is a check, so the third advancing check is the sixth frame.
    std::vector<int> states;
    for (int i = 0; i < 6; ++i) {
        m_view.Heartbeat().fetch_add(1);
        TFakeClock::AdvanceMs(300);
        states.push_back(m_writer->Write(frame));
        m_view.TakeAll();
    }
    EXPECT_EQ(states, (std::vector<int>{0, 0, 0, 0, 0, 1}));
    av_frame_free(&frame);
}

TEST_F(VCamWriterTest, ABrokenRunOfChecksStartsCountingAgain) {
    AVFrame* frame = NewFrame(64, 4, kBgra);
    std::vector<int> states;
    // advanced, advanced, missed, advanced, advanced, advanced
    for (bool beat : {true, true, false, true, true, true}) {
        if (beat) m_view.Heartbeat().fetch_add(1);
        states.push_back(WriteAtNextCheck(frame));
        m_view.TakeAll();
    }
    EXPECT_EQ(states, (std::vector<int>{0, 0, 0, 0, 0, 1}));
    av_frame_free(&frame);
}

struct TDrainProbe {
    static inline int sleeps = 0;
    static inline std::vector<int> durations;
    static inline TBlockView* view = nullptr;
    static inline int drainAtSleep = -1;
    static inline VCamWriter* writer = nullptr;
    static inline AVFrame* frame = nullptr;
    static inline std::vector<int> pausedResults;

    static void Reset() {
        sleeps = 0;
        durations.clear();
        drainAtSleep = -1;
        writer = nullptr;
        pausedResults.clear();
    }
    static void Sleep(int ms) {
        ++sleeps;
        durations.push_back(ms);
        if (sleeps == drainAtSleep) view->TakeAll();
        if (writer != nullptr) {
            const int writeIndex = view->WriteIndex();
            pausedResults.push_back(writer->Write(frame));
            pausedResults.push_back(view->WriteIndex() - writeIndex);
        }
    }
};

TEST_F(VCamWriterTest, ResetWithARingNeverDrainedGivesUpAfterFiveSleepsAndResetsTheIndices) {
    TDrainProbe::Reset();
    TDrainProbe::view = &m_view;
    m_writer->SetSleepForTesting(&TDrainProbe::Sleep);
    AVFrame* frame = NewFrame(64, 4, kBgra);
    for (int i = 0; i < 3; ++i) m_writer->Write(frame);
    m_view.Heartbeat().store(77);
    m_event.Set();

    m_writer->Reset(640, 480, kYuyv);

    EXPECT_EQ(TDrainProbe::durations, (std::vector<int>{20, 20, 20, 20, 20}));
    EXPECT_EQ(m_view.ReadIndex(), 0);
    EXPECT_EQ(m_view.WriteIndex(), 0);
    EXPECT_FALSE(m_event.IsSet());
    for (int i = 0; i < kCapacity; ++i) {
        EXPECT_EQ(m_view.Field16(i, kWidthOffset), 640);
        EXPECT_EQ(m_view.Field16(i, kHeightOffset), 480);
        EXPECT_EQ(m_view.Field16(i, kFormatOffset), kYuyv);
        EXPECT_EQ(m_view.Pts(i), 0);
    }
    EXPECT_EQ(m_view.Heartbeat().load(), 77u);  // in the pixels, not touched
    av_frame_free(&frame);
}

TEST_F(VCamWriterTest, ResetStopsWaitingOnceTheReaderHasDrained) {
    TDrainProbe::Reset();
    TDrainProbe::view = &m_view;
    TDrainProbe::drainAtSleep = 2;
    m_writer->SetSleepForTesting(&TDrainProbe::Sleep);
    AVFrame* frame = NewFrame(64, 4, kBgra);
    m_writer->Write(frame);
    m_writer->Reset(64, 4, kBgra);
    EXPECT_EQ(TDrainProbe::sleeps, 2);

    m_writer->Reset(64, 4, kBgra);  // empty already: no wait
    EXPECT_EQ(TDrainProbe::sleeps, 2);
    av_frame_free(&frame);
}

TEST_F(VCamWriterTest, PausedWriteReturnsZeroAndWritesNothing) {
    AVFrame* frame = NewFrame(64, 4, kBgra);
    for (int i = 0; i < 3; ++i) {
        m_view.Heartbeat().fetch_add(1);
        WriteAtNextCheck(frame);
    }
    m_view.Heartbeat().fetch_add(1);
    ASSERT_EQ(WriteAtNextCheck(frame), 1);  // in use, and the ring is not empty

    TDrainProbe::Reset();
    TDrainProbe::view = &m_view;
    TDrainProbe::writer = m_writer.get();
    TDrainProbe::frame = frame;
    m_writer->SetSleepForTesting(&TDrainProbe::Sleep);
    m_writer->Reset(64, 4, kBgra);  // writes during its drain wait, while paused

    ASSERT_EQ(TDrainProbe::pausedResults.size(), 10u);
    for (size_t i = 0; i < TDrainProbe::pausedResults.size(); i += 2) {
        EXPECT_EQ(TDrainProbe::pausedResults[i], 0);      // the state while paused
        EXPECT_EQ(TDrainProbe::pausedResults[i + 1], 0);  // nothing written
    }
    EXPECT_FALSE(m_event.IsSet());
    EXPECT_EQ(m_writer->Write(frame), 1);  // unpaused: the state is back
    EXPECT_EQ(m_view.WriteIndex(), 1);
    av_frame_free(&frame);
}

TEST_F(VCamWriterTest, OversizedFrameIsCutAtTheEndOfTheSlot) {
    m_writer->Reset(3840, 2160, kBgra);
    AVFrame* frame = NewFrame(3840, 2160, kBgra);
    const size_t frameBytes = static_cast<size_t>(frame->linesize[0]) * 2160;
    for (size_t i = 0; i < frameBytes; ++i) frame->data[0][i] = static_cast<uint8_t>(i % 253);
    const std::vector<uint8_t> nextSlotHeader(m_view.Slot(1), m_view.Slot(1) + kSlotHeaderBytes);

    m_writer->Write(frame);
    EXPECT_EQ(std::memcmp(m_view.Pixels(0), frame->data[0], kPixelBytes), 0);
    EXPECT_EQ(std::vector<uint8_t>(m_view.Slot(1), m_view.Slot(1) + kSlotHeaderBytes), nextSlotHeader);

    // Into the last slot too, which ends where the block ends.
    for (int i = 0; i < kCapacity; ++i) {
        m_view.TakeAll();
        m_writer->Write(frame);
    }
    EXPECT_EQ(m_view.WriteIndex(), 1);
    EXPECT_EQ(std::memcmp(m_view.Pixels(19), frame->data[0], kPixelBytes), 0);
    av_frame_free(&frame);
}

TEST_F(VCamWriterTest, PaddedAndBottomUpLinesAreStoredAsPackedRows) {
    AVFrame* padded = NewFrame(1366, 3, kBgr24, 0, 64);
    ASSERT_GT(padded->linesize[0], 1366 * 3);
    for (int row = 0; row < 3; ++row) {
        std::memset(padded->data[0] + row * padded->linesize[0], row + 1, padded->linesize[0]);
    }
    m_writer->Write(padded);
    const uint8_t* pixels = m_view.Pixels(0);
    for (int row = 0; row < 3; ++row) {
        const std::vector<uint8_t> stored(pixels + row * 4098, pixels + (row + 1) * 4098);
        EXPECT_EQ(stored, std::vector<uint8_t>(4098, row + 1)) << "row " << row;
    }

    // Negative line size: data[0] is the top row, the next lies below it in memory.
    AVFrame* bottomUp = av_frame_clone(padded);
    bottomUp->data[0] = padded->data[0] + 2 * padded->linesize[0];
    bottomUp->linesize[0] = -padded->linesize[0];
    m_writer->Write(bottomUp);
    pixels = m_view.Pixels(1);
    EXPECT_EQ(pixels[0], 3);
    EXPECT_EQ(pixels[4098], 2);
    EXPECT_EQ(pixels[2 * 4098 + 4097], 1);
    av_frame_free(&bottomUp);
    av_frame_free(&padded);
}

TEST_F(VCamWriterTest, NullFrameWritesNothingAndSetsNoEvent) {
    EXPECT_EQ(m_writer->Write(nullptr), 0);
    EXPECT_EQ(m_view.WriteIndex(), 0);
    EXPECT_FALSE(m_event.IsSet());
}

TEST_F(VCamWriterTest, BlockAndEventAreForTheirOwnerOnly) {
    using std::filesystem::perms;
    for (const std::string& name : {m_names.mapping, m_names.event}) {
        const perms mode = std::filesystem::status("/dev/shm/" + name).permissions();
        EXPECT_EQ(mode, perms::owner_read | perms::owner_write) << name;
    }
    EXPECT_EQ(std::filesystem::file_size("/dev/shm/" + m_names.mapping), 165888332u);
}

TEST_F(VCamWriterTest, DestroyZeroesTheHeartbeatAndRemovesBothObjects) {
    AVFrame* frame = NewFrame(64, 4, kBgra);
    m_writer->Write(frame);
    m_view.TakeAll();
    m_view.Heartbeat().store(55);
    m_writer->Destroy();
    EXPECT_EQ(m_view.Heartbeat().load(), 0u);
    EXPECT_EQ(m_view.ReadIndex(), 0);
    EXPECT_EQ(m_view.WriteIndex(), 0);
    EXPECT_FALSE(platform::TSharedMemory::Exists(m_names.mapping));
    EXPECT_FALSE(platform::TSharedMemory::Exists(m_names.event));
    EXPECT_FALSE(m_writer->HasBlock());
    EXPECT_EQ(m_writer->Write(frame), 0);
    m_writer->Destroy();  // twice: nothing
    av_frame_free(&frame);
}

TEST(VCamWriterFailureTest, AMappingThatCannotBeCreatedLeavesTheWriterInert) {
    const TNames names = UniqueNames("Inert");
    platform::TNamedEvent event;
    ASSERT_EQ(event.Open(names.event, platform::TNamedEvent::Access::CreateOrOpen), 0);
    VCamWriter writer("Global\\no/such/dir", names.event);
    EXPECT_NE(writer.Create(), 0);
    EXPECT_FALSE(writer.HasBlock());
    AVFrame* frame = NewFrame(64, 4, kBgra);
    writer.Reset(64, 4, kBgra);
    EXPECT_EQ(writer.Write(frame), 0);
    EXPECT_FALSE(event.IsSet());
    writer.Destroy();
    av_frame_free(&frame);
}

TEST(VCamWriterNamesTest, DefaultsAreTheRealNamesUnlessATestReplacesThem) {
    VCamWriter real;
    EXPECT_EQ(real.MappingName(), "Global\\QndlShareMemT");
    EXPECT_EQ(real.EventName(), "Global\\KpEvtShowTestKp");
    VCamWriter::OverrideNamesForTesting("Global\\A", "Global\\B");
    VCamWriter replaced;
    VCamWriter::OverrideNamesForTesting("", "");
    EXPECT_EQ(replaced.MappingName(), "Global\\A");
    EXPECT_EQ(replaced.EventName(), "Global\\B");
    EXPECT_EQ(VCamWriter().MappingName(), "Global\\QndlShareMemT");
}

}  // namespace
}  // namespace pelorn

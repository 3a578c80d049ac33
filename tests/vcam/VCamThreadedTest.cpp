// The writer against a reader thread in the same process: the ring's
// ordering, the heartbeat word shared with slot 19's pixels, and a Reset from
// another thread while frames are being written.

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "engine/VCamWriter.h"
#include "tests/vcam/VCamTestSupport.h"
#include "tools/vcam/TVCamReader.h"

namespace pelorn {
namespace {

using namespace vcam;
using namespace vcam::test;

constexpr int kBgra = 28;

TEST(VCamThreadedTest, AReaderThreadGetsEveryFrameInOrder) {
    const TNames names = UniqueNames("Threads");
    VCamWriter writer(names.mapping, names.event);
    ASSERT_EQ(writer.Create(), 0);
    writer.Reset(64, 8, kBgra);
    constexpr int kFrames = 400;

    std::vector<int64_t> ptsSeen;
    std::vector<int> lastBytes;
    ptsSeen.reserve(kFrames);
    std::thread reader([&] {
        TVCamReader vcam(names.mapping, names.event);
        if (vcam.Connect() != 0) return;
        TVCamFrame frame;
        while (static_cast<int>(ptsSeen.size()) < kFrames) {
            vcam.WaitForFrames(10);
            while (vcam.ReadNext(&frame)) {
                ptsSeen.push_back(frame.pts);
                // The last byte: the first four of slot 19 are the heartbeat's too.
                lastBytes.push_back(frame.pixels[frame.copiedBytes - 1]);
            }
        }
    });

    AVFrame* frame = NewFrame(64, 8, kBgra);
    for (int i = 0; i < kFrames;) {
        std::memset(frame->data[0], i & 0xFF, 64 * 8 * 4);
        frame->pts = i;
        const int64_t lostBefore = writer.RingFullCount();
        writer.Write(frame);
        if (writer.RingFullCount() == lostBefore) {
            ++i;
        } else {
            std::this_thread::yield();  // full: the same frame again
        }
    }
    reader.join();
    ASSERT_EQ(ptsSeen.size(), static_cast<size_t>(kFrames));
    for (int i = 0; i < kFrames; ++i) {
        EXPECT_EQ(ptsSeen[i], i);
        EXPECT_EQ(lastBytes[i], i & 0xFF);
    }
    av_frame_free(&frame);
}

void NoSleep(int) {}

TEST(VCamThreadedTest, ResetFromAnotherThreadWaitsForTheWriteUnderWay) {
    const TNames names = UniqueNames("ResetRace");
    VCamWriter writer(names.mapping, names.event);
    ASSERT_EQ(writer.Create(), 0);
    writer.SetSleepForTesting(&NoSleep);
    TBlockView view;
    ASSERT_EQ(view.Open(names.mapping), 0);
    // Slots are stamped before the first frame: the writer may finish all
    // its frames before the loop below resets even once.
    writer.Reset(200, 50, kBgra);

    std::atomic<bool> done{false};
    std::thread output([&] {
        AVFrame* frame = NewFrame(320, 240, kBgra, 0x5A);
        for (int i = 0; i < 600; ++i) {
            frame->pts = i;
            writer.Write(frame);
        }
        av_frame_free(&frame);
        done = true;
    });
    int16_t width = 100;
    while (!done) {
        writer.Reset(width, 50, kBgra);
        width = width == 100 ? 200 : 100;
        view.TakeAll();
    }
    output.join();

    // Every published frame lies between the indices, each one a complete
    // frame stamped by the last Reset.
    const int read = view.ReadIndex();
    const int write = view.WriteIndex();
    ASSERT_GE(read, 0);
    ASSERT_LT(read, kCapacity);
    ASSERT_GE(write, 0);
    ASSERT_LT(write, kCapacity);
    for (int slot = read; slot != write; slot = (slot + 1) % kCapacity) {
        EXPECT_EQ(view.Field16(slot, kHeightOffset), 50);
        EXPECT_EQ(view.Pixels(slot)[320 * 240 * 4 - 1], 0x5A);
    }
}

}  // namespace
}  // namespace pelorn

// The virtual-camera writer inside the engine: created by the creation flag,
// reset by Open, fed by every output frame, its consumer state handed to the
// console's callback.

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "common/ErrorTrail.h"
#include "engine/TCapEngineMain.h"
#include "platform/PerfCounter.h"
#include "tests/vcam/VCamTestSupport.h"

namespace pelorn {
namespace {

using namespace vcam;
using namespace vcam::test;

struct TCallbacks {
    std::mutex lock;
    std::vector<int> cameraInUse;

    size_t Count() {
        std::lock_guard<std::mutex> guard(lock);
        return cameraInUse.size();
    }
};

long Record(unsigned char*, void* user, int cameraInUse) {
    auto* callbacks = static_cast<TCallbacks*>(user);
    std::lock_guard<std::mutex> guard(callbacks->lock);
    callbacks->cameraInUse.push_back(cameraInUse);
    return 0;
}

TCapOpenParam SmallOutput() { return TCapOpenParam::WithoutSources(64, 4, 28, 30); }

class EngineVCamTest : public ::testing::Test {
protected:
    void SetUp() override {
        common::ErrorTrail::Take();
        m_names = UniqueNames("Engine");
        VCamWriter::OverrideNamesForTesting(m_names.mapping, m_names.event);
        platform::PerfCounter::OverrideForTesting(&TFakeClock::Read);
    }
    void TearDown() override {
        platform::PerfCounter::OverrideForTesting(nullptr);
        VCamWriter::OverrideNamesForTesting("", "");
    }

    // One input frame through the whole pipeline, 600 ms after the last one.
    void DeliverOne(TCapEngineMain& engine, TCallbacks& callbacks, AVFrame* frame) {
        const size_t before = callbacks.Count();
        TFakeClock::AdvanceMs(600);
        engine.DoInputPin(frame);
        ASSERT_TRUE(WaitUntil([&] { return callbacks.Count() > before; }));
    }

    TNames m_names;
};

TEST_F(EngineVCamTest, WithTheWriterDisabledEveryCallbackGetsZero) {
    TCallbacks callbacks;
    // Everything but bit 16.
    TCapEngineMain engine(&Record, &callbacks, 0xFFFEFFFFu);
    EXPECT_EQ(engine.VirtualCamera(), nullptr);
    EXPECT_FALSE(platform::TSharedMemory::Exists(m_names.mapping));
    TCapOpenParam param = SmallOutput();
    ASSERT_EQ(engine.Open(&param), 0);
    AVFrame* frame = NewFrame(64, 4, 1);
    for (int i = 0; i < 5; ++i) DeliverOne(engine, callbacks, frame);
    EXPECT_EQ(callbacks.cameraInUse, std::vector<int>(5, 0));
    av_frame_free(&frame);
}

TEST_F(EngineVCamTest, OpenResetsTheBlockAndTheCallbackGetsTheConsumerState) {
    TCallbacks callbacks;
    auto engine = std::make_unique<TCapEngineMain>(&Record, &callbacks, 0x00010000u);
    ASSERT_NE(engine->VirtualCamera(), nullptr);
    ASSERT_TRUE(engine->VirtualCamera()->HasBlock());
    TBlockView view;
    ASSERT_EQ(view.Open(m_names.mapping), 0);

    TCapOpenParam param = SmallOutput();
    ASSERT_EQ(engine->Open(&param), 0);
    for (int slot : {0, 19}) {
        EXPECT_EQ(view.Field16(slot, kWidthOffset), 64);
        EXPECT_EQ(view.Field16(slot, kHeightOffset), 4);
        EXPECT_EQ(view.Field16(slot, kFormatOffset), 28);
    }

    // The test reads like a consumer: takes every frame, advances the heartbeat.
    AVFrame* frame = NewFrame(64, 4, 1);
    for (int i = 0; i < 4; ++i) {
        view.Heartbeat().fetch_add(1);
        frame->pts = 1000 + i;
        DeliverOne(*engine, callbacks, frame);
        EXPECT_EQ(view.WriteIndex(), i + 1);
        EXPECT_EQ(view.Pts(i), 1000 + i);
        view.TakeAll();
    }
    EXPECT_EQ(callbacks.cameraInUse, (std::vector<int>{0, 0, 1, 1}));

    engine.reset();  // destroyed with the engine: block and event removed
    EXPECT_FALSE(platform::TSharedMemory::Exists(m_names.mapping));
    EXPECT_FALSE(platform::TSharedMemory::Exists(m_names.event));
    av_frame_free(&frame);
}

}  // namespace
}  // namespace pelorn

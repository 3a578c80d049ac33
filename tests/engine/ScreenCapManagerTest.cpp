#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

#include "common/ErrorTrail.h"
#include "engine/capture/ScreenCapManager.h"
#include "engine/modules/GpuPreference.h"
#include "platform/DrmAdapters.h"

namespace pelorn {
namespace {

using Clock = std::chrono::steady_clock;

class TFakeScreen final : public ICapScreen {
public:
    explicit TFakeScreen(int openResult) : m_nOpenResult(openResult) {}
    int Open(const std::string& name, int, int, const TCapRegion*) override {
        m_strName = name;
        return m_nOpenResult;
    }
    int SetSize(int width, int, const TCapRegion*) override {
        m_nWidth = width;
        return width > 1920 ? 1 : 0;
    }
    int Capture(uint8_t* dst) override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_times.push_back(Clock::now());
        if (dst != nullptr) dst[0] = 0x5A;
        return 4;
    }
    std::vector<Clock::time_point> Times() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_times;
    }
    int m_nOpenResult;
    int m_nWidth = 0;
    std::string m_strName;
    std::mutex m_lock;
    std::vector<Clock::time_point> m_times;
};

class ScreenCapManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        common::ErrorTrail::Take();
        m_param.deviceName[0] = u'R';
        m_param.target = m_target.data();
        m_param.width = 640;
        m_param.height = 360;
    }
    void TearDown() override { platform::SetDrmSysfsRoot({}); }

    ScreenCapManager& Make(int shmOpen, int xlibOpen) {
        auto shm = std::make_unique<TFakeScreen>(shmOpen);
        auto xlib = std::make_unique<TFakeScreen>(xlibOpen);
        m_pShm = shm.get();
        m_pXlib = xlib.get();
        m_pManager = std::make_unique<ScreenCapManager>(std::move(shm), std::move(xlib));
        return *m_pManager;
    }
    // Waits up to 5 s for `count` captures.
    bool AwaitCaptures(TFakeScreen* screen, size_t count) {
        for (int i = 0; i < 500 && screen->Times().size() < count; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return screen->Times().size() >= count;
    }

    std::vector<uint8_t> m_target = std::vector<uint8_t>(640 * 360 * 4);
    ScreenOpenParam m_param;
    TFakeScreen* m_pShm = nullptr;
    TFakeScreen* m_pXlib = nullptr;
    std::unique_ptr<ScreenCapManager> m_pManager;
};

TEST_F(ScreenCapManagerTest, SharedMemoryFirstThenThePlainCapturer) {
    ScreenCapManager& manager = Make(0, 0);
    EXPECT_EQ(manager.Open(nullptr), ScreenCapManager::kInvalidArg);
    ScreenOpenParam noTarget = m_param;
    noTarget.target = nullptr;
    EXPECT_EQ(manager.Open(&noTarget), ScreenCapManager::kInvalidArg);
    ASSERT_EQ(manager.Open(&m_param), 0);
    EXPECT_EQ(manager.Active(), m_pShm);
    EXPECT_EQ(m_pShm->m_strName, "R");
    EXPECT_EQ(m_pShm->m_nWidth, 640);

    ScreenCapManager& fallback = Make(1, 0);
    ASSERT_EQ(fallback.Open(&m_param), 0);
    EXPECT_EQ(fallback.Active(), m_pXlib);
    EXPECT_EQ(fallback.SetRegion(2560, 1440, nullptr), 1);
    EXPECT_EQ(m_pXlib->m_nWidth, 2560);
}

struct TExplanation {
    const char* vendor;
    bool preference;
    std::string expected;
};

class ScreenCapExplanationTest : public ScreenCapManagerTest,
                                 public ::testing::WithParamInterface<TExplanation> {};

TEST_P(ScreenCapExplanationTest, BothFailingExplainsByTheAdapters) {
    char root[] = "/tmp/drm-root-XXXXXX";
    ASSERT_NE(mkdtemp(root), nullptr);
    const std::filesystem::path card = std::filesystem::path(root) / "class/drm/card0/device";
    std::filesystem::create_directories(card);
    std::ofstream(card / "vendor") << GetParam().vendor << "\n";
    platform::SetDrmSysfsRoot(root);
    if (GetParam().preference) {
        WriteGpuPreference();
    } else {
        DeleteGpuPreference();
    }
    common::ErrorTrail::Add("earlier");
    EXPECT_EQ(Make(1, 1).Open(&m_param), 1);
    EXPECT_FALSE(m_pManager->IsOpen());
    EXPECT_EQ(common::ErrorTrail::Take(), GetParam().expected);
    std::filesystem::remove_all(root);
}

INSTANTIATE_TEST_SUITE_P(
    Adapters, ScreenCapExplanationTest,
    ::testing::Values(TExplanation{"0x8086", true, "抓屏初始化失败, GpuPreferences, ret: 1\r"},
                      TExplanation{"0x8086", false, "抓屏初始化失败, GpuPreferences, ret: 0\r"},
                      TExplanation{"0x10de", true, "抓屏初始化失败：未找到Intel集成显卡\rearlier\r"}));

TEST_F(ScreenCapManagerTest, IntervalZeroCapturesOnlyWhenWoken) {
    ScreenCapManager& manager = Make(0, 0);
    ASSERT_EQ(manager.Open(&m_param), 0);
    const size_t warmUp = m_pShm->Times().size();
    manager.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(m_pShm->Times().size(), warmUp);
    manager.Wake();
    EXPECT_TRUE(AwaitCaptures(m_pShm, warmUp + 1));
    manager.Stop();
    EXPECT_EQ(m_target[0], 0x5A);
}

TEST_F(ScreenCapManagerTest, IntervalSixtyCapturesAtMostOncePerIntervalAndAlsoUnwoken) {
    m_param.interval = 60;
    ScreenCapManager& manager = Make(0, 0);
    ASSERT_EQ(manager.Open(&m_param), 0);
    const size_t warmUp = m_pShm->Times().size();
    manager.Start();
    EXPECT_TRUE(AwaitCaptures(m_pShm, warmUp + 3));  // unwoken
    const auto until = Clock::now() + std::chrono::milliseconds(300);
    while (Clock::now() < until) manager.Wake();
    manager.Stop();
    const std::vector<Clock::time_point> times = m_pShm->Times();
    // The fake reads the clock a little after the manager did: 1 ms of slack.
    for (size_t i = warmUp + 1; i < times.size(); ++i) {
        EXPECT_GE(times[i] - times[i - 1], std::chrono::milliseconds(59)) << i;
    }
}

TEST_F(ScreenCapManagerTest, ACallbackGetsFreshBgraFrames) {
    struct TSeen {
        std::atomic<int> frames{0};
        std::atomic<int> width{0};
        std::atomic<int> format{-1};
    } seen;
    m_param.callback = [](AVFrame* frame, void* user) {
        auto* s = static_cast<TSeen*>(user);
        s->width = frame->width;
        s->format = frame->format;
        ++s->frames;
    };
    m_param.user = &seen;
    ScreenCapManager& manager = Make(0, 0);
    ASSERT_EQ(manager.Open(&m_param), 0);
    manager.Start();
    for (int i = 0; i < 500 && seen.frames == 0; ++i) {
        manager.Wake();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    manager.Stop();
    EXPECT_GT(seen.frames, 0);
    EXPECT_EQ(seen.width, 640);
    EXPECT_EQ(seen.format, AV_PIX_FMT_BGRA);
    EXPECT_EQ(m_target[0], 0);  // the target is left alone
}

}  // namespace
}  // namespace pelorn

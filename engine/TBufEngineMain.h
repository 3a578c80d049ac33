#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "engine/DisplayList.h"
#include "engine/IBufMattEngine.h"
#include "engine/ParamTable.h"
#include "engine/ScreenTint.h"
#include "engine/capture/ScreenCapManager.h"
#include "engine/compositor/TCompositor.h"

namespace pelorn {

// The buffer-matting engine. Its parameter values live here and outlive the
// compositor, which is made anew for every new size and gets them with every
// Process. All operations run on the host's thread.
class TBufEngineMain final : public IBufMattEngine {
public:
    static constexpr size_t kCanvasBytes = 1920 * 1080 * 4;
    static constexpr int kScreenIntervalMs = 40;
    static constexpr int kProcessBudgetMs = 1;
    static constexpr int kWarmUpBudgetMs = 15;
    static constexpr int kListedParams = 6;

    TBufEngineMain();
    ~TBufEngineMain();
    TBufEngineMain(const TBufEngineMain&) = delete;
    TBufEngineMain& operator=(const TBufEngineMain&) = delete;

    int SetUp(int16_t width, int16_t height, int16_t screen) override;
    int Stop() override;
    int Process(uint8_t* destination, const uint8_t* source) override;
    int ListScreens(std::string* names, unsigned* primary, int max) override;
    int GetParamList(TCapParamList* list) override;
    int GetParam(int index) override;
    int SetParam(int value, int index) override;

    // Whole milliseconds of the last successful Process, rounded.
    int32_t ProcessMs() const { return m_nProcessMs; }
    const TCompositor* Compositor() const { return m_pCompositor.get(); }
    // What the screen capture last wrote, BGRA at the set-up size.
    const uint8_t* Canvas() const { return m_pCanvas.get(); }

private:
    int OpenScreen(int width, int height, int screen);
    int PrepareCompositor(int width, int height);
    void WarmUp(int width, int height);
    void PushValues();

    std::array<int32_t, kParamCount> m_values{};
    std::unique_ptr<TCompositor> m_pCompositor;
    std::unique_ptr<uint8_t[]> m_pCanvas;
    std::unique_ptr<ScreenCapManager> m_pScreenCap;
    std::unique_ptr<ScreenTint> m_pScreenTint;
    std::unique_ptr<DisplayList> m_pDisplays;
    int32_t m_nTintParamIndex = -1;
    int32_t m_nProcessMs = 0;
};

}  // namespace pelorn

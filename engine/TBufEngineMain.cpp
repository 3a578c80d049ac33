#include "engine/TBufEngineMain.h"

#include <algorithm>
#include <cmath>

#include "common/ErrorTrail.h"
#include "common/Utf.h"
#include "platform/MessageBox.h"
#include "platform/PerfCounter.h"

namespace pelorn {
namespace {

using common::ErrorTrail;

constexpr int kMaxWidth = 1920;
constexpr int kMaxHeight = 1080;
constexpr int32_t kTextureStart = 2000;  // clamped to the maximum when used

}  // namespace

TBufEngineMain::TBufEngineMain()
    : m_pCanvas(std::make_unique<uint8_t[]>(kCanvasBytes)),
      m_pScreenCap(std::make_unique<ScreenCapManager>()),
      m_pScreenTint(std::make_unique<ScreenTint>()),
      m_pDisplays(std::make_unique<DisplayList>()) {
    m_values.fill(-1);
    for (int i = 0; i < kParamCount; ++i) {
        if (ParamTable()[i].flags & kParamUserVisible) m_values[i] = ParamTable()[i].defaultValue;
    }
    m_values[kParamTexture] = kTextureStart;
}

TBufEngineMain::~TBufEngineMain() {
    m_pScreenTint->Restore();
    m_pScreenCap->Stop();
    m_pCompositor.reset();
    m_pScreenCap.reset();
    m_pCanvas.reset();
    m_pScreenTint.reset();  // restores the ramp and releases the display
}

int TBufEngineMain::SetUp(int16_t width, int16_t height, int16_t screen) {
    // Sizes above the canvas are refused here, before the capture is opened.
    if (width < 1 || height < 1 || screen < 0 || width > kMaxWidth || height > kMaxHeight) {
        ErrorTrail::Add("不支持的输入参数");
        return 1;
    }
    if (OpenScreen(width, height, screen) != 0) return 1;
    if (PrepareCompositor(width, height) != 0) return 1;
    m_pCompositor->SetBudgetMs(kProcessBudgetMs);
    m_values[kParamBlackEdge] = 1;
    m_nProcessMs = 0;
    return 0;
}

// "Already captures" means an opened capturer whose worker runs on that
// display; an index outside the list opens on no display and fails.
int TBufEngineMain::OpenScreen(int width, int height, int screen) {
    const bool listed = screen < m_pDisplays->Count();
    const std::string deviceName = listed ? m_pDisplays->At(screen).deviceName : std::string();
    const std::u16string wideName = common::Utf8ToUtf16(deviceName);
    if (listed && m_pScreenCap->IsOpen() && m_pScreenCap->IsRunning() && m_pScreenCap->DeviceName() == wideName) {
        const TCapRegion region{0, 0, width + 1, height + 1};  // clipped to the output by the capturer
        return m_pScreenCap->SetRegion(width, height, &region) == 0 ? 0 : 1;
    }
    if (listed) m_pScreenTint->Select(deviceName);
    m_pScreenTint->Restore();
    m_pScreenCap->Stop();
    ScreenOpenParam param;
    std::copy_n(wideName.begin(), std::min<size_t>(wideName.size(), 127), param.deviceName);
    param.target = m_pCanvas.get();
    param.width = width;
    param.height = height;
    param.interval = kScreenIntervalMs;
    if (m_pScreenCap->Open(&param) != 0) {
        platform::ShowMessageBox("抓屏初始化失败");
        return 1;
    }
    m_pScreenCap->Start();
    return 0;
}

int TBufEngineMain::PrepareCompositor(int width, int height) {
    if (m_pCompositor && m_pCompositor->IsReady() && m_pCompositor->Width() == width &&
        m_pCompositor->Height() == height) {
        return 0;
    }
    m_pCompositor.reset();
    m_pCompositor = std::make_unique<TCompositor>();
    m_pCompositor->SetFormats(1, 3);  // YUYV422 in, BGR24 out
    if (m_pCompositor->SetUp(width, height) != TCompositor::kOk) {
        m_pCompositor.reset();
        ErrorTrail::Add("抠像初始化失败");
        platform::ShowMessageBox("抠像引擎初始化失败");
        return 1;
    }
    WarmUp(width, height);
    return 0;
}

// The first composition builds the decision data; it is done here, not in
// the host's first Process.
void TBufEngineMain::WarmUp(int width, int height) {
    const size_t bytes = kCanvasBytes;
    auto source = std::make_unique<uint8_t[]>(bytes);
    auto scratch = std::make_unique<uint8_t[]>(bytes);
    std::fill_n(source.get(), static_cast<size_t>(width) * height * 2, 0);
    m_pCompositor->SetBudgetMs(kWarmUpBudgetMs);
    PushValues();
    m_pCompositor->Compose(scratch.get(), source.get(), m_pCanvas.get());
}

// The compositor keeps no values of its own between compositions.
void TBufEngineMain::PushValues() {
    for (int i = 0; i < kParamCount; ++i) {
        if (!IsReservedParam(i)) m_pCompositor->Controls().SetValue(i, m_values[i]);
    }
}

int TBufEngineMain::Stop() {
    m_pScreenTint->Restore();
    m_pScreenCap->Stop();
    m_pCompositor.reset();
    return 0;
}

int TBufEngineMain::Process(uint8_t* destination, const uint8_t* source) {
    const int64_t start = platform::PerfCounter::Now();
    if (destination == nullptr || source == nullptr) {
        ErrorTrail::Add("Buf为空");
        return 1;
    }
    int result = TCompositor::kNotReady;
    if (m_pCompositor) {
        PushValues();
        result = m_pCompositor->Compose(destination, source, m_pCanvas.get());
    }
    if (result != TCompositor::kOk) {
        platform::ShowMessageBox("抠像处理失败");
        return 1;
    }
    m_pScreenCap->Wake();
    const double elapsedMs = static_cast<double>(platform::PerfCounter::Now() - start) * 1000.0 /
                             static_cast<double>(platform::PerfCounter::Frequency());
    m_nProcessMs = static_cast<int32_t>(std::lround(elapsedMs));
    return 0;
}

int TBufEngineMain::ListScreens(std::string* names, unsigned* primary, int max) {
    return ListDisplayNames(*m_pDisplays, names, primary, max);
}

int TBufEngineMain::GetParamList(TCapParamList* list) {
    m_nTintParamIndex = FindTintParam();
    return ListParams(list, kListedParams);
}

int TBufEngineMain::GetParam(int index) { return IsParamIndex(index) ? m_values[index] : 0; }

int TBufEngineMain::SetParam(int value, int index) {
    if (index < 0 || index >= kListedParams) return 0;
    if (index == m_nTintParamIndex) m_pScreenTint->SetLevel(value);
    const TParamEntry& entry = ParamTable()[index];
    if (value >= entry.minimum && value <= entry.maximum) m_values[index] = value;
    return 0;
}

}  // namespace pelorn

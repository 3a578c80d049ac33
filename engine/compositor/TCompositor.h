#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/TMattControls.h"
#include "engine/compositor/ColourMath.h"
#include "engine/compositor/CompositorKernels.h"
#include "engine/compositor/TBeautyFilter.h"
#include "engine/compositor/THugeBuffer.h"
#include "engine/compositor/TSubjectTracker.h"
#include "engine/modules/BrenvikDLL.h"

namespace pelorn {

class IIMPlugIn;
class TColourTables;
class TCompositorPool;
class TFrameOverlay;

// Where the compositor finds its files; empty fields take the installed places.
struct TCompositorPaths {
    std::string tableFolder;      // "ClrFloat.map"; default the module folder
    std::string imageFolder;      // the two frame pictures; default the executable's folder
    std::string converterModule;  // "Gxrl.dat"; default in the module folder
    std::string pluginModule;     // "TBeautySkin.dat"; default in the module folder
};

// The compositor: turns one input picture of the working size into the
// composed picture. It mattes the presenter out of the green backdrop through
// per-colour tables, optionally runs the beauty filter, and lays the result
// over the background according to the layout.
//
// Every picture byte stays in its plain form from the classification table
// through the working picture and the mask to the output; the table, the
// matting lookups and the composite all agree on that, so no bit-order
// reversal runs per frame.
//
// Threads: constructed and set up on the user-interface thread (with the
// output worker stopped); Compose runs on the output worker and holds the
// controls' lock for the whole frame, so the console's SetParam, SetLayout and
// SetProcessFlags wait for the current frame. The four band workers run
// inside Compose only.
class TCompositor {
public:
    enum Result : int {
        kOk = 0,
        kNotReady = 8,      // not set up, or a missing argument
        kSetUpFailed = 10,  // a conversion object could not be made
        kOverBudget = 256,  // the time budget ran out
    };

    enum ProcessFlag : int32_t {
        kFlagPresenterOnly = 0x1,
        kFlagMaskPicture = 0x2,
        kFlagBlueBackground = 0x10,
        kFlagWhiteBackground = 0x20,
        kFlagBlackBackground = 0x40,
        kFlagCanvasBackground = 0x80,
        kFlagDebugOverlay = 0x100,
        kFlagMattingOff = 0x200,
        kFlagDebugMode = 0x400,
        kFlagCanvasUnconverted = 0x10000000,
    };

    static constexpr int kBudgetMs = 3000;
    static constexpr int kRebuildBudgetMs = 8800;
    static constexpr size_t kMaxPixels = 1920 * 1080;
    // Work area: 19 planes of one byte per pixel of the largest picture.
    static constexpr size_t kWorkAreaBytes = 19 * kMaxPixels;
    static constexpr size_t kBackgroundBytes = kMaxPixels * 3;

    TCompositor();
    explicit TCompositor(const TCompositorPaths& paths);
    ~TCompositor();
    TCompositor(const TCompositor&) = delete;
    TCompositor& operator=(const TCompositor&) = delete;

    // Input format (AVPixelFormat 1, 15, 5 or 13) and output format (3 or 28)
    // of the following SetUp.
    void SetFormats(int inFormat, int outFormat);
    // Prepares for a working size of at most 1920 x 1080 pixels; 0 on success,
    // or kSetUpFailed (also when construction did not complete).
    int SetUp(int width, int height);
    // Composes `source` (working size, input format) over `canvas` (working
    // size, BGRA; BGR24 with kFlagCanvasUnconverted) into `destination`
    // (working size, output format). kNotReady leaves the destination untouched.
    int Compose(uint8_t* destination, const uint8_t* source, const uint8_t* canvas);
    // The time budget of a composition (kBudgetMs unless set).
    void SetBudgetMs(int budgetMs) { m_nBudgetMs = budgetMs; }

    bool IsReady() const { return m_bReady; }
    // Construction completed: pool, work area, conversion objects, tables.
    bool IsConstructed() const { return m_bConstructed; }
    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }
    int InFormat() const { return m_nInFormat; }
    int OutFormat() const { return m_nOutFormat; }
    int LastComposeMs() const { return m_nLastComposeMs; }

    TMattControls& Controls() { return m_controls; }

    // Views for tests and tools (with no composition running).
    const TColourTables* Tables() const { return m_pTables.get(); }
    const TSubjectTracker& Tracker() const { return m_tracker; }
    // The mask of the last composition, after placement.
    const uint8_t* Mask() const { return m_pMask; }
    bool HasFrameOverlay() const;
    TBeautyFilter& BeautyFilter() { return m_beauty; }
    // The internal debug switch: forces the mask picture and the debug overlay.
    void SetDebugSwitch(bool on) { m_bDebugSwitch = on; }
    int DecisionRebuilds() const { return m_nDecisionRebuilds; }

private:
    // The values of one frame, clamped and transformed.
    struct TFrameValues {
        colour::TKeyParams key;
        int level;  // the transformed level n = 255 - parameter 8
        int algorithm;
        TBeautyStrengths beauty;
        int debug0;
        int debug1;
        int32_t flags;
        const TCapLayer* presenter;
        const TCapLayer* overlay;
    };

    bool Construct();
    void CutWorkArea();
    TFrameValues TakeValuesLocked() const;
    bool DecisionDataChanged(const TFrameValues& values) const;
    void PrepareDecisionData(const TFrameValues& values);
    void PassThrough(const uint8_t* source, const TFrameValues& values);
    void Matte(const uint8_t* source, const TFrameValues& values);
    // Returns the picture holding the result: the destination itself when the
    // blend could write it there, else the working picture.
    const uint8_t* Composite(uint8_t* destination, const uint8_t* canvas,
                             const TFrameValues& values);
    const uint8_t* ChooseBackground(const uint8_t* canvas, int32_t flags);
    const uint8_t* ApplyFrameOverlay(const uint8_t* background, const TCapLayer& layer);
    void PlacePresenter(const TCapLayer* layer);
    bool ScaleInto(TScaler& scaler, int code, int bytesPerPixel, const uint8_t* source,
                   uint8_t* target, const kernels::TRect& rect);
    void DrawDebugOverlay(uint8_t* picture);
    void WriteDestination(uint8_t* destination, const uint8_t* result);
    bool BudgetSpent(int64_t start, int budgetMs) const;
    size_t Pixels() const { return static_cast<size_t>(m_nWidth) * m_nHeight; }

    TMattControls m_controls;
    int m_nBudgetMs = kBudgetMs;
    TCompositorPaths m_paths;
    std::unique_ptr<TCompositorPool> m_pPool;
    THugeBuffer m_pWorkArea;
    std::unique_ptr<uint8_t[]> m_pBlack;
    std::unique_ptr<uint8_t[]> m_pWhite;
    std::unique_ptr<uint8_t[]> m_pBlue;
    std::unique_ptr<BrenvikDLL> m_pConverter;
    std::unique_ptr<IIMPlugIn> m_pPlugIn;
    TScaler m_pictureScaler;
    TScaler m_maskScaler;
    TScaler m_backgroundScaler;
    std::array<int, 3> m_scalerSizes[3]{};  // configured {width, height, code}
    std::unique_ptr<TColourTables> m_pTables;
    std::unique_ptr<TFrameOverlay> m_pOverlay;
    TSubjectTracker m_tracker;
    TBeautyFilter m_beauty{nullptr};

    // Planes of the work area; the pairs swap roles as kernels write into the
    // spare one.
    uint8_t* m_pPicture = nullptr;
    uint8_t* m_pSparePicture = nullptr;
    uint8_t* m_pMask = nullptr;
    uint8_t* m_pSpareMask = nullptr;
    uint8_t* m_pBackground = nullptr;
    uint8_t* m_pBeautyScratch = nullptr;
    uint8_t* m_pMattInput = nullptr;

    bool m_bConstructed = false;
    bool m_bReady = false;
    bool m_bDebugSwitch = false;
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nInFormat = 1;
    int m_nOutFormat = 3;
    int m_nLastComposeMs = 0;

    // The decision data were built for these transformed values.
    bool m_bDecisionReady = false;
    colour::TKeyParams m_preparedKey{};
    int m_nPreparedLevel = -1;
    int m_nLastAlgorithm = -1;
    int m_nDecisionRebuilds = 0;
    // Where the presenter went in the last composition (for the overlay).
    kernels::TRect m_rcPresenter{0, 0, -1, -1};
    bool m_bPresenterScaled = false;
};

}  // namespace pelorn

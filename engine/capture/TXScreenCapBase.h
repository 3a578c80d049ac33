#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "engine/capture/ICapScreen.h"
#include "engine/modules/BrenvikDLL.h"
#include "platform/XScreenGrabber.h"

namespace pelorn {

// What both X11 capturers share: a grabber of their own method, a bilinear
// scaler of the colour-conversion module into the output rectangle, and the
// lock that Capture and SetSize hold throughout (they share the connection,
// the grabbed image and the scaler). A monitor that changed is opened again
// and captured with the stored size and rectangle; one that vanished gives 0.
// Neither capturer turns the picture: the root window shows a rotated
// monitor upright already.
class TXScreenCapBase : public ICapScreen {
public:
    static constexpr int kMaxWidth = 1920;
    static constexpr int kMaxHeight = 1080;

    int Open(const std::string& deviceName, int width, int height, const TCapRegion* region) override;
    int SetSize(int width, int height, const TCapRegion* region) override;
    int Capture(uint8_t* dst) override;

protected:
    // An empty converter path means the module in the module folder; an empty
    // display name $DISPLAY.
    TXScreenCapBase(platform::EXGrabMethod method, std::string displayName, std::string converterPath);

private:
    struct TSize {
        int width = 0;
        int height = 0;
        bool hasRegion = false;
        TCapRegion region{};
    };

    bool ApplySize(const TSize& requested);
    bool ReopenChanged();
    void WritePicture(uint8_t* dst);

    std::mutex m_lock;
    std::string m_strDeviceName;
    platform::TXScreenGrabber m_grabber;
    std::unique_ptr<BrenvikDLL> m_pConverter;
    TScaler m_scaler;
    TSize m_requested;        // as last given to SetSize
    int m_nOutWidth = 0;      // the output picture
    int m_nOutHeight = 0;
    TCapRegion m_rect{};      // inside the output, clipped to it
    bool m_bScaled = false;   // false: the rectangle is the whole output at the source size
};

}  // namespace pelorn

#pragma once

#include <cstdint>
#include <vector>

#include "modules/gxrl/TPixConverter.h"
#include "modules/gxrl/TPixScaler.h"
#include "tools/vcam/TPictureLayout.h"

namespace pelorn::vcam {

// Turns the engine's pictures into the format and size a consumer asked for,
// with the colour-conversion module's arithmetic (BT.601, limited range for
// YUV; chroma from the mean colour of the pixels it covers) and its bilinear
// scaler. Configure reserves everything; Convert allocates nothing.
class TFrameConverter {
public:
    // The source is a slot's picture: rows packed at width x bytes per pixel
    // (an odd-width YUYV row therefore lacks its last V). The target is
    // LayoutOf(dstFormat, dstWidth, dstHeight). 0; EINVAL for a format or a
    // size the conversion does not handle; ENOMEM.
    int Configure(int srcWidth, int srcHeight, int srcFormat, int dstWidth, int dstHeight,
                  int dstFormat);
    void Convert(const uint8_t* src, uint8_t* dst);

    const TPictureLayout& Output() const { return m_dstLayout; }

private:
    const uint8_t* RepackOddYuyv(const uint8_t* src);

    gxrl::TPixConverter m_converter;
    gxrl::TPixScaler m_scaler;
    int m_nSrcWidth = 0;
    int m_nSrcHeight = 0;
    bool m_bConfigured = false;
    bool m_bRepack = false;   // odd-width YUYV source
    bool m_bConvert = false;  // false when only the size changes
    bool m_bScale = false;
    bool m_bSwapRedBlue = false;  // RGB24 target, made as BGR24
    TPictureLayout m_srcLayout;
    TPictureLayout m_convertedLayout;  // the target's format at the source's size
    TPictureLayout m_dstLayout;
    // Intermediate pictures, sized by Configure; empty when a stage writes
    // straight into the next one.
    std::vector<uint8_t> m_repacked;
    std::vector<uint8_t> m_converted;
    std::vector<uint8_t> m_scaled;
};

}  // namespace pelorn::vcam

#pragma once

#include <memory>
#include <string>

extern "C" {
#include <libavutil/frame.h>
}

#include "engine/modules/BrenvikDLL.h"

namespace console {

// Conversion (and scaling) of pictures towards the encoder's format through
// the colour-conversion module "Gxrl.dat". Used by one thread at a time.
class PixelConverter {
public:
    // The module in the module folder, or at `modulePath`.
    PixelConverter();
    explicit PixelConverter(const std::string& modulePath);
    ~PixelConverter();
    PixelConverter(const PixelConverter&) = delete;
    PixelConverter& operator=(const PixelConverter&) = delete;

    bool IsReady() const { return static_cast<bool>(m_converter); }

    // Nothing when unchanged. Pictures of srcWidth x srcHeight in srcFormat
    // become dstWidth x dstHeight in dstFormat (AVPixelFormat numbers); a
    // different size is scaled after the conversion. 0, or the module's
    // result (-1 without the module).
    int Configure(int srcWidth, int srcHeight, int srcFormat, int dstWidth, int dstHeight,
                  int dstFormat);
    // Converts `src` into `dst`, a frame of the configured destination,
    // copying pts and opaque. 0 or the module's result.
    int Convert(const AVFrame* src, AVFrame* dst);
    // The converter's own destination frame (allocated by Configure).
    AVFrame* OwnFrame() { return m_pDstFrame; }

    int DstWidth() const { return m_nDstWidth; }
    int DstHeight() const { return m_nDstHeight; }
    int DstFormat() const { return m_nDstFormat; }

    static int SourceCode(int pixelFormat);
    static int DestinationCode(int pixelFormat);

private:
    bool NeedsScaling() const {
        return m_nSrcWidth != m_nDstWidth || m_nSrcHeight != m_nDstHeight;
    }

    std::unique_ptr<pelorn::BrenvikDLL> m_pModule;
    pelorn::TConverter m_converter;
    pelorn::TScaler m_scaler;
    int m_nSrcWidth = 0, m_nSrcHeight = 0, m_nSrcFormat = -1;
    int m_nDstWidth = 0, m_nDstHeight = 0, m_nDstFormat = -1;
    AVFrame* m_pDstFrame = nullptr;
    AVFrame* m_pMidFrame = nullptr;  // converted at the source size, before scaling
};

}  // namespace console

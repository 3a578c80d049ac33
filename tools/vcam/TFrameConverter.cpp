#include "tools/vcam/TFrameConverter.h"

#include <libyuv/planar_functions.h>

#include <cerrno>
#include <cstring>

namespace pelorn::vcam {
namespace {

int FromModuleResult(int32_t result) {
    if (result == kModuleOk) return 0;
    return result == kModuleNoMemory ? ENOMEM : EINVAL;
}

struct TPlanes {
    uint8_t* planes[kMaxPlanes];
    int32_t linesizes[kMaxPlanes];
};

TPlanes PlanesAt(const TPictureLayout& layout, const uint8_t* base) {
    TPlanes planes;
    PlanePointers(layout, const_cast<uint8_t*>(base), planes.planes, planes.linesizes);
    return planes;
}

// One step of the module (converter or scaler) from one picture into another.
template <typename Stage>
const uint8_t* RunStage(Stage& stage, const TPictureLayout& fromLayout, const uint8_t* from,
                        const TPictureLayout& toLayout, uint8_t* to) {
    const TPlanes source = PlanesAt(fromLayout, from);
    const TPlanes target = PlanesAt(toLayout, to);
    stage.Run(target.planes, target.linesizes, source.planes, source.linesizes);
    return to;
}

}  // namespace

int TFrameConverter::Configure(int srcWidth, int srcHeight, int srcFormat, int dstWidth,
                               int dstHeight, int dstFormat) {
    m_bConfigured = false;
    const int32_t srcCode = ModuleCodeOf(srcFormat);
    const int32_t dstCode = ModuleCodeOf(dstFormat);
    m_srcLayout = LayoutOf(srcFormat, srcWidth, srcHeight);
    m_dstLayout = LayoutOf(dstFormat, dstWidth, dstHeight);
    if (srcCode == 0 || dstCode == 0 || m_srcLayout.planeCount != 1 || m_dstLayout.planeCount == 0) {
        return EINVAL;
    }
    m_nSrcWidth = srcWidth;
    m_nSrcHeight = srcHeight;
    m_bRepack = srcFormat == kAvYuyv422 && srcWidth % 2 != 0;
    m_bScale = srcWidth != dstWidth || srcHeight != dstHeight;
    m_bConvert = !m_bScale || srcCode != dstCode;
    m_bSwapRedBlue = dstFormat == kAvRgb24;
    m_convertedLayout = LayoutOf(dstFormat, srcWidth, srcHeight);

    if (m_bConvert) {
        const int error = FromModuleResult(
            m_converter.Configure(dstCode, 1, srcCode, 1, srcWidth, srcHeight, 0, 1, 255, 1));
        if (error != 0) return error;
    }
    if (m_bScale) {
        const int error = FromModuleResult(
            m_scaler.Configure(dstWidth, dstHeight, srcWidth, srcHeight, dstCode));
        if (error != 0) return error;
    }
    m_repacked.assign(m_bRepack ? m_srcLayout.bytes : 0, 0);
    m_converted.assign(m_bConvert && (m_bScale || m_bSwapRedBlue) ? m_convertedLayout.bytes : 0, 0);
    m_scaled.assign(m_bScale && m_bSwapRedBlue ? m_dstLayout.bytes : 0, 0);
    m_bConfigured = true;
    return 0;
}

// A slot's odd-width YUYV row ends after the U of its last half pair. The
// missing Y repeats the last pixel; the missing V is the nearest one, that of
// the pair before (neutral for a one-pixel row).
const uint8_t* TFrameConverter::RepackOddYuyv(const uint8_t* src) {
    const size_t slotRow = static_cast<size_t>(m_nSrcWidth) * 2;
    const size_t fullRow = m_srcLayout.stride[0];
    for (int row = 0; row < m_nSrcHeight; ++row) {
        uint8_t* to = m_repacked.data() + row * fullRow;
        std::memcpy(to, src + row * slotRow, slotRow);
        to[slotRow] = to[slotRow - 2];
        to[slotRow + 1] = slotRow >= 4 ? to[slotRow - 3] : 128;
    }
    return m_repacked.data();
}

void TFrameConverter::Convert(const uint8_t* src, uint8_t* dst) {
    if (!m_bConfigured) return;
    const uint8_t* picture = m_bRepack ? RepackOddYuyv(src) : src;
    const TPictureLayout* layout = &m_srcLayout;
    if (m_bConvert) {
        uint8_t* to = m_converted.empty() ? dst : m_converted.data();
        picture = RunStage(m_converter, *layout, picture, m_convertedLayout, to);
        layout = &m_convertedLayout;
    }
    if (m_bScale) {
        uint8_t* to = m_scaled.empty() ? dst : m_scaled.data();
        picture = RunStage(m_scaler, *layout, picture, m_dstLayout, to);
    }
    if (m_bSwapRedBlue) {
        const int width = static_cast<int>(m_dstLayout.rowBytes[0] / 3);
        const int stride = static_cast<int>(m_dstLayout.stride[0]);
        libyuv::RAWToRGB24(picture, stride, dst, stride, width, m_dstLayout.rows[0]);
    }
}

}  // namespace pelorn::vcam

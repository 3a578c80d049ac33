#include "tools/vcam/TConvertingSink.h"

#include <cerrno>
#include <cstring>

#include "engine/VCamLayout.h"

namespace pelorn::vcam {
namespace {

// The slate: a plain dark grey (24 of 255), as luma 37 with neutral chroma
// in the limited range.
constexpr uint8_t kSlateGrey = 24;
constexpr uint8_t kSlateLuma = 37;
constexpr uint8_t kNeutralChroma = 128;

void FillPlane(const TPictureLayout& layout, int plane, uint8_t* picture, const uint8_t* pattern,
               size_t patternBytes) {
    for (int row = 0; row < layout.rows[plane]; ++row) {
        uint8_t* line = picture + layout.offset[plane] + row * layout.stride[plane];
        for (size_t at = 0; at < layout.rowBytes[plane]; ++at) line[at] = pattern[at % patternBytes];
    }
}

}  // namespace

int TConvertingSink::Prepare() {
    const bool fixed = m_choice.format != TOutputChoice::kSameFormat && m_choice.width > 0;
    return fixed ? ConfigureOutput(m_choice.width, m_choice.height, m_choice.format) : 0;
}

int TConvertingSink::ConfigureOutput(int width, int height, int format) {
    m_bOutputReady = false;
    const TPictureLayout layout = LayoutOf(format, width, height);
    if (layout.planeCount == 0) return EINVAL;
    if (int error = m_pOutput->Configure(width, height, format)) return error;
    m_nOutWidth = width;
    m_nOutHeight = height;
    m_nOutFormat = format;
    m_picture.assign(layout.bytes, 0);
    FillSlate();
    m_bOutputReady = true;
    return 0;
}

int TConvertingSink::Configure(int width, int height, int format) {
    m_bConverterReady = false;
    // Only the packed formats of a slot come from the engine.
    if (PackedBytesPerPixel(format) == 0) return EINVAL;
    const bool sameFormat = m_choice.format == TOutputChoice::kSameFormat;
    const bool fixedSize = m_choice.width > 0;
    int outWidth = fixedSize ? m_choice.width : width;
    int outHeight = fixedSize ? m_choice.height : height;
    const int outFormat = sameFormat ? format : m_choice.format;
    if (m_bOutputReady && !sameFormat) {
        outWidth = m_nOutWidth;
        outHeight = m_nOutHeight;
    }
    const bool outputChanges = !m_bOutputReady || outWidth != m_nOutWidth ||
                               outHeight != m_nOutHeight || outFormat != m_nOutFormat;
    if (outputChanges) {
        if (int error = ConfigureOutput(outWidth, outHeight, outFormat)) return error;
    }
    if (int error = m_converter.Configure(width, height, format, outWidth, outHeight, outFormat)) {
        return error;
    }
    m_nSourceBytes = static_cast<size_t>(width) * height * PackedBytesPerPixel(format);
    m_bConverterReady = true;
    return 0;
}

int TConvertingSink::Write(const uint8_t* pixels, size_t size) {
    if (!m_bConverterReady || size != m_nSourceBytes) return EAGAIN;
    m_converter.Convert(pixels, m_picture.data());
    m_bShowingSlate = false;
    return m_pOutput->Write(m_picture.data(), m_picture.size());
}

int TConvertingSink::Repeat(TRepeat what) {
    if (!m_bOutputReady) return EAGAIN;
    if (what == TRepeat::Slate && !m_bShowingSlate) FillSlate();
    return m_pOutput->Write(m_picture.data(), m_picture.size());
}

void TConvertingSink::FillSlate() {
    m_bShowingSlate = true;
    const TPictureLayout layout = LayoutOf(m_nOutFormat, m_nOutWidth, m_nOutHeight);
    const uint8_t grey[] = {kSlateGrey, kSlateGrey, kSlateGrey, 255};
    const uint8_t yuyv[] = {kSlateLuma, kNeutralChroma};
    switch (m_nOutFormat) {
        case kAvYuyv422:
            FillPlane(layout, 0, m_picture.data(), yuyv, sizeof yuyv);
            break;
        case kAvYuv420p:
        case kAvNv12:
            FillPlane(layout, 0, m_picture.data(), &kSlateLuma, 1);
            for (int plane = 1; plane < layout.planeCount; ++plane) {
                FillPlane(layout, plane, m_picture.data(), &kNeutralChroma, 1);
            }
            break;
        default:  // RGB24, BGR24, BGRA
            FillPlane(layout, 0, m_picture.data(), grey, m_nOutFormat == kAvBgra ? 4 : 3);
            break;
    }
}

}  // namespace pelorn::vcam

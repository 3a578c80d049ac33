#pragma once

#include <cstdint>

#include "engine/compositor/TCompositorPool.h"

namespace pelorn {

class IIMPlugIn;

struct TBeautyStrengths {
    int smoothing;  // "美肤", 0..10
    int whitening;  // "美白", 0..10
    int texture;    // "肤质", 0..10
};

// The beauty filter: the image plug-in's filter (ordinal 156) on a BGR24
// picture. Its default variant weights the result by the skin class of every
// pixel (byte 0 of the class table), so that the filter works on skin and
// leaves clothes, hair and the background as they were.
class TBeautyFilter {
public:
    enum class Variant {
        kSkinWeighted = 0,   // filtered result weighted by the skin class
        kWholePicture = 1,   // the plug-in's result as it is
        kWhiteningOnly = 2,  // skin-weighted, no smoothing
        kSmoothingOnly = 3,  // skin-weighted, no whitening
    };

    explicit TBeautyFilter(IIMPlugIn* plugin) : m_pPlugin(plugin) {}

    // Only when whitening or smoothing is above 0 and the plug-in has its filter.
    bool Applies(const TBeautyStrengths& strengths) const;
    // `picture` (BGR24, width x height) is filtered in place; `scratch` holds
    // as many bytes. A failing plug-in leaves the picture as it was.
    void Apply(TCompositorPool& pool, uint8_t* picture, uint8_t* scratch, int width, int height,
               const TBeautyStrengths& strengths, const uint8_t* classes) const;

    Variant GetVariant() const { return m_variant; }
    void SetVariant(Variant variant) { m_variant = variant; }

private:
    IIMPlugIn* m_pPlugin;
    Variant m_variant = Variant::kSkinWeighted;
};

}  // namespace pelorn

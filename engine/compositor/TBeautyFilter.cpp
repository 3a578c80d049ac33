#include "engine/compositor/TBeautyFilter.h"

#include "engine/compositor/CompositorKernels.h"
#include "engine/compositor/KernelIds.h"
#include "engine/modules/IIMPlugIn.h"

namespace pelorn {

bool TBeautyFilter::Applies(const TBeautyStrengths& strengths) const {
    return m_pPlugin != nullptr && m_pPlugin->HasBeauty() &&
           (strengths.smoothing > 0 || strengths.whitening > 0);
}

void TBeautyFilter::Apply(TCompositorPool& pool, uint8_t* picture, uint8_t* scratch, int width,
                          int height, const TBeautyStrengths& strengths,
                          const uint8_t* classes) const {
    if (!Applies(strengths))
        return;
    int smoothing = strengths.smoothing;
    int whitening = strengths.whitening;
    if (m_variant == Variant::kWhiteningOnly)
        smoothing = 0;
    if (m_variant == Variant::kSmoothingOnly)
        whitening = 0;
    if (m_pPlugin->BeautySkin(picture, scratch, width, height, width * 3, smoothing, whitening,
                              strengths.texture) != 0) {
        return;
    }
    const size_t pixels = static_cast<size_t>(width) * height;
    if (m_variant == Variant::kWholePicture || classes == nullptr) {
        pool.Dispatch(kKernelBandCopy, kernels::TCopyArgs{picture, scratch, pixels * 3});
    } else {
        pool.Dispatch(kKernelSkinBlend, kernels::TSkinBlendArgs{picture, scratch, classes, pixels});
    }
}

}  // namespace pelorn

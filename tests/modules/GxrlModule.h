#pragma once

// The colour-conversion module "Gxrl.dat" as the tests use it.

#include <memory>

#include "tests/modules/ModuleTestSupport.h"

namespace moduletest {

using TConverterPtr = std::unique_ptr<IPixConverter, TReleaser<IPixConverter>>;
using TScalerPtr = std::unique_ptr<IPixScaler, TReleaser<IPixScaler>>;

// Loaded once per test binary, as the engine keeps it loaded.
inline TModuleHandle& Gxrl() {
    static TModuleHandle module(GXRL_MODULE_PATH);
    return module;
}

inline TConverterPtr NewConverter() {
    IPixConverter* converter = nullptr;
    const auto create = Gxrl().Entry<CreateConverterFn>(159);
    if (create == nullptr || create(&converter, nullptr) != 0) return nullptr;
    return TConverterPtr(converter);
}

inline TScalerPtr NewScaler() {
    IPixScaler* scaler = nullptr;
    const auto create = Gxrl().Entry<CreateScalerFn>(164);
    if (create == nullptr || create(&scaler, 3, 3) != 0) return nullptr;
    return TScalerPtr(scaler);
}

// Configure as the callers do, then one Run; the first failing result.
inline int32_t ConvertOnce(IPixConverter& converter, const TPictureBuffer& src,
                           TPictureBuffer& dst) {
    const int32_t configured =
        converter.Configure(dst.Code(), 1, src.Code(), 1, src.Width(), src.Height(), 0, 1, 255, 1);
    if (configured != 0) return configured;
    return converter.Run(dst.Planes(), dst.Linesizes(), src.ConstPlanes(), src.Linesizes());
}

inline int32_t Convert(const TPictureBuffer& src, TPictureBuffer& dst) {
    TConverterPtr converter = NewConverter();
    return converter ? ConvertOnce(*converter, src, dst) : -1;
}

}  // namespace moduletest

#pragma once

#include <cstdint>
#include <string>

#include "modules/ModuleAbi.h"

namespace pelorn {

// Holder of the image plug-in "TBeautySkin.dat" in the module folder. Loads
// it at construction and resolves ordinals 4, 6, 1 and 156; a missing file or
// entry point leaves that entry null, and its call returns 1 and writes
// nothing. On destruction the module is unloaded, and its file is deleted once
// the module is really gone from the process.
class IIMPlugIn {
public:
    static constexpr const char* kFileName = "TBeautySkin.dat";

    IIMPlugIn();                          // the module folder's copy
    explicit IIMPlugIn(std::string path);  // a given file
    ~IIMPlugIn();
    IIMPlugIn(const IIMPlugIn&) = delete;
    IIMPlugIn& operator=(const IIMPlugIn&) = delete;

    bool IsLoaded() const { return m_hModule != nullptr; }
    bool HasBeauty() const { return m_pfnBeauty != nullptr; }

    // Ordinal 4 and ordinal 6: quarter turns in opposite directions.
    int RotateQuarter(const uint8_t* src, uint8_t* dst, int srcWidth, int srcHeight,
                      int srcLinesize, int dstWidth, int dstHeight, int dstLinesize);
    int RotateQuarterBack(const uint8_t* src, uint8_t* dst, int srcWidth, int srcHeight,
                          int srcLinesize, int dstWidth, int dstHeight, int dstLinesize);
    // Ordinal 1.
    int Probe(void* a, void* b, int x, int y, int z);
    // Ordinal 156: packed BGR24, strengths 0..10.
    int BeautySkin(const uint8_t* src, uint8_t* dst, int width, int height, int linesize,
                   int smoothing, int whitening, int texture);

private:
    std::string m_strPath;
    void* m_hModule = nullptr;
    TurnFn m_pfnRotate4 = nullptr;
    TurnFn m_pfnRotate6 = nullptr;
    ProbeFn m_pfnProbe = nullptr;
    BeautyFn m_pfnBeauty = nullptr;
};

}  // namespace pelorn

#pragma once

#include <cstdint>
#include <string>

#include "modules/ModuleAbi.h"

namespace pelorn {

// The colour-conversion module's operations, in slot order.
class IBrenvikItf {
public:
    // Ordinal 159; 0 on success, 1 without the entry point.
    virtual int CreateConverter(IPixConverter** out, void* reserved) = 0;
    // Ordinal 164; callers pass 3, 3. 0 on success, 1 without the entry point.
    virtual int CreateScaler(IPixScaler** out, int a, int b) = 0;
    // Ordinal 351; does nothing without the entry point.
    virtual void Op351(const uint8_t* src, int srcLinesize, uint8_t* dst, int dstLinesize,
                       int width, int height, int a, int b) = 0;
    // Ordinal 347, the 3-byte alpha blend; 0 without the entry point.
    virtual int AlphaBlend(const uint8_t* fg, int fgLinesize, const uint8_t* bg, int bgLinesize,
                           uint8_t* dst, int dstLinesize, int width, int height, int a, int b,
                           const uint8_t* mask, int maskLinesize) = 0;

protected:
    ~IBrenvikItf() = default;
};

// Holder of "Gxrl.dat" in the module folder: loads it at construction,
// resolves ordinals 159, 164, 351 and 347, unloads it at destruction and then
// deletes the file once the module is really gone from the process.
class BrenvikDLL final : public IBrenvikItf {
public:
    static constexpr const char* kFileName = "Gxrl.dat";

    BrenvikDLL();
    explicit BrenvikDLL(std::string path);
    ~BrenvikDLL();
    BrenvikDLL(const BrenvikDLL&) = delete;
    BrenvikDLL& operator=(const BrenvikDLL&) = delete;

    bool IsLoaded() const { return m_hModule != nullptr; }

    int CreateConverter(IPixConverter** out, void* reserved) override;
    int CreateScaler(IPixScaler** out, int a, int b) override;
    void Op351(const uint8_t* src, int srcLinesize, uint8_t* dst, int dstLinesize, int width,
               int height, int a, int b) override;
    int AlphaBlend(const uint8_t* fg, int fgLinesize, const uint8_t* bg, int bgLinesize,
                   uint8_t* dst, int dstLinesize, int width, int height, int a, int b,
                   const uint8_t* mask, int maskLinesize) override;

private:
    std::string m_strPath;
    void* m_hModule = nullptr;
    CreateConverterFn m_pfnCreateConverter = nullptr;
    CreateScalerFn m_pfnCreateScaler = nullptr;
    Op351Fn m_pfnOp351 = nullptr;
    BlendFn m_pfnBlend = nullptr;
};

// RAII owners for the module's objects: Release() on destruction.
template <typename T>
class TModuleObject {
public:
    TModuleObject() = default;
    ~TModuleObject() { Reset(); }
    TModuleObject(const TModuleObject&) = delete;
    TModuleObject& operator=(const TModuleObject&) = delete;

    T** Receive() {
        Reset();
        return &m_pObject;
    }
    T* Get() const { return m_pObject; }
    T* operator->() const { return m_pObject; }
    explicit operator bool() const { return m_pObject != nullptr; }
    void Reset() {
        if (m_pObject != nullptr) m_pObject->Release();
        m_pObject = nullptr;
    }

private:
    T* m_pObject = nullptr;
};

using TConverter = TModuleObject<IPixConverter>;
using TScaler = TModuleObject<IPixScaler>;

}  // namespace pelorn

#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/compositor/ColourMath.h"
#include "engine/compositor/TColourCache.h"
#include "engine/compositor/TCompositorPool.h"
#include "engine/compositor/THugeBuffer.h"

namespace pelorn {

// The compositor's per-colour tables. The derived-colour, class and angle
// tables come from the cache file (or are built and written to it once per
// machine); the level table and the classification table are rebuilt from
// them whenever the parameters they depend on change.
//
// All tables keep plain bytes: the classification entries, the working
// picture and the mask never carry reversed bit order, so nothing has to be
// reversed back on the way to the output.
//
// Threads: used by the compositor's caller only; the builds run on the pool.
class TColourTables {
public:
    static constexpr size_t kLevelBytes = colour::kColourCount * 3;
    // Entries of B, G, R and opacity, indexed by U * 65536 + V * 256 + Y.
    static constexpr size_t kClassifyBytes = colour::kColourCount * 4;
    static constexpr int kIdentityLevel = 255;

    // Builds the derived-colour table into `derived` (kDerivedBytes).
    using TDerivedBuilder = std::function<void(TCompositorPool& pool, uint8_t* derived)>;

    TColourTables();
    ~TColourTables();
    TColourTables(const TColourTables&) = delete;
    TColourTables& operator=(const TColourTables&) = delete;

    // Maps "ClrFloat.map" in `folder` when it is a valid cache whose angle
    // table is the linked-in one; otherwise deletes it, builds the tables and
    // writes the file anew. False when the
    // file cannot be created (the tables are then not built) or a resource
    // cannot be inflated.
    bool Load(TCompositorPool& pool, const std::string& folder);
    bool Load(TCompositorPool& pool, const std::string& folder, const TDerivedBuilder& build);
    bool IsLoaded() const { return m_pDerived != nullptr; }
    // What Load found in the folder.
    TColourCache::Status FoundCache() const { return m_foundCache; }

    const uint8_t* Derived() const { return m_pDerived; }
    const uint8_t* Classes() const { return m_pClasses; }
    const uint8_t* Angles() const { return m_pAngles; }

    // Kernel 8: the level table for the transformed level n (255 - parameter 8).
    void BuildLevel(TCompositorPool& pool, int level);
    // Kernel 5: the green keyer's classification table, with the colours taken
    // through the level table of the level last built.
    void BuildClassification(TCompositorPool& pool, const colour::TKeyParams& params);
    // Kernel 6: the same keyed towards blue.
    void BuildBlueClassification(TCompositorPool& pool, const colour::TKeyParams& params);

    int Level() const { return m_nLevel; }
    const uint8_t* LevelTable() const { return m_pLevel.get(); }
    const uint8_t* LevelCurve() const { return m_levelCurve.data(); }
    const uint8_t* Classification() const { return m_pClassify.get(); }

    // The real derived-colour build: kernel 28 makes the colour table's
    // entries of lightness 128 (the only ones the build reads), kernel 27
    // every entry, taking each sample's hue-table entry as it goes (single
    // precision, as the table would hold it) instead of storing all 2^24.
    static void BuildDerived(TCompositorPool& pool, uint8_t* derived);

    // The table kernels, for the pool's kernel table.
    static void KernelClassify(const void* arguments, int band);      // 5
    static void KernelClassifyBlue(const void* arguments, int band);  // 6
    static void KernelLevel(const void* arguments, int band);         // 8
    static void KernelDerived(const void* arguments, int band);       // 27
    static void KernelColourSlice(const void* arguments, int band);   // 28

private:
    bool CachedAnglesMatchResource() const;
    bool BuildAndWrite(TCompositorPool& pool, const std::string& path,
                       const TDerivedBuilder& build);
    void Classify(TCompositorPool& pool, const colour::TKeyParams& params, int kernelId);

    TColourCache m_cache;
    TColourCache::Status m_foundCache = TColourCache::Status::kMissing;
    // Used only while the cache cannot be mapped after writing it.
    std::unique_ptr<uint8_t[]> m_pOwnDerived;
    std::unique_ptr<uint8_t[]> m_pOwnClasses;
    std::unique_ptr<uint8_t[]> m_pOwnAngles;
    const uint8_t* m_pDerived = nullptr;
    const uint8_t* m_pClasses = nullptr;
    const uint8_t* m_pAngles = nullptr;

    THugeBuffer m_pLevel;
    THugeBuffer m_pClassify;
    std::array<uint8_t, 256> m_levelCurve{};
    int m_nLevel = -1;  // none built yet
};

}  // namespace pelorn

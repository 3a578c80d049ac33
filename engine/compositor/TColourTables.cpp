#include "engine/compositor/TColourTables.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "engine/compositor/KernelIds.h"
#include "engine/compositor/TEngineResources.h"
#include "platform/KnownFolders.h"

namespace pelorn {
namespace {

using colour::SampleIndex;
using colour::TKeyParams;

// The table rows also come as AVX2 clones, picked once at load time. The
// thread sanitizer cannot run the picking resolver (it runs before the
// sanitizer's own start-up), so its builds keep the baseline code.
#if defined(__SANITIZE_THREAD__)
#define PELORN_VECTOR_CLONES
#else
#define PELORN_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#endif

constexpr int kBands = TCompositorPool::kWorkers;
constexpr int kValuesPerBand = 256 / kBands;

struct TDerivedArgs {
    uint8_t* derived;
    const uint8_t* colourSlice;
};

struct TColourSliceArgs {
    uint8_t* slice;
};

struct TLevelArgs {
    uint8_t* table;
    const uint8_t* curve;
    int level;
};

struct TClassifyArgs {
    uint8_t* table;
    const uint8_t* derived;
    const uint8_t* angles;
    const uint8_t* curve;
    int level;
    TKeyParams params;
};

// Offsets of the keyer's colour formula for one chroma pair: B = Y + b,
// G = Y - g, R = Y + r before clamping.
struct TChromaOffsets {
    int b;
    int g;
    int r;
};

TChromaOffsets OffsetsOf(int u, int v) {
    return {(1779 * u - 227212) / 1000, (3455 * u + 7169 * v - 1354872) / 10000,
            (14075 * v - 1796600) / 10000};
}

// n / 1000 for 0 <= n <= 255500 (every luma sum here) as (n / 8) / 125 by a
// multiply that fits 32 bits and vectorises; exact over that whole range.
inline uint32_t Divide1000(uint32_t n) {
    return ((n >> 3) * 33555u) >> 22;
}

inline uint32_t Clamp8u(int value) {
    return static_cast<uint32_t>(std::clamp(value, 0, 255));
}

// The level curve over the indices -256..511, so that a colour channel
// clamp(Y + offset) reads it at Y + offset without a gather.
struct TExtendedCurve {
    static constexpr int kLow = -256;
    std::array<uint8_t, 768> values;
    explicit TExtendedCurve(const uint8_t* curve) {
        for (int i = 0; i < 768; ++i) values[i] = curve[std::clamp(i + kLow, 0, 255)];
    }
    const uint8_t* At(int offset) const { return values.data() + (offset - kLow); }
};

// The 256 entries of one chroma pair: the colours taken through the level
// table (computed from its curve, which gives the table's entries exactly)
// and opacity `opacity`.
PELORN_VECTOR_CLONES
void WriteLevelledColours(const TChromaOffsets& offsets, const TExtendedCurve* curve,
                          uint8_t opacity, uint8_t* entries) {
    uint32_t out[256];
    const uint32_t alpha = uint32_t{opacity} << 24;
    if (curve == nullptr) {
        for (int y = 0; y < 256; ++y) {
            out[y] = Clamp8u(y + offsets.b) | Clamp8u(y - offsets.g) << 8 |
                     Clamp8u(y + offsets.r) << 16 | alpha;
        }
    } else {
        const uint8_t* cb = curve->At(offsets.b);
        const uint8_t* cg = curve->At(-offsets.g);
        const uint8_t* cr = curve->At(offsets.r);
        for (int y = 0; y < 256; ++y) {
            const uint32_t b = Clamp8u(y + offsets.b);
            const uint32_t g = Clamp8u(y - offsets.g);
            const uint32_t r = Clamp8u(y + offsets.r);
            const int luma =
                static_cast<int>(std::min(Divide1000(114 * b + 587 * g + 299 * r + 500), 255u));
            const int stretched =
                static_cast<int>(Divide1000(114u * cb[y] + 587u * cg[y] + 299u * cr[y] + 500));
            const int shift = luma - stretched;
            out[y] = Clamp8u(cb[y] + shift) | Clamp8u(cg[y] + shift) << 8 |
                     Clamp8u(cr[y] + shift) << 16 | alpha;
        }
    }
    std::memcpy(entries, out, sizeof out);
}

// One row of the level table: the 256 entries (x0, x1, 0..255).
PELORN_VECTOR_CLONES
void WriteLevelRow(int x0, int x1, const uint8_t* curve, uint8_t* entries) {
    const int c0 = curve[x0];
    const int c1 = curve[x1];
    const uint32_t sum = 114u * x0 + 587u * x1 + 500;
    const uint32_t stretchedSum = 114u * c0 + 587u * c1 + 500;
    for (int x2 = 0; x2 < 256; ++x2) {
        const int luma = static_cast<int>(std::min(Divide1000(sum + 299u * x2), 255u));
        const int shift = luma - static_cast<int>(Divide1000(stretchedSum + 299u * curve[x2]));
        entries[x2 * 3] = static_cast<uint8_t>(Clamp8u(c0 + shift));
        entries[x2 * 3 + 1] = static_cast<uint8_t>(Clamp8u(c1 + shift));
        entries[x2 * 3 + 2] = static_cast<uint8_t>(Clamp8u(curve[x2] + shift));
    }
}

template <bool kBlue>
void ClassifyBand(const TClassifyArgs& args, int band) {
    const bool identity = args.level == TColourTables::kIdentityLevel;
    const TExtendedCurve extended(args.curve);
    const TExtendedCurve* curve = identity ? nullptr : &extended;
    for (int u = band * kValuesPerBand; u < (band + 1) * kValuesPerBand; ++u) {
        for (int v = 0; v < 256; ++v) {
            const int k = kBlue ? colour::BlueKeyValue(u, v) : colour::KeyValue(u, v);
            uint8_t* entry = args.table + SampleIndex(u, v, 0) * 4;
            if (k >= 510) {
                const uint32_t backdrop = uint32_t{args.params.bg} << 24;
                for (int y = 0; y < 256; ++y) std::memcpy(entry + y * 4, &backdrop, 4);
                continue;
            }
            WriteLevelledColours(OffsetsOf(u, v), curve, args.params.fg, entry);
            if (k < 1)
                continue;
            const uint8_t* derived =
                args.derived + SampleIndex(u, v, 0) * colour::kDerivedEntryBytes;
            for (int y = 0; y < 256; ++y, derived += colour::kDerivedEntryBytes) {
                const colour::TDerived d = colour::LoadDerived(derived);
                entry[y * 4 + 3] = kBlue ? colour::BlueOpacity(k, d, args.params, args.angles)
                                         : colour::GreenOpacity(k, d, args.params, args.angles);
            }
        }
    }
}

}  // namespace

TColourTables::TColourTables() : m_pLevel(kLevelBytes), m_pClassify(kClassifyBytes) {}

TColourTables::~TColourTables() = default;

bool TColourTables::Load(TCompositorPool& pool, const std::string& folder) {
    return Load(pool, folder, &TColourTables::BuildDerived);
}

bool TColourTables::Load(TCompositorPool& pool, const std::string& folder,
                         const TDerivedBuilder& build) {
    const std::string path = folder + "/" + TColourCache::kFileName;
    m_foundCache = m_cache.Open(path);
    if (m_foundCache == TColourCache::Status::kLoaded && !CachedAnglesMatchResource()) {
        m_cache.Close();
        m_foundCache = TColourCache::Status::kStale;
    }
    if (m_foundCache == TColourCache::Status::kLoaded) {
        m_pDerived = m_cache.Derived();
        m_pClasses = m_cache.Classes();
        m_pAngles = m_cache.Angles();
        return true;
    }
    if (m_foundCache != TColourCache::Status::kMissing)
        ::unlink(path.c_str());
    platform::EnsureFolder(folder);
    return BuildAndWrite(pool, path, build);
}

// A cache written by an engine with other tables keeps the right magic and
// variant. The angle table is the one that changes with the keyer's tuning
// and costs only a megabyte to inflate and compare, so it tells a stale
// cache apart; the derived-colour table depends on nothing but the sample.
bool TColourTables::CachedAnglesMatchResource() const {
    auto angles = std::make_unique_for_overwrite<uint8_t[]>(TColourCache::kAngleBytes);
    return TEngineResources::Inflate(
               TEngineResources::Find(TEngineResources::Id::kAngleTable4002), angles.get(),
               TColourCache::kAngleBytes) &&
           std::memcmp(angles.get(), m_cache.Angles(), TColourCache::kAngleBytes) == 0;
}

bool TColourTables::BuildAndWrite(TCompositorPool& pool, const std::string& path,
                                  const TDerivedBuilder& build) {
    TColourCache::TWriter writer(path);
    if (!writer.IsCreated())
        return false;

    auto derived = std::make_unique_for_overwrite<uint8_t[]>(TColourCache::kDerivedBytes);
    auto classes = std::make_unique_for_overwrite<uint8_t[]>(TColourCache::kClassBytes);
    auto angles = std::make_unique_for_overwrite<uint8_t[]>(TColourCache::kAngleBytes);
    build(pool, derived.get());
    using Id = TEngineResources::Id;
    if (!TEngineResources::Inflate(TEngineResources::Find(Id::kClassTable4003), classes.get(),
                                   TColourCache::kClassBytes) ||
        !TEngineResources::Inflate(TEngineResources::Find(Id::kAngleTable4002), angles.get(),
                                   TColourCache::kAngleBytes)) {
        return false;
    }

    // A cache that cannot be written or mapped back still serves this run.
    if (writer.Commit(derived.get(), classes.get(), angles.get()) &&
        m_cache.Open(path) == TColourCache::Status::kLoaded) {
        m_pDerived = m_cache.Derived();
        m_pClasses = m_cache.Classes();
        m_pAngles = m_cache.Angles();
        return true;
    }
    m_pOwnDerived = std::move(derived);
    m_pOwnClasses = std::move(classes);
    m_pOwnAngles = std::move(angles);
    m_pDerived = m_pOwnDerived.get();
    m_pClasses = m_pOwnClasses.get();
    m_pAngles = m_pOwnAngles.get();
    return true;
}

void TColourTables::BuildDerived(TCompositorPool& pool, uint8_t* derived) {
    auto slice = std::make_unique<uint8_t[]>(colour::kColourSliceBytes);
    pool.Dispatch(kKernelColourSlice, TColourSliceArgs{slice.get()});
    pool.Dispatch(kKernelDerived, TDerivedArgs{derived, slice.get()});
}

void TColourTables::BuildLevel(TCompositorPool& pool, int level) {
    m_nLevel = std::clamp(level, 0, 255);
    colour::BuildLevelCurve(m_nLevel, m_levelCurve.data());
    pool.Dispatch(kKernelLevelTable, TLevelArgs{m_pLevel.get(), m_levelCurve.data(), m_nLevel});
}

void TColourTables::BuildClassification(TCompositorPool& pool, const TKeyParams& params) {
    Classify(pool, params, kKernelClassify);
}

void TColourTables::BuildBlueClassification(TCompositorPool& pool, const TKeyParams& params) {
    Classify(pool, params, kKernelClassifyBlue);
}

void TColourTables::Classify(TCompositorPool& pool, const TKeyParams& params, int kernelId) {
    if (m_nLevel < 0)
        BuildLevel(pool, kIdentityLevel);
    pool.Dispatch(kernelId, TClassifyArgs{m_pClassify.get(), m_pDerived, m_pAngles,
                                          m_levelCurve.data(), m_nLevel, params});
}

void TColourTables::KernelClassify(const void* arguments, int band) {
    ClassifyBand<false>(*static_cast<const TClassifyArgs*>(arguments), band);
}

void TColourTables::KernelClassifyBlue(const void* arguments, int band) {
    ClassifyBand<true>(*static_cast<const TClassifyArgs*>(arguments), band);
}

void TColourTables::KernelLevel(const void* arguments, int band) {
    const auto& args = *static_cast<const TLevelArgs*>(arguments);
    // The identity's rows differ only in their first two bytes per entry.
    uint8_t identity[256 * 3];
    for (int x2 = 0; x2 < 256; ++x2) identity[x2 * 3 + 2] = static_cast<uint8_t>(x2);
    for (int x0 = band * kValuesPerBand; x0 < (band + 1) * kValuesPerBand; ++x0) {
        uint8_t* row = args.table + static_cast<size_t>(x0) * 65536 * 3;
        for (int x1 = 0; x1 < 256; ++x1, row += sizeof identity) {
            if (args.level != kIdentityLevel) {
                WriteLevelRow(x0, x1, args.curve, row);
                continue;
            }
            for (int x2 = 0; x2 < 256; ++x2) {
                identity[x2 * 3] = static_cast<uint8_t>(x0);
                identity[x2 * 3 + 1] = static_cast<uint8_t>(x1);
            }
            std::memcpy(row, identity, sizeof identity);
        }
    }
}

void TColourTables::KernelDerived(const void* arguments, int band) {
    const auto& args = *static_cast<const TDerivedArgs*>(arguments);
    for (int u = band * kValuesPerBand; u < (band + 1) * kValuesPerBand; ++u) {
        for (int v = 0; v < 256; ++v) {
            uint8_t* entry = args.derived + SampleIndex(u, v, 0) * colour::kDerivedEntryBytes;
            for (int y = 0; y < 256; ++y, entry += colour::kDerivedEntryBytes) {
                colour::StoreDerived(colour::DerivedEntry(u, v, y, args.colourSlice), entry);
            }
        }
    }
}

void TColourTables::KernelColourSlice(const void* arguments, int band) {
    const auto& args = *static_cast<const TColourSliceArgs*>(arguments);
    for (int h = band * kValuesPerBand; h < (band + 1) * kValuesPerBand; ++h) {
        for (int s = 0; s < 256; ++s) {
            const auto entry = colour::ColourEntry(h, s, colour::kColourSliceLightness);
            std::memcpy(args.slice + (static_cast<size_t>(h) * 256 + s) * 3, entry.data(), 3);
        }
    }
}

}  // namespace pelorn

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/compositor/CompositorKernels.h"
#include "engine/compositor/TColourTables.h"
#include "engine/compositor/TEngineResources.h"
#include "engine/modules/ModuleFolder.h"

namespace pelorn {
namespace {

using colour::SampleIndex;

// The tables of the module folder: the cache linked in by TestMain, so these
// tests check what every engine of the test run works with.
class TColourTablesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_tables.Load(m_pool, ModuleFolder()));
        std::vector<uint8_t> slice(colour::kColourSliceBytes);
        colour::BuildColourSlice(slice.data());
        m_slice = std::move(slice);
    }

    const uint8_t* Entry(int u, int v, int y) const {
        return m_tables.Classification() + SampleIndex(u, v, y) * 4;
    }

    TCompositorPool m_pool{kernels::KernelTable()};
    TColourTables m_tables;
    std::vector<uint8_t> m_slice;
    colour::TKeyParams m_key{0, 0, 0, 0, 0, 255};
};

TEST_F(TColourTablesTest, DerivedTableHoldsTheDerivedEntryOfEverySample) {
    for (int u = 0; u < 256; u += 17) {
        for (int v = 3; v < 256; v += 23) {
            for (int y = 0; y < 256; y += 51) {
                uint8_t expected[colour::kDerivedEntryBytes];
                colour::StoreDerived(colour::DerivedEntry(u, v, y, m_slice.data()), expected);
                ASSERT_EQ(std::memcmp(m_tables.Derived() + SampleIndex(u, v, y) * 10, expected, 10),
                          0)
                    << u << "," << v << "," << y;
            }
        }
    }
}

TEST_F(TColourTablesTest, NeutralChromaIsOpaqueWithTheLevelTableColourForEveryY) {
    for (int level : {255, 128}) {
        m_tables.BuildLevel(m_pool, level);
        m_tables.BuildClassification(m_pool, m_key);
        for (int y = 0; y < 256; ++y) {
            const uint8_t* entry = Entry(128, 128, y);
            const uint8_t* levelled =
                m_tables.LevelTable() + (static_cast<size_t>(y) * 65536 + y * 256 + y) * 3;
            ASSERT_EQ(entry[3], 255) << y;
            ASSERT_EQ(std::memcmp(entry, levelled, 3), 0) << "level " << level << " y " << y;
        }
    }
}

TEST_F(TColourTablesTest, SaturatedGreenIsBlackAndTransparent) {
    m_tables.BuildLevel(m_pool, 255);
    m_tables.BuildClassification(m_pool, m_key);
    for (int y = 0; y < 256; ++y) {
        const uint8_t* entry = Entry(44, 21, y);
        ASSERT_EQ(entry[0], 0);
        ASSERT_EQ(entry[1], 0);
        ASSERT_EQ(entry[2], 0);
        ASSERT_EQ(entry[3], 0);
    }
}

TEST_F(TColourTablesTest, ClassificationMatchesTheKeyerForEverySampledEntry) {
    const colour::TKeyParams key{20, 10, 60, 40, 0, 255};
    m_tables.BuildLevel(m_pool, 200);
    m_tables.BuildClassification(m_pool, key);
    uint8_t curve[256];
    colour::BuildLevelCurve(200, curve);
    for (int u = 1; u < 256; u += 7) {
        for (int v = 0; v < 256; v += 5) {
            const int k = colour::KeyValue(u, v);
            for (int y = 0; y < 256; y += 3) {
                const uint8_t* entry = Entry(u, v, y);
                if (k >= 510) {
                    ASSERT_EQ(entry[3], 0);
                    continue;
                }
                const colour::TBgr colour = colour::SampleColour(u, v, y);
                const auto expected = colour::LevelEntry(colour.b, colour.g, colour.r, curve);
                ASSERT_EQ(std::memcmp(entry, expected.data(), 3), 0) << u << "," << v << "," << y;
                const uint8_t opacity =
                    k < 1 ? 255
                          : colour::GreenOpacity(
                                k,
                                colour::LoadDerived(m_tables.Derived() + SampleIndex(u, v, y) * 10),
                                key, m_tables.Angles());
                ASSERT_EQ(entry[3], opacity) << u << "," << v << "," << y;
            }
        }
    }
}

TEST_F(TColourTablesTest, LevelTableIsTheIdentityAtFullLevel) {
    m_tables.BuildLevel(m_pool, 255);
    for (int x0 : {0, 63, 64, 200, 255}) {
        for (int x1 : {0, 9, 255}) {
            for (int x2 = 0; x2 < 256; ++x2) {
                const uint8_t* entry =
                    m_tables.LevelTable() + (static_cast<size_t>(x0) * 65536 + x1 * 256 + x2) * 3;
                ASSERT_EQ(entry[0], x0);
                ASSERT_EQ(entry[1], x1);
                ASSERT_EQ(entry[2], x2);
            }
        }
    }
}

TEST_F(TColourTablesTest, LevelTableFollowsTheCurveEverywhere) {
    for (int level : {0, 1, 77, 254}) {
        m_tables.BuildLevel(m_pool, level);
        uint8_t curve[256];
        colour::BuildLevelCurve(level, curve);
        for (int x0 = 0; x0 < 256; x0 += 5) {
            for (int x1 = 0; x1 < 256; x1 += 3) {
                for (int x2 = 0; x2 < 256; ++x2) {
                    const auto expected = colour::LevelEntry(x0, x1, x2, curve);
                    const uint8_t* entry = m_tables.LevelTable() +
                                           (static_cast<size_t>(x0) * 65536 + x1 * 256 + x2) * 3;
                    ASSERT_EQ(std::memcmp(entry, expected.data(), 3), 0)
                        << level << ": " << x0 << "," << x1 << "," << x2;
                }
            }
        }
    }
}

TEST_F(TColourTablesTest, BlueTwinKeysBlueAway) {
    m_tables.BuildLevel(m_pool, 255);
    m_tables.BuildBlueClassification(m_pool, m_key);
    EXPECT_GE(colour::BlueKeyValue(255, 90), 510);
    EXPECT_EQ(Entry(255, 90, 100)[3], 0);     // saturated blue
    EXPECT_EQ(Entry(128, 128, 100)[3], 255);  // grey stays
    EXPECT_EQ(Entry(44, 21, 150)[3], 255);    // green is not its backdrop
}

TEST(TColourTablesAngleTest, OpacityFallsWithTheKeyAndSnapsToItsEnds) {
    std::vector<uint8_t> angles(colour::kAngleBytes);
    ASSERT_TRUE(
        TEngineResources::Inflate(TEngineResources::Find(TEngineResources::Id::kAngleTable4002),
                                  angles.data(), angles.size()));
    for (int l = 1; l <= 510; ++l) {
        int previous = angles[colour::AngleIndex(1, l)];
        for (int h = 2; h < 510; ++h) {
            const int opacity = angles[colour::AngleIndex(h, l)];
            ASSERT_LE(opacity, previous) << "h " << h << " l " << l;
            // Nearly opaque or nearly clear is exactly that: a solid subject
            // and a plain backdrop carry no speckle.
            ASSERT_TRUE(opacity == 0 || opacity == 255 || (opacity >= 16 && opacity <= 239))
                << "h " << h << " l " << l;
            previous = opacity;
        }
        EXPECT_EQ(previous, 0);
    }
    EXPECT_EQ(angles[colour::AngleIndex(1, 510)], 255);    // little key, strong subject
    EXPECT_EQ(angles[colour::AngleIndex(50, 400)], 255);   // H at most L / 7
    for (size_t i = colour::kAngleBytes - colour::kAngleSide; i < colour::kAngleBytes; ++i) {
        ASSERT_EQ(angles[i], 0);
    }
}

TEST(TColourTablesClassTest, SkinWeighsHighAndBackdropLow) {
    std::vector<uint8_t> classes(colour::kColourCount * 3);
    ASSERT_TRUE(
        TEngineResources::Inflate(TEngineResources::Find(TEngineResources::Id::kClassTable4003),
                                  classes.data(), classes.size()));
    EXPECT_EQ(classes[SampleIndex(103, 160, 165) * 3], 255);  // skin
    EXPECT_EQ(classes[SampleIndex(80, 75, 125) * 3], 0);      // backdrop green
    EXPECT_EQ(classes[SampleIndex(128, 128, 128) * 3], 0);    // grey
    EXPECT_EQ(classes[SampleIndex(103, 160, 10) * 3], 0);     // too dark to be skin
    EXPECT_EQ(classes[SampleIndex(80, 75, 125) * 3 + 1], colour::KeyValue(80, 75) / 2);
}

TEST(TColourTablesClassTest, SecondVariantKeysTheBlueBackdrop) {
    std::vector<uint8_t> classes(colour::kColourCount * 3);
    ASSERT_TRUE(
        TEngineResources::Inflate(TEngineResources::Find(TEngineResources::Id::kClassTable4004),
                                  classes.data(), classes.size()));
    EXPECT_EQ(classes[SampleIndex(103, 160, 165) * 3], 255);  // skin as in the first variant
    EXPECT_EQ(classes[SampleIndex(255, 90, 100) * 3 + 1],
              255);                                           // saturated blue, limited to 510 / 2
    EXPECT_EQ(classes[SampleIndex(80, 75, 125) * 3 + 1], 0);  // green is not its backdrop
}

TEST(TColourTablesResourceTest, DamagedOrShortResourcesAreRefused) {
    std::vector<uint8_t> table(1024);
    const auto angles = TEngineResources::Find(TEngineResources::Id::kAngleTable4002);
    ASSERT_GT(angles.size(), 4u);
    // A length running past the resource.
    std::vector<uint8_t> overlong(angles.begin(), angles.end());
    overlong[3] = 0x7F;
    EXPECT_FALSE(TEngineResources::Inflate(overlong, table.data(), table.size()));
    // A stream that is not zlib.
    std::vector<uint8_t> garbage{8, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_FALSE(TEngineResources::Inflate(garbage, table.data(), table.size()));
    EXPECT_FALSE(TEngineResources::Inflate({}, table.data(), table.size()));
    // A table larger than the stream's content is not filled: refused.
    std::vector<uint8_t> large(colour::kAngleBytes + 10);
    EXPECT_FALSE(TEngineResources::Inflate(angles, large.data(), large.size()));
    // A smaller table takes the stream's beginning.
    EXPECT_TRUE(TEngineResources::Inflate(angles, table.data(), table.size()));
}

}  // namespace
}  // namespace pelorn

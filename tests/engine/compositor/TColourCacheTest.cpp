#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "engine/compositor/CompositorKernels.h"
#include "engine/compositor/TColourCache.h"
#include "engine/compositor/TColourTables.h"
#include "engine/compositor/TEngineResources.h"

namespace pelorn {
namespace {

namespace fs = std::filesystem;

// A cache folder of its own, and a derived-table builder that only fills a
// pattern (the real build is covered by the shared cache's tests).
class TColourCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = fs::temp_directory_path() / ("colour-cache-" + std::to_string(getpid()));
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
        m_path = (m_folder / TColourCache::kFileName).string();
    }
    void TearDown() override { fs::remove_all(m_folder); }

    TColourTables::TDerivedBuilder Builder() {
        return [this](TCompositorPool&, uint8_t* derived) {
            ++m_nBuilds;
            for (size_t i = 0; i < TColourCache::kDerivedBytes; i += 4096) derived[i] = 0x5A;
            std::memset(derived, 0x5A, 64);
        };
    }

    void WriteFile(const std::vector<uint8_t>& bytes) {
        std::ofstream file(m_path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }

    std::vector<uint8_t> Header(uint64_t magic, int16_t variant) {
        std::vector<uint8_t> header(TColourCache::kHeaderBytes, 0);
        for (int i = 0; i < 8; ++i) header[i] = static_cast<uint8_t>(magic >> (8 * i));
        header[24] = static_cast<uint8_t>(variant & 0xFF);
        header[25] = static_cast<uint8_t>(variant >> 8);
        return header;
    }

    // A complete file of the right size with the given header.
    void WriteFullFile(uint64_t magic, int16_t variant) {
        std::vector<uint8_t> header = Header(magic, variant);
        std::ofstream file(m_path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(header.data()),
                   static_cast<std::streamsize>(header.size()));
        file.seekp(static_cast<std::streamoff>(TColourCache::kFileBytes - 1));
        file.put(0);
    }

    void ExpectValidCacheWritten() {
        ASSERT_EQ(fs::file_size(m_path), TColourCache::kFileBytes);
        TColourCache cache;
        ASSERT_EQ(cache.Open(m_path), TColourCache::Status::kLoaded);
        EXPECT_EQ(cache.Derived()[0], 0x5A);
    }

    // The tables after the header: the builder's and the two resources'.
    void ExpectTablesWritten() {
        TColourCache cache;
        ASSERT_EQ(cache.Open(m_path), TColourCache::Status::kLoaded);
        std::vector<uint8_t> angles(TColourCache::kAngleBytes);
        ASSERT_TRUE(
            TEngineResources::Inflate(TEngineResources::Find(TEngineResources::Id::kAngleTable4002),
                                      angles.data(), angles.size()));
        EXPECT_EQ(std::memcmp(cache.Angles(), angles.data(), angles.size()), 0);
        // Spot checks of the class table against resource 4003.
        std::vector<uint8_t> classes(TColourCache::kClassBytes);
        ASSERT_TRUE(
            TEngineResources::Inflate(TEngineResources::Find(TEngineResources::Id::kClassTable4003),
                                      classes.data(), classes.size()));
        EXPECT_EQ(std::memcmp(cache.Classes(), classes.data(), classes.size()), 0);
    }

    TCompositorPool m_pool{kernels::KernelTable()};
    fs::path m_folder;
    std::string m_path;
    int m_nBuilds = 0;
};

TEST_F(TColourCacheTest, MissingFileIsBuiltAndWrittenInTheFixedLayout) {
    TColourTables tables;
    ASSERT_TRUE(tables.Load(m_pool, m_folder.string(), Builder()));
    EXPECT_EQ(tables.FoundCache(), TColourCache::Status::kMissing);
    EXPECT_EQ(m_nBuilds, 1);
    ExpectValidCacheWritten();
    ExpectTablesWritten();

    std::ifstream file(m_path, std::ios::binary);
    std::vector<uint8_t> header(TColourCache::kHeaderBytes);
    file.read(reinterpret_cast<char*>(header.data()), static_cast<std::streamsize>(header.size()));
    EXPECT_EQ(header, Header(0x78762FCA, 1));
    EXPECT_EQ(std::distance(fs::directory_iterator(m_folder), fs::directory_iterator()), 1);
}

TEST_F(TColourCacheTest, ValidFileIsReadWithoutBuilding) {
    {
        TColourTables first;
        ASSERT_TRUE(first.Load(m_pool, m_folder.string(), Builder()));
    }
    TColourTables second;
    ASSERT_TRUE(second.Load(m_pool, m_folder.string(), Builder()));
    EXPECT_EQ(second.FoundCache(), TColourCache::Status::kLoaded);
    EXPECT_EQ(m_nBuilds, 1);
    EXPECT_EQ(second.Derived()[0], 0x5A);
}

TEST_F(TColourCacheTest, TooShortFileIsRebuiltAndNeverReadPastItsEnd) {
    std::vector<uint8_t> shortFile = Header(0x78762FCA, 1);
    shortFile.resize(1000, 0x11);
    WriteFile(shortFile);
    TColourCache cache;
    EXPECT_EQ(cache.Open(m_path), TColourCache::Status::kTooShort);
    EXPECT_FALSE(cache.IsOpen());

    TColourTables tables;
    ASSERT_TRUE(tables.Load(m_pool, m_folder.string(), Builder()));
    EXPECT_EQ(tables.FoundCache(), TColourCache::Status::kTooShort);
    EXPECT_EQ(m_nBuilds, 1);
    ExpectValidCacheWritten();
}

TEST_F(TColourCacheTest, RightMagicWithVariantTwoIsReplaced) {
    WriteFullFile(0x78762FCA, 2);
    TColourTables tables;
    ASSERT_TRUE(tables.Load(m_pool, m_folder.string(), Builder()));
    EXPECT_EQ(tables.FoundCache(), TColourCache::Status::kForeign);
    EXPECT_EQ(m_nBuilds, 1);
    ExpectValidCacheWritten();
}

TEST_F(TColourCacheTest, CacheBuiltWithAnotherAngleTableIsReplaced) {
    {
        TColourTables first;
        ASSERT_TRUE(first.Load(m_pool, m_folder.string(), Builder()));
    }
    {  // one byte of the cached angle table differs, as after a table change
        std::fstream file(m_path, std::ios::binary | std::ios::in | std::ios::out);
        const auto where = static_cast<std::streamoff>(TColourCache::kAngleOffset + 700000);
        file.seekg(where);
        const char byte = static_cast<char>(file.get());
        file.seekp(where);
        file.put(static_cast<char>(~byte));
    }
    TColourTables tables;
    ASSERT_TRUE(tables.Load(m_pool, m_folder.string(), Builder()));
    EXPECT_EQ(tables.FoundCache(), TColourCache::Status::kStale);
    EXPECT_EQ(m_nBuilds, 2);
    ExpectTablesWritten();
}

TEST_F(TColourCacheTest, ForeignMagicIsReplaced) {
    WriteFullFile(0x1234, 1);
    TColourCache cache;
    EXPECT_EQ(cache.Open(m_path), TColourCache::Status::kForeign);
    TColourTables tables;
    ASSERT_TRUE(tables.Load(m_pool, m_folder.string(), Builder()));
    ExpectValidCacheWritten();
}

TEST_F(TColourCacheTest, FolderThatCannotHoldTheFileBuildsNothing) {
    // A plain file where the folder should be: nothing can be created in it.
    const fs::path blocked = m_folder / "blocked";
    std::ofstream(blocked) << "x";
    TColourTables tables;
    EXPECT_FALSE(tables.Load(m_pool, blocked.string(), Builder()));
    EXPECT_EQ(m_nBuilds, 0);
    EXPECT_FALSE(tables.IsLoaded());
}

TEST_F(TColourCacheTest, UncommittedWriterLeavesNoFileBehind) {
    WriteFullFile(0x78762FCA, 1);
    {
        TColourCache::TWriter writer(m_path);
        ASSERT_TRUE(writer.IsCreated());
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(m_folder), fs::directory_iterator()), 1);
    TColourCache cache;
    EXPECT_EQ(cache.Open(m_path), TColourCache::Status::kLoaded);
}

TEST_F(TColourCacheTest, DirectoryInPlaceOfTheFileIsNotACache) {
    fs::create_directories(m_path);
    TColourCache cache;
    EXPECT_NE(cache.Open(m_path), TColourCache::Status::kLoaded);
}

}  // namespace
}  // namespace pelorn

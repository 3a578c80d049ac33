#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "engine/modules/BrenvikDLL.h"
#include "engine/modules/IIMPlugIn.h"
#include "engine/modules/ModuleExtractor.h"
#include "engine/modules/ModuleFolder.h"

namespace pelorn {
namespace {

namespace fs = std::filesystem;

// Copies of the stand-in module under the names the holders look for; the
// holders delete them again.
class ModuleHolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_folder = std::string(std::getenv("HOME")) + "/holders-" + info->name();
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
    }
    std::string Place(const char* module, const char* name) const {
        return PlaceIn(m_folder, module, name);
    }
    static std::string PlaceIn(const std::string& folder, const char* module, const char* name) {
        const std::string path = folder + "/" + name;
        fs::copy_file(module, path, fs::copy_options::overwrite_existing);
        return path;
    }

    std::string m_folder;
};

TEST_F(ModuleHolderTest, WithoutTheImageModuleEveryCallReturnsOneAndWritesNothing) {
    setenv("QUINDLE_DEBUG", "1", 1);
    ::testing::internal::CaptureStderr();
    IIMPlugIn plugIn(m_folder + "/TBeautySkin.dat");
    const std::string debug = ::testing::internal::GetCapturedStderr();
    unsetenv("QUINDLE_DEBUG");
    EXPECT_NE(debug.find("AfxLoadLibrary error"), std::string::npos);
    EXPECT_FALSE(plugIn.IsLoaded());
    EXPECT_FALSE(plugIn.HasBeauty());
    uint8_t src[12] = {}, dst[12] = {7};
    EXPECT_EQ(plugIn.RotateQuarter(src, dst, 2, 2, 6, 2, 2, 6), 1);
    EXPECT_EQ(plugIn.RotateQuarterBack(src, dst, 2, 2, 6, 2, 2, 6), 1);
    EXPECT_EQ(plugIn.Probe(nullptr, nullptr, 0, 0, 0), 1);
    EXPECT_EQ(plugIn.BeautySkin(src, dst, 2, 2, 6, 5, 5, 5), 1);
    EXPECT_EQ(dst[0], 7);
}

TEST_F(ModuleHolderTest, WithoutTheColourModuleCallsGiveTheirFixedResults) {
    BrenvikDLL module(m_folder + "/Gxrl.dat");
    EXPECT_FALSE(module.IsLoaded());
    IPixConverter* converter = nullptr;
    IPixScaler* scaler = nullptr;
    EXPECT_EQ(module.CreateConverter(&converter, nullptr), 1);
    EXPECT_EQ(module.CreateScaler(&scaler, 3, 3), 1);
    uint8_t picture[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    module.Op351(picture, 8, picture, 8, 2, 1, 255, 3);
    EXPECT_EQ(picture[0], 1);
    EXPECT_EQ(module.AlphaBlend(picture, 6, picture, 6, picture, 6, 2, 1, 1, 0, picture, 2), 0);
    EXPECT_EQ(converter, nullptr);
    EXPECT_EQ(scaler, nullptr);
}

TEST_F(ModuleHolderTest, TheDefaultHoldersLookInTheModuleFolder) {
    fs::remove(ModuleFolder() + "/" + IIMPlugIn::kFileName);
    fs::remove(ModuleFolder() + "/" + BrenvikDLL::kFileName);
    IIMPlugIn plugIn;
    BrenvikDLL module;
    EXPECT_FALSE(plugIn.IsLoaded());
    EXPECT_FALSE(module.IsLoaded());
    fs::create_directories(ModuleFolder());
    PlaceIn(ModuleFolder(), QUINDLE_TEST_MODULE, IIMPlugIn::kFileName);
    PlaceIn(ModuleFolder(), QUINDLE_TEST_MODULE, BrenvikDLL::kFileName);
    IIMPlugIn found;
    BrenvikDLL foundToo;
    EXPECT_TRUE(found.IsLoaded());
    EXPECT_TRUE(foundToo.IsLoaded());
}

TEST_F(ModuleHolderTest, TheImageModuleIsCalledAndItsFileDeletedAfterRelease) {
    const std::string path = Place(QUINDLE_TEST_MODULE, IIMPlugIn::kFileName);
    {
        IIMPlugIn plugIn(path);
        ASSERT_TRUE(plugIn.IsLoaded());
        EXPECT_TRUE(plugIn.HasBeauty());
        uint8_t src[12] = {}, dst[12] = {};
        EXPECT_EQ(plugIn.RotateQuarter(src, dst, 2, 2, 6, 2, 2, 6), 44);
        EXPECT_EQ(dst[0], 4);
        EXPECT_EQ(plugIn.RotateQuarterBack(src, dst, 2, 2, 6, 2, 2, 6), 66);
        EXPECT_EQ(dst[0], 6);
        EXPECT_EQ(plugIn.Probe(nullptr, nullptr, 0, 0, 0), 11);
        EXPECT_EQ(plugIn.BeautySkin(src, dst, 2, 2, 6, 1, 2, 3), 156);
        EXPECT_EQ(dst[0], 123);
        EXPECT_TRUE(fs::exists(path));
    }
    EXPECT_FALSE(fs::exists(path));
}

TEST_F(ModuleHolderTest, TheColourModuleIsCalledAndItsFileDeletedAfterRelease) {
    const std::string path = Place(QUINDLE_TEST_MODULE, BrenvikDLL::kFileName);
    {
        BrenvikDLL module(path);
        ASSERT_TRUE(module.IsLoaded());
        IPixConverter* converter = nullptr;
        IPixScaler* scaler = nullptr;
        EXPECT_EQ(module.CreateConverter(&converter, nullptr), 59);
        EXPECT_EQ(module.CreateScaler(&scaler, 3, 3), 66);
        uint8_t picture[8] = {};
        module.Op351(picture, 8, picture, 8, 2, 1, 255, 3);
        EXPECT_EQ(picture[0], 0x51);
        EXPECT_EQ(module.AlphaBlend(picture, 6, picture, 6, picture, 6, 2, 1, 1, 0, picture, 2), 47);
    }
    EXPECT_FALSE(fs::exists(path));
}

TEST_F(ModuleHolderTest, MissingEntryPointsGiveTheFixedResults) {
    const std::string image = Place(QUINDLE_TEST_PARTIAL_MODULE, IIMPlugIn::kFileName);
    const std::string colour = Place(QUINDLE_TEST_PARTIAL_MODULE, BrenvikDLL::kFileName);
    IIMPlugIn plugIn(image);
    ASSERT_TRUE(plugIn.IsLoaded());
    uint8_t src[12] = {}, dst[12] = {9};
    EXPECT_EQ(plugIn.RotateQuarter(src, dst, 2, 2, 6, 2, 2, 6), 44);
    dst[0] = 9;
    EXPECT_EQ(plugIn.RotateQuarterBack(src, dst, 2, 2, 6, 2, 2, 6), 1);
    EXPECT_EQ(plugIn.BeautySkin(src, dst, 2, 2, 6, 1, 1, 1), 1);
    EXPECT_EQ(dst[0], 9);
    EXPECT_FALSE(plugIn.HasBeauty());

    BrenvikDLL module(colour);
    ASSERT_TRUE(module.IsLoaded());
    IPixConverter* converter = nullptr;
    IPixScaler* scaler = nullptr;
    EXPECT_EQ(module.CreateConverter(&converter, nullptr), 1);
    EXPECT_EQ(module.CreateScaler(&scaler, 3, 3), 1);
    module.Op351(dst, 8, dst, 8, 2, 1, 255, 3);
    EXPECT_EQ(dst[0], 9);
    EXPECT_EQ(module.AlphaBlend(src, 6, src, 6, dst, 6, 2, 1, 1, 0, src, 2), 0);
}

TEST_F(ModuleHolderTest, TheFileStaysWhileAnotherHolderStillHasTheModule) {
    const std::string path = Place(QUINDLE_TEST_MODULE, IIMPlugIn::kFileName);
    auto first = std::make_unique<IIMPlugIn>(path);
    auto second = std::make_unique<IIMPlugIn>(path);
    ASSERT_TRUE(first->IsLoaded());
    ASSERT_TRUE(second->IsLoaded());
    first.reset();
    EXPECT_TRUE(fs::exists(path));
    uint8_t src[12] = {}, dst[12] = {};
    EXPECT_EQ(second->RotateQuarter(src, dst, 2, 2, 6, 2, 2, 6), 44);
    second.reset();
    EXPECT_FALSE(fs::exists(path));
}

// The modules this build ships, as the engine library extracts them.
TEST_F(ModuleHolderTest, TheShippedModulesLoadFromTheirContainer) {
    const std::string container = ModuleExtractor::InstalledContainerPath();
    if (!fs::exists(container)) GTEST_SKIP() << "no module container beside the test";
    ASSERT_EQ(ModuleExtractor::Extract(container, m_folder).entriesWritten, 2);
    {
        IIMPlugIn plugIn(m_folder + "/" + IIMPlugIn::kFileName);
        BrenvikDLL colour(m_folder + "/" + BrenvikDLL::kFileName);
        ASSERT_TRUE(plugIn.IsLoaded());
        ASSERT_TRUE(colour.IsLoaded());
        EXPECT_TRUE(plugIn.HasBeauty());
        // Two pixels side by side become two pixels one above the other.
        const uint8_t src[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        uint8_t dst[8] = {};
        EXPECT_EQ(plugIn.RotateQuarter(src, dst, 2, 1, 8, 1, 2, 4), 0);
        const bool sameOrder = std::equal(src, src + 8, dst);
        const bool swapped = std::equal(src, src + 4, dst + 4) && std::equal(src + 4, src + 8, dst);
        EXPECT_TRUE(sameOrder || swapped);

        TConverter converter;  // released before its module
        ASSERT_EQ(colour.CreateConverter(converter.Receive(), nullptr), 0);
        ASSERT_TRUE(converter);
        EXPECT_EQ(converter->Configure(kPixCodeBgra, 1, kPixCodeBgr24, 1, 2, 1, 0, 1, 255, 1), 0);
    }
    EXPECT_FALSE(fs::exists(m_folder + "/" + IIMPlugIn::kFileName));
    EXPECT_FALSE(fs::exists(m_folder + "/" + BrenvikDLL::kFileName));
}

}  // namespace
}  // namespace pelorn

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "platform/GraphicsAdapters.h"

namespace {

namespace fs = std::filesystem;

void AddCard(const fs::path& root, const std::string& name, const std::string& vendor) {
    fs::create_directories(root / name / "device");
    std::ofstream(root / name / "device" / "vendor") << vendor << "\n";
}

TEST(GraphicsAdaptersTest, FindsAnIntelCardAmongOthers) {
    std::string pattern = fs::temp_directory_path() / "drm-XXXXXX";
    const fs::path root = mkdtemp(pattern.data());
    EXPECT_FALSE(platform::HasIntelDrmDevice(root.string()));
    AddCard(root, "card0", "0x1002");
    AddCard(root, "renderD128", "0x8086");
    EXPECT_FALSE(platform::HasIntelDrmDevice(root.string()));
    AddCard(root, "card1", "0x8086");
    EXPECT_TRUE(platform::HasIntelDrmDevice(root.string()));
    EXPECT_FALSE(platform::HasIntelDrmDevice((root / "missing").string()));
    fs::remove_all(root);
}

}  // namespace

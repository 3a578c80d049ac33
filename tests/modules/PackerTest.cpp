// The module container: its format, the packer program and the container
// the build places beside the programs.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/packer/ContainerFormat.h"

namespace packer {
namespace {

using TBytes = std::vector<uint8_t>;

TBytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return TBytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t LittleEndian32(const TBytes& bytes, size_t offset) {
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
           static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

// What the extraction does: the entries back, restored.
std::vector<TBytes> Unpack(const TBytes& container) {
    std::vector<TBytes> entries;
    if (container.size() < 4) return entries;
    const uint32_t count = LittleEndian32(container, 0);
    size_t offset = 4 + 4 * static_cast<size_t>(count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t size = LittleEndian32(container, 4 + 4 * i);
        TBytes entry;
        for (uint32_t b = 0; b < size && offset < container.size(); ++b) {
            entry.push_back(ReverseBits(container[offset++]));
        }
        entries.push_back(entry);
    }
    return entries;
}

TEST(ContainerFormatTest, PacksTheTwoEntryExample) {
    std::string error;
    const TBytes container = PackContainer({{0x01, 0x02, 0x80}, {0xFF, 0xF0}}, &error);
    const TBytes expected = {0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x02,
                             0x00, 0x00, 0x00, 0x80, 0x40, 0x01, 0xFF, 0x0F};
    EXPECT_EQ(container, expected);
}

TEST(ContainerFormatTest, ReversingTwiceGivesEveryByteBack) {
    EXPECT_EQ(ReverseBits(0x01), 0x80);
    EXPECT_EQ(ReverseBits(0x0F), 0xF0);
    EXPECT_EQ(ReverseBits(0x12), 0x48);
    for (int b = 0; b < 256; ++b) ASSERT_EQ(ReverseBits(ReverseBits(static_cast<uint8_t>(b))), b);
}

TEST(ContainerFormatTest, RefusesMoreEntriesThanTheReaderHolds) {
    std::string error;
    EXPECT_EQ(PackContainer(std::vector<TBytes>(kMaxEntries), &error).size(), 4 + 4 * kMaxEntries);
    EXPECT_TRUE(PackContainer(std::vector<TBytes>(kMaxEntries + 1), &error).empty());
    EXPECT_NE(error.find("130"), std::string::npos);
}

// Entry 0 is the colour-conversion module, entry 1 the image plug-in, each
// restored byte for byte.
TEST(BuiltContainerTest, HoldsBothModulesInOrder) {
    const std::vector<TBytes> entries = Unpack(ReadAll(VEXAR_CONTAINER_PATH));
    ASSERT_EQ(entries.size(), 2u);
    const TBytes gxrl = ReadAll(GXRL_MODULE_PATH);
    const TBytes beauty = ReadAll(BEAUTY_MODULE_PATH);
    ASSERT_FALSE(gxrl.empty());
    ASSERT_FALSE(beauty.empty());
    EXPECT_TRUE(entries[0] == gxrl);
    EXPECT_TRUE(entries[1] == beauty);
}

TEST(BuiltContainerTest, ACopyIsPlacedInAnotherOutputFolder) {
    EXPECT_TRUE(ReadAll(PLACED_CONTAINER_PATH) == ReadAll(VEXAR_CONTAINER_PATH));
}

class PackerProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("vexar-pack-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string Path(const std::string& name) const { return (m_dir / name).string(); }

    void Write(const std::string& name, const TBytes& bytes) const {
        std::ofstream out(Path(name), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }

    static int Run(const std::string& arguments) {
        const std::string command =
            std::string("'") + PACKER_PATH + "' " + arguments + " 2>/dev/null";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::filesystem::path m_dir;
};

TEST_F(PackerProgramTest, WritesTheContainerOfTheGivenFiles) {
    Write("a", {0x01, 0x02, 0x80});
    Write("b", {0xFF, 0xF0});
    ASSERT_EQ(Run(Path("out.dll") + " " + Path("a") + " " + Path("b")), 0);
    EXPECT_EQ(ReadAll(Path("out.dll")),
              (TBytes{0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x80,
                      0x40, 0x01, 0xFF, 0x0F}));
}

TEST_F(PackerProgramTest, FailsWithoutOutputForAMissingEntry) {
    Write("a", {0x01});
    EXPECT_EQ(Run(Path("out.dll") + " " + Path("a") + " " + Path("missing")), 1);
    EXPECT_FALSE(std::filesystem::exists(Path("out.dll")));
}

TEST_F(PackerProgramTest, FailsWhenTheOutputCannotBeWritten) {
    Write("a", {0x01});
    EXPECT_EQ(Run(Path("no/such/folder/out.dll") + " " + Path("a")), 1);
    EXPECT_EQ(Run(""), 2);
}

}  // namespace
}  // namespace packer

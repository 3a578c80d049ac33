#include "engine/modules/ModuleExtractor.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "engine/modules/ModuleFolder.h"
#include "platform/ExecutablePath.h"

namespace pelorn {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

uint8_t ReverseByte(uint8_t b) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i) r |= ((b >> i) & 1) << (7 - i);
    return r;
}

Bytes Reversed(Bytes bytes) {
    for (uint8_t& b : bytes) b = ReverseByte(b);
    return bytes;
}

void PutLittleEndian(Bytes& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A container whose header claims `count` entries of `sizes`, followed by
// `data` as stored.
Bytes Container(uint32_t count, const std::vector<uint32_t>& sizes, const Bytes& data) {
    Bytes out;
    PutLittleEndian(out, count);
    for (uint32_t size : sizes) PutLittleEndian(out, size);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes RandomBytes(size_t count, unsigned seed) {
    std::mt19937 random(seed);
    Bytes bytes(count);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

class ModuleExtractorTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_root = std::string(std::getenv("HOME")) + "/extract-" + info->name();
        fs::remove_all(m_root);
        fs::create_directories(m_root);
        m_container = m_root + "/VexarRes.dll";
        m_folder = m_root + "/Raxev";
    }

    void WriteContainer(const Bytes& bytes) const {
        std::ofstream out(m_container, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    Bytes Output(const char* name) const {
        std::ifstream in(m_folder + "/" + name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    bool OutputExists(const char* name) const { return fs::exists(m_folder + "/" + name); }
    ModuleExtractor::TResult Extract() const { return ModuleExtractor::Extract(m_container, m_folder); }
    // Nothing but the two outputs: no temporary file is left behind.
    size_t FilesInFolder() const {
        return static_cast<size_t>(std::distance(fs::directory_iterator(m_folder), fs::directory_iterator()));
    }

    std::string m_root;
    std::string m_container;
    std::string m_folder;
};

TEST(ReverseBitsTest, MatchesTheBitByBitDefinitionAtEveryLength) {
    for (size_t length : {size_t{0}, size_t{1}, size_t{7}, size_t{8}, size_t{15}, size_t{16},
                          size_t{33}, size_t{1000}}) {
        Bytes bytes = RandomBytes(length, static_cast<unsigned>(length));
        const Bytes expected = Reversed(bytes);
        ModuleExtractor::ReverseBits(bytes.data(), bytes.size());
        EXPECT_EQ(bytes, expected) << length;
    }
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
    ModuleExtractor::ReverseBits(all.data() + 1, 255);  // unaligned start
    EXPECT_EQ(all[1], 0x80);
    EXPECT_EQ(all[0x0F], 0xF0);
    ModuleExtractor::ReverseBits(all.data() + 1, 255);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(all[i], i);
}

TEST_F(ModuleExtractorTest, TheSmallContainerGivesBothModules) {
    WriteContainer(Container(2, {3, 2}, {0x80, 0x40, 0x01, 0xFF, 0x0F}));
    const ModuleExtractor::TResult result = Extract();
    EXPECT_TRUE(result.containerOpened);
    EXPECT_EQ(result.entriesWritten, 2);
    EXPECT_EQ(Output("Gxrl.dat"), (Bytes{0x01, 0x02, 0x80}));
    EXPECT_EQ(Output("TBeautySkin.dat"), (Bytes{0xFF, 0xF0}));
    EXPECT_EQ(FilesInFolder(), 2u);
}

TEST_F(ModuleExtractorTest, AnEntryLargerThanOneChunkIsCopiedWhole) {
    const Bytes first = RandomBytes(ModuleExtractor::kChunkBytes * 2 + 12345, 1);
    const Bytes second = RandomBytes(ModuleExtractor::kChunkBytes, 2);
    Bytes data = Reversed(first);
    const Bytes storedSecond = Reversed(second);
    data.insert(data.end(), storedSecond.begin(), storedSecond.end());
    WriteContainer(Container(2, {static_cast<uint32_t>(first.size()), static_cast<uint32_t>(second.size())}, data));
    Extract();
    EXPECT_EQ(Output("Gxrl.dat"), first);
    EXPECT_EQ(Output("TBeautySkin.dat"), second);
}

TEST_F(ModuleExtractorTest, ExtractingAgainOverwritesBothFiles) {
    WriteContainer(Container(2, {4, 4}, Reversed({1, 2, 3, 4, 5, 6, 7, 8})));
    Extract();
    WriteContainer(Container(2, {1, 2}, Reversed({9, 10, 11})));
    Extract();
    EXPECT_EQ(Output("Gxrl.dat"), (Bytes{9}));
    EXPECT_EQ(Output("TBeautySkin.dat"), (Bytes{10, 11}));
    EXPECT_EQ(FilesInFolder(), 2u);
}

TEST_F(ModuleExtractorTest, ATruncatedContainerWritesWhatItHas) {
    // The second entry claims 100 bytes, 3 are there.
    WriteContainer(Container(2, {2, 100}, Reversed({1, 2, 3, 4, 5})));
    const ModuleExtractor::TResult result = Extract();
    EXPECT_EQ(result.entriesWritten, 2);
    EXPECT_EQ(Output("Gxrl.dat"), (Bytes{1, 2}));
    EXPECT_EQ(Output("TBeautySkin.dat"), (Bytes{3, 4, 5}));

    // The first entry already runs past the end: it keeps what exists and the
    // second, which starts beyond the end, comes out empty.
    WriteContainer(Container(2, {10, 4}, Reversed({7, 8, 9})));
    Extract();
    EXPECT_EQ(Output("Gxrl.dat"), (Bytes{7, 8, 9}));
    EXPECT_TRUE(OutputExists("TBeautySkin.dat"));
    EXPECT_TRUE(Output("TBeautySkin.dat").empty());
}

TEST_F(ModuleExtractorTest, AHeaderCutShortWritesNothingItCannotPlace) {
    Bytes bytes;
    PutLittleEndian(bytes, 2);
    bytes.push_back(3);  // not even one whole size
    WriteContainer(bytes);
    const ModuleExtractor::TResult result = Extract();
    EXPECT_TRUE(result.containerOpened);
    EXPECT_EQ(result.entriesWritten, 0);
    EXPECT_FALSE(OutputExists("Gxrl.dat"));
}

TEST_F(ModuleExtractorTest, ACountBeyondTheHeaderAreaReadsOnlyItsSizes) {
    // 1000 entries claimed: only 130 sizes are read, but the data still
    // starts after all 1000 of them.
    std::vector<uint32_t> sizes(1000, 0);
    sizes[0] = 2;
    sizes[1] = 1;
    WriteContainer(Container(1000, sizes, Reversed({0x11, 0x22, 0x33})));
    const ModuleExtractor::TResult result = Extract();
    EXPECT_EQ(result.entriesWritten, 2);
    EXPECT_EQ(Output("Gxrl.dat"), (Bytes{0x11, 0x22}));
    EXPECT_EQ(Output("TBeautySkin.dat"), (Bytes{0x33}));
}

TEST_F(ModuleExtractorTest, All130EntriesAreReadAndOnlyTheFirstTwoWritten) {
    std::vector<uint32_t> sizes(ModuleExtractor::kMaxEntries, 1);
    Bytes data(ModuleExtractor::kMaxEntries);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i + 1);
    WriteContainer(Container(ModuleExtractor::kMaxEntries, sizes, Reversed(data)));
    const ModuleExtractor::TResult result = Extract();
    EXPECT_EQ(result.entriesWritten, 2);
    EXPECT_EQ(Output("Gxrl.dat"), (Bytes{1}));
    EXPECT_EQ(Output("TBeautySkin.dat"), (Bytes{2}));
    EXPECT_EQ(FilesInFolder(), 2u);
}

TEST_F(ModuleExtractorTest, AnEntryThatCannotBeWrittenIsPassedOver) {
    // A folder stands where the first module should go, so it cannot be
    // replaced; the second entry is still read from its own place.
    fs::create_directories(m_folder + "/Gxrl.dat");
    WriteContainer(Container(2, {3, 2}, {0x80, 0x40, 0x01, 0xFF, 0x0F}));
    const ModuleExtractor::TResult result = Extract();
    EXPECT_EQ(result.entriesWritten, 1);
    EXPECT_TRUE(fs::is_directory(m_folder + "/Gxrl.dat"));
    EXPECT_EQ(Output("TBeautySkin.dat"), (Bytes{0xFF, 0xF0}));
    EXPECT_EQ(FilesInFolder(), 2u);  // the folder and the module, no leftovers
}

TEST_F(ModuleExtractorTest, AMissingContainerStillMakesTheFolderAndWritesNothing) {
    const ModuleExtractor::TResult result = Extract();
    EXPECT_FALSE(result.containerOpened);
    EXPECT_TRUE(fs::is_directory(m_folder));
    EXPECT_EQ(FilesInFolder(), 0u);
}

TEST_F(ModuleExtractorTest, AModuleInUseKeepsItsImageWhenReplaced) {
    WriteContainer(Container(2, {3, 2}, Reversed({1, 2, 3, 4, 5})));
    Extract();
    // An open descriptor stands for the mapping of a loaded module.
    std::ifstream held(m_folder + "/Gxrl.dat", std::ios::binary);
    WriteContainer(Container(2, {3, 2}, Reversed({9, 9, 9, 4, 5})));
    Extract();
    const Bytes old{std::istreambuf_iterator<char>(held), std::istreambuf_iterator<char>()};
    EXPECT_EQ(old, (Bytes{1, 2, 3}));
    EXPECT_EQ(Output("Gxrl.dat"), (Bytes{9, 9, 9}));
}

TEST(ModuleExtractorPathsTest, TheContainerLiesBesideTheProgram) {
    EXPECT_EQ(ModuleExtractor::InstalledContainerPath(), platform::ExecutableFolder() + "/VexarRes.dll");
    EXPECT_EQ(ModuleFolder(), std::string(std::getenv("XDG_DATA_HOME")) + "/Raxev");
}

}  // namespace
}  // namespace pelorn

#include "console/services/TRtLog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/KnownFolders.h"

namespace console {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class TRtLogTest : public ::testing::Test {
protected:
    void SetUp() override { fs::remove_all(platform::LogFolder()); }

    // Destroying the log stops its writer, which writes what is queued.
    void WriteAndClose(int enabled, int latestOnly, std::initializer_list<std::string> lines) {
        common::IRtLog* log = CreateInstance_IRtLog();
        log->Configure(enabled, latestOnly);
        for (const std::string& line : lines) log->Write(line.c_str());
        ReleaseInstance_IRtLog(&log);
        EXPECT_EQ(log, nullptr);
    }

    static std::string OnlyLogFile() {
        std::string found;
        for (const auto& entry : fs::directory_iterator(platform::LogFolder())) {
            EXPECT_TRUE(found.empty()) << "more than one log file";
            found = entry.path().string();
        }
        return found;
    }
};

TEST_F(TRtLogTest, DisabledLogCreatesNoFile) {
    WriteAndClose(0, 1, {"CreateInstance_ICapMattEngine finished\n"});
    EXPECT_FALSE(fs::exists(platform::LogFolder()) && !fs::is_empty(platform::LogFolder()));
}

TEST_F(TRtLogTest, ThreeLinesAreWrittenInOrderWithCrLf) {
    WriteAndClose(1, 0, {"one\n", "two\n", "三\n"});
    const std::string file = OnlyLogFile();
    EXPECT_EQ(ReadAll(file), "one\r\ntwo\r\n三\r\n");
    const std::string name = fs::path(file).filename().string();
    EXPECT_EQ(name.rfind("QndlLog_", 0), 0u) << name;
    EXPECT_EQ(name.substr(name.size() - 4), ".txt");
    // "QndlLog_" then five dot-separated numbers.
    EXPECT_EQ(std::count(name.begin(), name.end(), '.'), 5);
}

TEST_F(TRtLogTest, LongLineIsCutTo63Characters) {
    WriteAndClose(1, 0, {std::string(100, 'x')});
    EXPECT_EQ(ReadAll(OnlyLogFile()), std::string(63, 'x'));
}

TEST_F(TRtLogTest, CutCountsWideCharactersNotBytes) {
    std::string line;
    for (int i = 0; i < 70; ++i) line += "蒙";
    WriteAndClose(1, 0, {line});
    std::string expected;
    for (int i = 0; i < 63; ++i) expected += "蒙";
    EXPECT_EQ(ReadAll(OnlyLogFile()), expected);
}

TEST_F(TRtLogTest, UnwritableFolderEndsTheWriterSilently) {
    // A file where the folder should be: the log cannot be created.
    fs::create_directories(fs::path(platform::LogFolder()).parent_path());
    std::ofstream(platform::LogFolder()) << "in the way";
    WriteAndClose(1, 0, {"lost\n", "also lost\n"});
    EXPECT_TRUE(fs::is_regular_file(platform::LogFolder()));
    fs::remove(platform::LogFolder());
}

}  // namespace
}  // namespace console

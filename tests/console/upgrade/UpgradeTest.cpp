// The upgrade services against a scripted peer on 127.0.0.1: the package
// record, answers that are no answer, stalls, foreign schemes, and starting a
// downloaded package from a hostile folder name.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "console/services/Download.h"
#include "console/services/PackageLauncher.h"
#include "console/services/UpgradeService.h"
#include "tests/ChildProcess.h"
#include "tests/console/upgrade/ScriptedHttpServer.h"

namespace {

namespace fs = std::filesystem;
using console::UpgradePackageRecord;
using upgradetest::Answer;
using upgradetest::TScriptedHttpServer;

// A fresh folder under the test's own HOME.
fs::path MakeFolder(const std::string& name) {
    const fs::path folder = fs::path(std::getenv("HOME")) / name;
    fs::create_directories(folder);
    return folder;
}

UpgradePackageRecord Record(uint8_t scheme, const std::string& address) {
    UpgradePackageRecord record{};
    record.scheme = scheme;
    std::memcpy(record.address, address.data(), std::min(address.size(), sizeof record.address));
    return record;
}

struct TRecordCase {
    const char* name;
    uint8_t scheme;
    std::string address;  // up to 63 bytes; shorter ones are zero-terminated
    std::optional<std::string> url;
};

class PackageUrlTest : public testing::TestWithParam<TRecordCase> {};

TEST_P(PackageUrlTest, SchemeAndAddressOrNothing) {
    EXPECT_EQ(console::PackageUrl(Record(GetParam().scheme, GetParam().address)), GetParam().url);
}

INSTANTIATE_TEST_SUITE_P(
    Records, PackageUrlTest,
    testing::Values(TRecordCase{"Http", 0, "h.example/a/QndlSetup.exe", "http://h.example/a/QndlSetup.exe"},
                    TRecordCase{"Https", 1, "h.example/p", "https://h.example/p"},
                    TRecordCase{"AnyOtherIsFtp", 7, "h.example/p", "ftp://h.example/p"},
                    TRecordCase{"ControlByte", 0, "h.example/\x01", std::nullopt},
                    TRecordCase{"NotAscii", 0, "h.example/\xc3\xa9", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

struct TNoAnswerCase {
    const char* name;
    upgradetest::TReply reply;
};

class InfoNoAnswerTest : public testing::TestWithParam<TNoAnswerCase> {};

TEST_P(InfoNoAnswerTest, IsNoAnswer) {
    TScriptedHttpServer server;
    server.Serve("/info", GetParam().reply);
    console::TUpgradeServiceOptions options;
    options.limits.totalTimeout_ms = 300;  // the stalling peer
    EXPECT_FALSE(console::TUpgradeService(server.Url(), options).QueryInfo());
    EXPECT_EQ(server.Requests(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, InfoNoAnswerTest,
    testing::Values(TNoAnswerCase{"NotFound", Answer(404, "12345678")},
                    TNoAnswerCase{"Shorter", Answer(200, "1234567")},
                    TNoAnswerCase{"Longer", Answer(200, "123456789")},
                    TNoAnswerCase{"Stalled", upgradetest::Short(8, "1234", true)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DownloadTest, StalledTransferFailsAtTheSpeedLimit) {
    TScriptedHttpServer server;
    server.Serve("/p", upgradetest::Short(100000, "p", true));
    const fs::path target = MakeFolder("stall") / "QndlSetup.exe";
    console::TDownloadOptions options;
    options.limits.lowSpeedTime_s = 1;
    EXPECT_FALSE(console::Download({}, server.Url("/p"), target, options));
    EXPECT_FALSE(fs::exists(target));
    EXPECT_FALSE(fs::exists(console::PartialPath(target)));
}

TEST(DownloadTest, OtherSchemesFailWithoutTouchingAnything) {
    TScriptedHttpServer server;
    const fs::path target = MakeFolder("ftp") / "QndlSetup.exe";
    const std::string url = "ftp://127.0.0.1:" + std::to_string(server.Port()) + "/p";
    EXPECT_FALSE(console::Download({}, url, target));
    EXPECT_EQ(server.Requests(), 0);
    EXPECT_FALSE(fs::exists(console::PartialPath(target)));
}

TEST(DownloadTest, RedirectsStayWithinHttpAndHttps) {
    TScriptedHttpServer server;
    const auto redirect = [](const std::string& location) {
        return upgradetest::TReply{"HTTP/1.1 302 Found\r\nLocation: " + location + "\r\nContent-Length: 0\r\n\r\n"};
    };
    server.Serve("/moved", redirect(server.Url("/p")));
    server.Serve("/to-ftp", redirect("ftp://127.0.0.1:" + std::to_string(server.Port()) + "/p"));
    server.Serve("/p", Answer(200, "package"));
    const fs::path target = MakeFolder("redirect") / "QndlSetup.exe";

    EXPECT_FALSE(console::Download({}, server.Url("/to-ftp"), target));
    EXPECT_FALSE(fs::exists(console::PartialPath(target)));
    ASSERT_TRUE(console::Download({}, server.Url("/moved"), target));
    EXPECT_EQ(testsupport::ReadWholeFile(target.string()), "package");
}

// The target's folder is missing (the ".part" cannot be made), or the target
// is a folder with content (the ".part" cannot replace it).
TEST(DownloadTest, UnwritableTargetFails) {
    TScriptedHttpServer server;
    server.Serve("/p", Answer(200, "package"));
    const fs::path folder = MakeFolder("unwritable");
    std::ofstream((MakeFolder("unwritable/QndlSetup.exe") / "keep").string()) << "kept";
    for (const fs::path& target : {folder / "missing" / "QndlSetup.exe", folder / "QndlSetup.exe"}) {
        EXPECT_FALSE(console::Download({}, server.Url("/p"), target)) << target;
        EXPECT_FALSE(fs::exists(console::PartialPath(target))) << target;
    }
    EXPECT_EQ(testsupport::ReadWholeFile((folder / "QndlSetup.exe" / "keep").string()), "kept");
}

TEST(PackageLauncherTest, RunsTheDownloadedPackageAndNothingElse) {
    const fs::path home = MakeFolder("launch");
    const fs::path folder = MakeFolder("launch/a b'\"$(touch x);c");
    const fs::path marker = home / "marker";
    TScriptedHttpServer server;
    server.Serve("/QndlSetup.exe", Answer(200, "#!/bin/sh\necho ran > '" + marker.string() + "'\n"));
    const fs::path package = folder / console::kPackageFileName;
    ASSERT_TRUE(console::Download({}, server.Url("/QndlSetup.exe"), package));

    ASSERT_TRUE(console::StartPackage(package));

    ASSERT_TRUE(testsupport::WaitFor([&] { return testsupport::ReadWholeFile(marker) == "ran\n"; }));
    // A spliced-in path would have run `touch x` before the package.
    for (const fs::path& place : {fs::current_path(), home, folder}) EXPECT_FALSE(fs::exists(place / "x"));
    EXPECT_EQ(fs::status(package).permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST(PackageLauncherTest, ReportsWhatCannotStart) {
    const fs::path folder = MakeFolder("unstartable");
    EXPECT_FALSE(console::StartPackage(folder / "QndlSetup.exe"));  // no package
    std::ofstream(folder / "QndlSetup.exe") << "#!/bin/sh\n";
    setenv("SHELL", (folder / "no-shell").c_str(), 1);
    EXPECT_FALSE(console::StartPackage(folder / "QndlSetup.exe"));
}

TEST(PackageLauncherTest, LeftoversAreRemoved) {
    const fs::path folder = MakeFolder("leftovers");
    for (const char* name : {"QndlSetup.exe", "QndlSetup.exe.part", "Upvane.exe", "Corvane"})
        std::ofstream(folder / name) << "old";
    console::RemoveUpgradeLeftovers(folder);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    EXPECT_TRUE(fs::exists(folder / "Corvane"));
}

}  // namespace

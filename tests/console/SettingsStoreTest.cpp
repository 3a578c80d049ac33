#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>

#include <sqlite3.h>

#include "console/services/SettingsStore.h"
#include "platform/Registry.h"

namespace console {
namespace {

namespace fs = std::filesystem;
using platform::RegAccess;
using platform::RegHive;
using platform::TRegKey;

// Each test gets its own HOME and configuration folder.
class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "settings-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        setenv("HOME", m_dir.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (m_dir + "/config").c_str(), 1);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    static TRegKey Key(const std::string& subkey) {
        TRegKey key;
        EXPECT_EQ(key.Create(RegHive::LocalMachine, "SOFTWARE\\Quindle\\" + subkey, RegAccess::All),
                  platform::kRegOk);
        return key;
    }

    static TCapLayout Blank() {
        TCapLayout layout{};
        for (TCapLayer& layer : layout.layers) layer.Id = TCapLayer::kUnused;
        layout.MaxWidth = 1920;
        layout.MaxHeight = 1080;
        return layout;
    }

    std::string m_dir;
};

TEST_F(SettingsStoreTest, AFreshStoreReadsTheDefaults) {
    int16_t w, h, fps, fmt, align, rate, gop;
    uint16_t ext;
    EXPECT_EQ(ReadClient(&w, &h, &fps, &fmt), 1);
    EXPECT_EQ((std::array{w, h, fps, fmt}), (std::array<int16_t, 4>{1280, 720, 30, 1}));
    EXPECT_EQ(ReadRecord(&align, &rate, &gop, &ext), 1);
    EXPECT_EQ((std::array{align, rate, gop}), (std::array<int16_t, 3>{0, 2, 100}));
    EXPECT_EQ(ext, 1);
    char16_t addr[kRtmpTargets][kRtmpAddrUnits] = {{u'x'}}, name[kRtmpTargets][kRtmpNameUnits];
    EXPECT_EQ(ReadRtmp(&rate, addr, name), 1);
    EXPECT_EQ(rate, 2);
    EXPECT_EQ(addr[0][0], u'\0');
}

TEST_F(SettingsStoreTest, ValuesRoundTripAsSixteenBitNumbers) {
    ASSERT_TRUE(WriteClient(640, 360, -5, 28));
    ASSERT_TRUE(WriteRecord(-40, 9, 50, 0xFFFF));
    Key("Client").SetDword("Width", 0x12345);
    int16_t w, h, fps, fmt, align, rate, gop;
    uint16_t ext;
    ReadClient(&w, &h, &fps, &fmt);
    EXPECT_EQ((std::array{w, h, fps, fmt}), (std::array<int16_t, 4>{0x2345, 360, -1, 28}));
    ReadRecord(&align, &rate, &gop, &ext);
    EXPECT_EQ((std::array{align, rate, gop}), (std::array<int16_t, 3>{-40, 2, 50}));
    EXPECT_EQ(ext, 0xFFFF);
    uint32_t raw = 0;
    Key("Record").QueryDword("VAAlign", &raw);
    EXPECT_EQ(raw, 0xFFFFFFD8u);  // sign-extended
}

struct StringCase {
    size_t units;  // of the stored text, CJK so that units and bytes differ
    bool fits;
};
class RtmpStringTest : public SettingsStoreTest,
                       public ::testing::WithParamInterface<StringCase> {};

TEST_P(RtmpStringTest, AStringMustFitWithItsTerminator) {
    const std::u16string text(GetParam().units, u'推');
    const std::u16string_view name(text.data(), std::min(text.size(), kRtmpNameUnits));
    const std::u16string_view addrs[] = {text, u"rtmp://b", u""}, names[] = {name, u"", u""};
    ASSERT_TRUE(WriteRtmp(3, addrs, names));
    char16_t addr[kRtmpTargets][kRtmpAddrUnits], got[kRtmpTargets][kRtmpNameUnits];
    int16_t rate = 0;
    ReadRtmp(&rate, addr, got);
    EXPECT_EQ(rate, 3);
    const bool nameFits = name.size() < kRtmpNameUnits;
    EXPECT_EQ(std::u16string(got[0]), nameFits ? std::u16string(name) : u"");
    EXPECT_EQ(std::u16string(addr[0]), GetParam().fits && nameFits ? text : u"");
    EXPECT_EQ(std::u16string(addr[1]), u"rtmp://b");
    char16_t buffer[kRtmpAddrUnits] = u"untouched";
    EXPECT_EQ(ReadString(buffer, sizeof buffer, "Addr1", "RTMP"), GetParam().fits ? 1 : 0);
    EXPECT_EQ(std::u16string(buffer), GetParam().fits ? text : u"untouched");
}
INSTANTIATE_TEST_SUITE_P(Lengths, RtmpStringTest,
                         ::testing::Values(StringCase{31, true}, StringCase{32, true},
                                           StringCase{259, true}, StringCase{260, false}));

TEST_F(SettingsStoreTest, AnAddressWithoutItsNameReadsEmpty) {
    Key("RTMP").SetString("Addr2", "rtmp://127.0.0.1/live");
    char16_t addr[kRtmpTargets][kRtmpAddrUnits];
    int16_t rate;
    ReadRtmp(&rate, addr, nullptr);
    EXPECT_EQ(addr[1][0], u'\0');
}

TEST_F(SettingsStoreTest, BuiltInTemplatesAreComputedFromTheCanvas) {
    TCapLayout full = Blank(), twin = Blank();
    ASSERT_EQ(LoadTemplate(&full, 0, true), 1);
    ASSERT_EQ(LoadTemplate(&twin, 1, true), 1);
    EXPECT_EQ(std::u16string(full.Name), u"全屏");
    EXPECT_EQ(std::u16string(twin.Name), u"双视窗");
    EXPECT_EQ(full.layers[1].Position[2].x, 1919);
    EXPECT_EQ(full.layers[1].Position[2].y, 1079);
    EXPECT_EQ(twin.layers[0].Flag, 5);
    EXPECT_EQ(twin.layers[1].Position[0].x, 960);
    EXPECT_EQ(twin.layers[1].Position[0].y, 270);
    EXPECT_EQ(twin.layers[1].Position[2].x, 1919);
    EXPECT_EQ(twin.layers[1].Position[2].y, 809);
    EXPECT_EQ(SaveTemplate(full, 0), 1);
    TRegKey key;
    EXPECT_NE(key.Open(RegHive::LocalMachine, "SOFTWARE\\Quindle\\LayerTemplates", RegAccess::Read),
              platform::kRegOk);
}

TEST_F(SettingsStoreTest, ASavedTemplateIsStoredOnTheFullHdCanvas) {
    TCapLayout layout = DefaultTemplate(2);
    EXPECT_EQ(std::u16string(layout.Name), u"自定义3");
    EXPECT_EQ(layout.layers[0].Position[2].x, 1060);
    EXPECT_EQ(layout.layers[0].Position[2].y, 640);
    layout.MaxWidth = 1280;
    layout.MaxHeight = 720;
    layout.layers[1].Position[2] = {1279, 719};
    ASSERT_EQ(SaveTemplate(layout, 3), 1);
    TCapLayout loaded = Blank();
    ASSERT_EQ(LoadTemplate(&loaded, 3, true), 1);
    EXPECT_EQ(loaded.MaxWidth, 1920);
    EXPECT_EQ(loaded.layers[1].Position[2].x, 1919);
    EXPECT_EQ(loaded.layers[1].Position[2].y, 1079);
    EXPECT_EQ(loaded.layers[0].Flag, 7);
}

TEST_F(SettingsStoreTest, ANameOfNineUnitsLoadsAndOfTenFails) {
    ASSERT_EQ(SaveTemplate(DefaultTemplate(4), 4), 1);
    TCapLayout loaded = Blank();
    ASSERT_EQ(RenameTemplate(u"一二三四五六七八九", 4), 1);
    EXPECT_EQ(LoadTemplate(&loaded, 4, true), 1);
    EXPECT_EQ(std::u16string(loaded.Name), u"一二三四五六七八九");
    ASSERT_EQ(RenameTemplate(u"一二三四五六七八九十", 4), 1);
    loaded.LayerCnt = 77;
    EXPECT_EQ(LoadTemplate(&loaded, 4, true), 0);
    EXPECT_EQ(loaded.LayerCnt, 77);  // untouched on failure
}

TEST_F(SettingsStoreTest, AnUnwritableHiveFailsWritesAndReadsDefaults) {
    std::ofstream(m_dir + "/config") << "a file where the folder belongs";
    const std::u16string_view three[] = {u"a", u"b", u"c"};
    EXPECT_FALSE(WriteClient(640, 360, 25, 1));
    EXPECT_FALSE(WriteRecord(0, 1, 50, 2));
    EXPECT_FALSE(WriteRtmp(1, three, three));
    EXPECT_NE(WriteString(u"x", "EXE", ""), 0);
    EXPECT_EQ(SaveTemplate(DefaultTemplate(2), 2), 0);
    int16_t w, h, fps, fmt;
    ReadClient(&w, &h, &fps, &fmt);
    EXPECT_EQ(w, 1280);
}

// A hive that refuses one value name, whatever the key.
void RefuseValue(const std::string& valueName) {
    ASSERT_EQ(WriteString(u"x", "EXE", ""), 0);  // the hive exists from here on
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(platform::RegistryHiveFile(RegHive::LocalMachine).c_str(), &db), SQLITE_OK);
    const std::string sql = "CREATE TRIGGER refuse BEFORE INSERT ON vals WHEN NEW.name = '" + valueName +
                            "' BEGIN SELECT RAISE(ABORT, 'refused'); END;";
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

struct PartialWriteCase {
    const char* refused;
    std::function<bool()> write;
    const char* subkey;
    const char* keptValue;  // written after the refused one
};

class PartialWriteTest : public SettingsStoreTest, public ::testing::WithParamInterface<PartialWriteCase> {};

// One refused value fails the whole call; the others are written.
TEST_P(PartialWriteTest, OneFailedValueFailsTheCall) {
    RefuseValue(GetParam().refused);
    EXPECT_FALSE(GetParam().write());
    TRegKey key;
    ASSERT_EQ(key.Open(RegHive::LocalMachine, std::string("SOFTWARE\\Quindle\\") + GetParam().subkey,
                       RegAccess::Read),
              platform::kRegOk);
    platform::RegType type{};
    EXPECT_EQ(key.QueryType(GetParam().keptValue, &type), platform::kRegOk);
    EXPECT_NE(key.QueryType(GetParam().refused, &type), platform::kRegOk);
}

const std::u16string_view kThree[] = {u"rtmp://a", u"rtmp://b", u"rtmp://c"};
INSTANTIATE_TEST_SUITE_P(
    Groups, PartialWriteTest,
    ::testing::Values(PartialWriteCase{"Height", [] { return WriteClient(640, 360, 25, 1); }, "Client", "Pixelfmt"},
                      PartialWriteCase{"BytesRate", [] { return WriteRecord(0, 3, 50, 2); }, "Record", "FileExt"},
                      PartialWriteCase{"Addr2", [] { return WriteRtmp(1, kThree, kThree); }, "RTMP", "Name3"}));

TEST_F(SettingsStoreTest, ARecordThatCannotBeStoredIsRefused) {
    TCapLayout layout = DefaultTemplate(2);
    layout.LayerCnt = 11;
    EXPECT_EQ(SaveTemplate(layout, 2), 0);
    layout = DefaultTemplate(2);
    layout.MaxWidth = 1;
    EXPECT_EQ(SaveTemplate(layout, 2), 0);
    layout = DefaultTemplate(2);  // corners near the ends of int32 saturate
    layout.MaxWidth = 2;
    layout.layers[0].Position[2] = {INT32_MAX, INT32_MIN};
    ASSERT_EQ(SaveTemplate(layout, 2), 1);
    TCapLayout loaded = Blank();
    ASSERT_EQ(LoadTemplate(&loaded, 2, true), 1);
    EXPECT_EQ(loaded.layers[0].Position[2].x, INT32_MAX);
}

// A load either fails or gives a layout the engine can use.
void ExpectZeroOrValid(int n) {
    TCapLayout layout{};
    layout.MaxWidth = 1920;
    layout.MaxHeight = 1080;
    if (LoadTemplate(&layout, n, true) == 0)
        return;
    EXPECT_GE(layout.LayerCnt, 0);
    EXPECT_LE(layout.LayerCnt, TCapLayout::kMaxLayers);
    EXPECT_GE(layout.MaxWidth, 2);
    EXPECT_GE(layout.MaxHeight, 2);
    EXPECT_EQ(layout.Name[9], u'\0');
}

struct Damage {
    const char* what;
    const char* subkey;  // under Template5
    std::function<void(TRegKey&)> apply;
};
class DamagedTemplateTest : public SettingsStoreTest,
                            public ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedTemplateTest, FailsToLoad) {
    ASSERT_EQ(SaveTemplate(DefaultTemplate(5), 5), 1);
    TRegKey key = Key(std::string("LayerTemplates\\Template5") + GetParam().subkey);
    GetParam().apply(key);
    TCapLayout layout = Blank();
    EXPECT_EQ(LoadTemplate(&layout, 5, true), 0);
}

std::function<void(TRegKey&)> SetDword(const char* name, uint32_t value) {
    return [=](TRegKey& key) { key.SetDword(name, value); };
}
std::function<void(TRegKey&)> SetPosition(size_t bytes) {
    return [=](TRegKey& key) { key.SetBinary("Position", std::string(bytes, '\1').data(), bytes); };
}

INSTANTIATE_TEST_SUITE_P(
    Store, DamagedTemplateTest,
    ::testing::Values(Damage{"LayerCntBeyondTen", "", SetDword("LayerCnt", 11)},
                      Damage{"LayerCntNegative", "", SetDword("LayerCnt", 0xFFFFFFFF)},
                      Damage{"MaxWidthZero", "", SetDword("MaxWidth", 0)},
                      Damage{"MaxHeightOne", "", SetDword("MaxHeight", 1)},
                      Damage{"StringForDword", "", [](TRegKey& k) { k.SetString("BuildIn", "1"); }},
                      Damage{"DwordForName", "", SetDword("Name", 1)},
                      Damage{"IdMissing", "\\Layer1", [](TRegKey& k) { k.DeleteValue("Id"); }},
                      Damage{"Position0", "\\Layer0", SetPosition(0)},
                      Damage{"Position31", "\\Layer0", SetPosition(31)},
                      Damage{"Position33", "\\Layer1", SetPosition(33)},
                      Damage{"Position64", "\\Layer1", SetPosition(64)}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(SettingsStoreTest, AHiveThatIsNoDatabaseLoadsNothing) {
    fs::create_directories(m_dir + "/config/Quindle");
    std::ofstream(platform::RegistryHiveFile(RegHive::LocalMachine)) << std::string(4096, 'Q');
    TCapLayout layout = Blank();
    EXPECT_EQ(LoadTemplate(&layout, 2, true), 0);
    int16_t w, h, fps, fmt;
    ReadClient(&w, &h, &fps, &fmt);
    EXPECT_EQ(w, 1280);
}

TEST_F(SettingsStoreTest, RandomValuesNeverGiveAnUnusableLayout) {
    std::mt19937 random(20261208);
    const char* names[] = {"Name", "LayerCnt", "BuildIn",   "MaxWidth", "MaxHeight",
                           "Id",   "Flag",     "BrdAdjust", "Position"};
    ASSERT_EQ(SaveTemplate(DefaultTemplate(2), 2), 1);
    TRegKey header = Key("LayerTemplates\\Template2");
    TRegKey layer = Key("LayerTemplates\\Template2\\Layer1");
    for (int round = 0; round < 2000; ++round) {
        const int which = random() % 9;
        TRegKey& key = which < 5 ? header : layer;
        const uint32_t pick = random();
        const std::string blob(random() % 40, static_cast<char>(pick));
        switch (pick % 3) {
            case 0:
                key.SetDword(names[which], pick % 4 ? pick % 24 - 12 : pick);
                break;
            case 1:
                key.SetString(names[which], blob);
                break;
            default:
                key.SetBinary(names[which], blob.data(), blob.size());
                break;
        }
        ExpectZeroOrValid(2);
    }
}

}  // namespace
}  // namespace console

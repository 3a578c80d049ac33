#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/KnownFolders.h"

namespace platform {
namespace {

// "prefix" + n, written so that GCC 12 raises no false -Wrestrict warning.
std::string Named(const char* prefix, long n) {
    std::string text(prefix);
    text += std::to_string(n);
    return text;
}

namespace fs = std::filesystem;

// Each test gets a configuration folder of its own.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_saved = std::getenv("XDG_CONFIG_HOME");
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = std::string(std::getenv("HOME")) + "/registry-" + info->name();
        fs::remove_all(m_dir);
        setenv("XDG_CONFIG_HOME", m_dir.c_str(), 1);
    }
    void TearDown() override { setenv("XDG_CONFIG_HOME", m_saved.c_str(), 1); }

    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::string m_saved;
    std::string m_dir;
};

TEST_F(RegistryTest, ValuesWrittenByOneKeyAreReadByTheNext) {
    {
        TRegKey key;
        bool created = false;
        ASSERT_EQ(key.Create(RegHive::LocalMachine, "SOFTWARE\\Quindle\\", RegAccess::All, &created),
                  kRegOk);
        EXPECT_TRUE(created);
        EXPECT_EQ(key.SetDword("Width", 1920), kRegOk);
        EXPECT_EQ(key.SetString("Device", "USB 摄像头"), kRegOk);
        const uint8_t blob[] = {0, 1, 2, 0xFF, 0};
        EXPECT_EQ(key.SetBinary("Layout", blob, sizeof blob), kRegOk);
        EXPECT_EQ(key.SetDword("Width", 1280), kRegOk);  // replaces
    }
    TRegKey key;
    ASSERT_EQ(key.Open(RegHive::LocalMachine, "SOFTWARE\\Quindle", RegAccess::Read), kRegOk);
    uint32_t width = 0;
    EXPECT_EQ(key.QueryDword("Width", &width), kRegOk);
    EXPECT_EQ(width, 1280u);
    std::string device;
    EXPECT_EQ(key.QueryString("Device", &device), kRegOk);
    EXPECT_EQ(device, "USB 摄像头");
    std::vector<uint8_t> blob;
    EXPECT_EQ(key.QueryBinary("Layout", &blob), kRegOk);
    EXPECT_EQ(blob, (std::vector<uint8_t>{0, 1, 2, 0xFF, 0}));
    EXPECT_TRUE(fs::exists(m_dir + "/Quindle/HKLM.sqlite"));
    EXPECT_EQ(RegistryHiveFile(RegHive::CurrentUser), m_dir + "/Quindle/HKCU.sqlite");
}

TEST_F(RegistryTest, TypesAreKeptAndCheckedOnRead) {
    TRegKey key;
    ASSERT_EQ(key.Create(RegHive::CurrentUser, "Types", RegAccess::All), kRegOk);
    ASSERT_EQ(key.SetDword("d", 7), kRegOk);
    ASSERT_EQ(key.SetString("s", ""), kRegOk);
    ASSERT_EQ(key.SetBinary("b", nullptr, 0), kRegOk);
    RegType type{};
    EXPECT_EQ(key.QueryType("d", &type), kRegOk);
    EXPECT_EQ(type, RegType::Dword);
    EXPECT_EQ(key.QueryType("s", &type), kRegOk);
    EXPECT_EQ(type, RegType::String);
    EXPECT_EQ(key.QueryType("b", &type), kRegOk);
    EXPECT_EQ(type, RegType::Binary);

    std::string text = "untouched";
    EXPECT_EQ(key.QueryString("d", &text), kRegWrongType);
    EXPECT_EQ(text, "untouched");
    uint32_t number = 0;
    EXPECT_EQ(key.QueryDword("s", &number), kRegWrongType);
    EXPECT_EQ(key.QueryString("s", &text), kRegOk);
    EXPECT_EQ(text, "");
    // A value keeps the last type written to it.
    ASSERT_EQ(key.SetString("d", "now text"), kRegOk);
    EXPECT_EQ(key.QueryString("d", &text), kRegOk);
    EXPECT_EQ(text, "now text");
}

TEST_F(RegistryTest, MissingKeysValuesAndWrongUseGiveTheirCodes) {
    TRegKey key;
    EXPECT_EQ(key.Open(RegHive::LocalMachine, "SOFTWARE\\Nothing", RegAccess::Read), kRegNotFound);
    EXPECT_FALSE(key.IsOpen());
    uint32_t value = 0;
    EXPECT_EQ(key.QueryDword("x", &value), kRegInvalidHandle);
    EXPECT_EQ(key.Open(RegHive::LocalMachine, "A\\\\B", RegAccess::Read), kRegInvalidParameter);
    EXPECT_EQ(key.Open(RegHive::LocalMachine, std::string(256, 'k'), RegAccess::Read),
              kRegInvalidParameter);

    ASSERT_EQ(key.Create(RegHive::LocalMachine, "SOFTWARE\\Quindle", RegAccess::All), kRegOk);
    EXPECT_EQ(key.QueryDword("absent", &value), kRegNotFound);
    EXPECT_EQ(key.DeleteValue("absent"), kRegNotFound);

    TRegKey reader;
    ASSERT_EQ(reader.Open(RegHive::LocalMachine, "SOFTWARE\\Quindle", RegAccess::Read), kRegOk);
    EXPECT_EQ(reader.SetDword("x", 1), kRegAccessDenied);
    TRegKey writer;
    ASSERT_EQ(writer.Open(RegHive::LocalMachine, "SOFTWARE\\Quindle", RegAccess::Write), kRegOk);
    EXPECT_EQ(writer.QueryDword("x", &value), kRegAccessDenied);
}

TEST_F(RegistryTest, ReadingAnEmptyHiveCreatesNothing) {
    TRegKey key;
    EXPECT_EQ(key.Open(RegHive::CurrentUser, "SOFTWARE\\Quindle", RegAccess::Read), kRegNotFound);
    ASSERT_EQ(key.Open(RegHive::CurrentUser, "", RegAccess::Read), kRegOk);  // the root exists
    std::vector<std::string> names{"stale"};
    EXPECT_EQ(key.EnumSubKeys(&names), kRegOk);
    EXPECT_TRUE(names.empty());
    EXPECT_FALSE(fs::exists(m_dir));
}

TEST_F(RegistryTest, NamesIgnoreCaseAndKeepTheirFirstSpelling) {
    TRegKey key;
    ASSERT_EQ(key.Create(RegHive::LocalMachine, "SOFTWARE\\Quindle\\Templates", RegAccess::All),
              kRegOk);
    ASSERT_EQ(key.SetDword("LayerCnt", 3), kRegOk);
    ASSERT_EQ(key.SetDword("LAYERCNT", 4), kRegOk);  // the same value

    TRegKey other;
    ASSERT_EQ(other.Open(RegHive::LocalMachine, "software\\QUINDLE\\templates", RegAccess::Read),
              kRegOk);
    uint32_t count = 0;
    EXPECT_EQ(other.QueryDword("layercnt", &count), kRegOk);
    EXPECT_EQ(count, 4u);
    std::vector<std::string> values;
    EXPECT_EQ(other.EnumValues(&values), kRegOk);
    EXPECT_EQ(values, std::vector<std::string>{"LayerCnt"});

    bool created = true;
    ASSERT_EQ(key.Create(RegHive::LocalMachine, "Software\\quindle", RegAccess::All, &created),
              kRegOk);
    EXPECT_FALSE(created);
    std::vector<std::string> subkeys;
    TRegKey software;
    ASSERT_EQ(software.Open(RegHive::LocalMachine, "SOFTWARE", RegAccess::Read), kRegOk);
    EXPECT_EQ(software.EnumSubKeys(&subkeys), kRegOk);
    EXPECT_EQ(subkeys, std::vector<std::string>{"Quindle"});
}

TEST_F(RegistryTest, ValueNamesMayHoldPathCharacters) {
    TRegKey key;
    ASSERT_EQ(key.Create(RegHive::CurrentUser, "SOFTWARE\\Prefs", RegAccess::All), kRegOk);
    const std::string name = "/opt/quindle/bin/Corvane\\odd%_name";
    ASSERT_EQ(key.SetString(name, "GpuPreference=1;"), kRegOk);
    std::string value;
    EXPECT_EQ(key.QueryString(name, &value), kRegOk);
    EXPECT_EQ(value, "GpuPreference=1;");
    std::vector<std::string> subkeys{"stale"};
    EXPECT_EQ(key.EnumSubKeys(&subkeys), kRegOk);
    EXPECT_TRUE(subkeys.empty());
}

TEST_F(RegistryTest, HivesAreSeparate) {
    TRegKey machine;
    ASSERT_EQ(machine.Create(RegHive::LocalMachine, "SOFTWARE\\Quindle", RegAccess::All), kRegOk);
    ASSERT_EQ(machine.SetDword("x", 1), kRegOk);
    TRegKey user;
    EXPECT_EQ(user.Open(RegHive::CurrentUser, "SOFTWARE\\Quindle", RegAccess::Read), kRegNotFound);
}

TEST_F(RegistryTest, DeletingKeysAndValues) {
    TRegKey root;
    ASSERT_EQ(root.Create(RegHive::LocalMachine, "SOFTWARE", RegAccess::All), kRegOk);
    TRegKey leaf;
    ASSERT_EQ(leaf.Create(RegHive::LocalMachine, "SOFTWARE\\Quindle\\Tpl\\1", RegAccess::All),
              kRegOk);
    ASSERT_EQ(leaf.SetDword("Id", 1), kRegOk);
    TRegKey sibling;  // shares a prefix with "Quindle" but is not below it
    ASSERT_EQ(sibling.Create(RegHive::LocalMachine, "SOFTWARE\\QuindleX", RegAccess::All), kRegOk);
    ASSERT_EQ(sibling.SetDword("Keep", 1), kRegOk);

    EXPECT_EQ(root.DeleteKey("Quindle\\Tpl"), kRegKeyHasChildren);
    EXPECT_EQ(root.DeleteKey("Quindle\\Missing"), kRegNotFound);
    EXPECT_EQ(root.DeleteTree("quindle"), kRegOk);

    uint32_t value = 0;
    EXPECT_EQ(leaf.QueryDword("Id", &value), kRegKeyDeleted);
    EXPECT_EQ(leaf.SetDword("Id", 2), kRegKeyDeleted);
    EXPECT_EQ(sibling.QueryDword("Keep", &value), kRegOk);
    std::vector<std::string> subkeys;
    EXPECT_EQ(root.EnumSubKeys(&subkeys), kRegOk);
    EXPECT_EQ(subkeys, std::vector<std::string>{"QuindleX"});

    EXPECT_EQ(sibling.DeleteValue("keep"), kRegOk);
    EXPECT_EQ(sibling.QueryDword("Keep", &value), kRegNotFound);
    EXPECT_EQ(root.DeleteKey("QuindleX"), kRegOk);
    EXPECT_EQ(sibling.QueryDword("Keep", &value), kRegKeyDeleted);
}

TEST_F(RegistryTest, DeleteTreeWithoutSubPathEmptiesTheKey) {
    TRegKey key;
    ASSERT_EQ(key.Create(RegHive::LocalMachine, "SOFTWARE\\Quindle\\Child", RegAccess::All), kRegOk);
    ASSERT_EQ(key.Create(RegHive::LocalMachine, "SOFTWARE\\Quindle", RegAccess::All), kRegOk);
    ASSERT_EQ(key.SetDword("v", 1), kRegOk);
    EXPECT_EQ(key.DeleteTree(""), kRegOk);
    std::vector<std::string> names{"stale"};
    EXPECT_EQ(key.EnumSubKeys(&names), kRegOk);
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(key.EnumValues(&names), kRegOk);
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(key.SetDword("again", 1), kRegOk);  // the key itself is still there
}

TEST_F(RegistryTest, AnUnwritableHiveRefusesWritesAndCreation) {
    // Where the folder should be there is a file, so nothing can be created.
    fs::create_directories(m_dir);
    std::ofstream(m_dir + "/Quindle") << "not a folder";
    TRegKey key;
    EXPECT_EQ(key.Create(RegHive::LocalMachine, "SOFTWARE\\Quindle", RegAccess::Write),
              kRegAccessDenied);
    EXPECT_EQ(key.Open(RegHive::LocalMachine, "", RegAccess::Write), kRegAccessDenied);
    EXPECT_EQ(key.Open(RegHive::LocalMachine, "SOFTWARE", RegAccess::Read), kRegNotFound);
}

TEST_F(RegistryTest, ADamagedHiveGivesAnErrorAndLosesNothingElse) {
    TRegKey machine;
    ASSERT_EQ(machine.Create(RegHive::LocalMachine, "SOFTWARE\\Quindle", RegAccess::All), kRegOk);
    ASSERT_EQ(machine.SetDword("Width", 1920), kRegOk);
    TRegKey user;
    ASSERT_EQ(user.Create(RegHive::CurrentUser, "SOFTWARE\\Prefs", RegAccess::All), kRegOk);
    ASSERT_EQ(user.SetDword("v", 1), kRegOk);

    const std::string damaged = RegistryHiveFile(RegHive::CurrentUser);
    const std::string garbage(8192, '\x5A');
    std::ofstream(damaged, std::ios::binary | std::ios::trunc) << garbage;

    uint32_t value = 0;
    EXPECT_EQ(user.QueryDword("v", &value), kRegBadDb);
    EXPECT_EQ(user.SetDword("v", 2), kRegBadDb);
    TRegKey again;
    EXPECT_EQ(again.Create(RegHive::CurrentUser, "SOFTWARE\\Other", RegAccess::All), kRegBadDb);
    EXPECT_EQ(again.Open(RegHive::CurrentUser, "SOFTWARE\\Prefs", RegAccess::Read), kRegBadDb);
    // The damaged file is left for whoever can repair it.
    EXPECT_EQ(ReadFile(damaged), garbage);
    EXPECT_EQ(machine.QueryDword("Width", &value), kRegOk);
    EXPECT_EQ(value, 1920u);
}

TEST_F(RegistryTest, TwoThreadsWritingAtOnceLoseNothing) {
    constexpr int kValuesPerThread = 60;
    auto writer = [](int thread, int* failures) {
        for (int i = 0; i < kValuesPerThread; ++i) {
            TRegKey key;
            const std::string path = Named("SOFTWARE\\Quindle\\T", thread);
            if (key.Create(RegHive::LocalMachine, path, RegAccess::All) != kRegOk ||
                key.SetDword(Named("v", i), static_cast<uint32_t>(i)) != kRegOk) {
                ++*failures;
            }
            TRegKey shared;
            if (shared.Create(RegHive::LocalMachine, "SOFTWARE\\Quindle", RegAccess::All) != kRegOk ||
                shared.SetDword(Named("t", thread) + Named("_", i), 1) != kRegOk) {
                ++*failures;
            }
        }
    };
    int failures[2] = {0, 0};
    std::thread first(writer, 0, &failures[0]);
    std::thread second(writer, 1, &failures[1]);
    first.join();
    second.join();
    EXPECT_EQ(failures[0] + failures[1], 0);

    TRegKey shared;
    ASSERT_EQ(shared.Open(RegHive::LocalMachine, "SOFTWARE\\Quindle", RegAccess::Read), kRegOk);
    std::vector<std::string> names;
    EXPECT_EQ(shared.EnumValues(&names), kRegOk);
    EXPECT_EQ(names.size(), 2u * kValuesPerThread);
    EXPECT_EQ(shared.EnumSubKeys(&names), kRegOk);
    EXPECT_EQ(names, (std::vector<std::string>{"T0", "T1"}));
    for (int thread = 0; thread < 2; ++thread) {
        TRegKey key;
        ASSERT_EQ(key.Open(RegHive::LocalMachine, Named("SOFTWARE\\Quindle\\T", thread),
                           RegAccess::Read),
                  kRegOk);
        for (int i = 0; i < kValuesPerThread; ++i) {
            uint32_t value = 1000;
            EXPECT_EQ(key.QueryDword(Named("v", i), &value), kRegOk);
            EXPECT_EQ(value, static_cast<uint32_t>(i));
        }
    }
}

}  // namespace
}  // namespace platform

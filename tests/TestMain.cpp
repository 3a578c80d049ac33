// Every test binary starts here: all per-user folders point into a fresh
// temporary directory, so no test touches the real user's files.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

class TTemporaryHome : public ::testing::Environment {
public:
    void SetUp() override {
        char pattern[] = "/tmp/quindle-test-XXXXXX";
        const char* dir = mkdtemp(pattern);
        ASSERT_NE(dir, nullptr);
        m_root = dir;
        setenv("HOME", m_root.c_str(), 1);
        setenv("XDG_DATA_HOME", (m_root + "/data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (m_root + "/config").c_str(), 1);
        setenv("XDG_STATE_HOME", (m_root + "/state").c_str(), 1);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(m_root, ignored);
    }

private:
    std::string m_root;
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new TTemporaryHome);
    return RUN_ALL_TESTS();
}

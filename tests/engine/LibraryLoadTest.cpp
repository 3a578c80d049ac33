// Loads the engine library the way a host program does, each time in a child
// process so that every load starts from a fresh library. This binary lives
// in a folder of its own, where the tests put the module container that the
// library reads beside its host.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/ICapMattEngine.h"
#include "engine/modules/EnvironmentCheck.h"
#include "engine/modules/GpuPreference.h"
#include "engine/modules/ModuleExtractor.h"
#include "engine/modules/ModuleFolder.h"
#include "platform/ExecutablePath.h"
#include "platform/Registry.h"

namespace pelorn {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using platform::RegAccess;
using platform::RegHive;
using platform::TRegKey;

// The factories are exported under their C++ signatures.
constexpr char kCreateSymbol[] = "_Z29CreateInstance_ICapMattEnginePFlPhPviES0_j";
constexpr char kReleaseSymbol[] = "_Z30ReleaseInstance_ICapMattEnginePP14ICapMattEngine";
using CreateFn = ICapMattEngine* (*)(FrameCallback, void*, unsigned);
using ReleaseFn = void (*)(ICapMattEngine**);

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void PutLittleEndian(Bytes& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

int GpuPreference(std::string* value) {
    TRegKey key;
    const int result = key.Open(RegHive::CurrentUser, kGpuPreferenceKey, RegAccess::Read);
    return result != platform::kRegOk ? result : key.QueryString(GpuPreferenceValueName(), value);
}

// In the child: a failed step prints itself and ends the child with its number.
#define CHILD_CHECK(step, condition)                                   \
    do {                                                               \
        if (!(condition)) {                                            \
            std::fprintf(stderr, "step %d failed: %s\n", step, #condition); \
            std::_Exit(step);                                          \
        }                                                              \
    } while (0)

class LibraryLoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_module = ReadFile(QUINDLE_TEST_MODULE);
        ASSERT_FALSE(m_module.empty());
        // Both entries hold the stand-in module.
        Bytes container;
        PutLittleEndian(container, 2);
        PutLittleEndian(container, static_cast<uint32_t>(m_module.size()));
        PutLittleEndian(container, static_cast<uint32_t>(m_module.size()));
        Bytes stored = m_module;
        ModuleExtractor::ReverseBits(stored.data(), stored.size());
        container.insert(container.end(), stored.begin(), stored.end());
        container.insert(container.end(), stored.begin(), stored.end());
        std::ofstream out(ModuleExtractor::InstalledContainerPath(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(container.data()),
                  static_cast<std::streamsize>(container.size()));
    }

    bool ModulesExtracted() const {
        return ReadFile(ModuleFolder() + "/Gxrl.dat") == m_module &&
               ReadFile(ModuleFolder() + "/TBeautySkin.dat") == m_module;
    }

    Bytes m_module;
};

TEST_F(LibraryLoadTest, LoadingExtractsChecksAndWritesTheGpuPreferenceUntilUnloaded) {
    fs::remove(ModuleFolder() + "/Gxrl.dat");
    fs::remove(ModuleFolder() + "/TBeautySkin.dat");
    EXPECT_EXIT(
        {
            void* library = dlopen(QUINDLE_PELORN_LIBRARY, RTLD_NOW | RTLD_LOCAL);
            CHILD_CHECK(1, library != nullptr);
            CHILD_CHECK(2, ModulesExtracted());
            std::string value;
            CHILD_CHECK(3, GpuPreference(&value) == platform::kRegOk && value == "GpuPreference=1;");
            auto create = reinterpret_cast<CreateFn>(dlsym(library, kCreateSymbol));
            auto release = reinterpret_cast<ReleaseFn>(dlsym(library, kReleaseSymbol));
            CHILD_CHECK(4, create != nullptr && release != nullptr);
            ICapMattEngine* engine = create(nullptr, nullptr, 0);
            CHILD_CHECK(5, engine != nullptr);
            release(&engine);
            // As after an engine whose holders unloaded the modules.
            fs::remove(ModuleFolder() + "/Gxrl.dat");
            fs::remove(ModuleFolder() + "/TBeautySkin.dat");
            engine = create(nullptr, nullptr, 0);
            CHILD_CHECK(6, engine != nullptr);
            CHILD_CHECK(7, ModulesExtracted());
            release(&engine);
            std::exit(0);  // unloads the library
        },
        ::testing::ExitedWithCode(0), "");
    std::string value;
    EXPECT_EQ(GpuPreference(&value), platform::kRegNotFound);
    TRegKey key;
    uint32_t range = 0;
    ASSERT_EQ(key.Open(RegHive::LocalMachine, kGammaRangeKey, RegAccess::Read), platform::kRegOk);
    EXPECT_EQ(key.QueryDword(kGammaRangeName, &range), platform::kRegOk);
    EXPECT_EQ(range, kGammaRangeUnlimited);
}

TEST_F(LibraryLoadTest, ARefusedMachineGetsTheMessageAndNoEngine) {
    const std::string config = std::string(std::getenv("HOME")) + "/refused-config";
    EXPECT_EXIT(
        {
            setenv("XDG_CONFIG_HOME", config.c_str(), 1);
            setenv("QUINDLE_CPU_BRAND", "AMD EPYC 7B13 64-Core Processor", 1);
            void* library = dlopen(QUINDLE_PELORN_LIBRARY, RTLD_NOW | RTLD_LOCAL);
            CHILD_CHECK(1, library != nullptr);
            auto create = reinterpret_cast<CreateFn>(dlsym(library, kCreateSymbol));
            CHILD_CHECK(2, create != nullptr);
            CHILD_CHECK(3, create(nullptr, nullptr, 0xFFFFFFFF) == nullptr);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "本版本软件仅支持Intel CPU");
    // Refused before anything was written.
    EXPECT_FALSE(fs::exists(config));
}

}  // namespace
}  // namespace pelorn

// Every test binary starts here: all per-user folders point into a fresh
// temporary directory, so no test touches the real user's files.
//
// The folders must be in place before any shared library of the binary
// initialises (the engine library extracts its modules and writes the
// registry as soon as it is loaded). The C library resets the environment to
// the one the program was started with while it initialises, so the binary
// sets the variables and starts itself again, from the executable's
// pre-initialisation array, which runs before every library.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

constexpr char kRootVariable[] = "QUINDLE_TEST_HOME";
constexpr char kOwnerVariable[] = "QUINDLE_TEST_HOME_OWNER";

bool HasVariable(char** envp, const char* name) {
    const size_t length = std::strlen(name);
    for (char** entry = envp; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, name, length) == 0 && (*entry)[length] == '=') return true;
    }
    return false;
}

bool IsReplaced(const char* entry) {
    static const char* const kReplaced[] = {"HOME=", "XDG_DATA_HOME=", "XDG_CONFIG_HOME=",
                                            "XDG_STATE_HOME="};
    for (const char* prefix : kReplaced) {
        if (std::strncmp(entry, prefix, std::strlen(prefix)) == 0) return true;
    }
    return false;
}

// Every engine made in a test constructs a compositor, which maps its colour
// tables from "ClrFloat.map" in the module folder or builds them (219 MB)
// when it is missing. One read-only cache built with the tests is linked in
// instead, so a test pays only the warm start; a test that replaces or
// deletes the file replaces only the link. Plain C, as below.
void LinkSharedTableCache(const char* root) {
#ifdef QUINDLE_TABLE_CACHE
    if (access(QUINDLE_TABLE_CACHE, R_OK) != 0) return;
    char path[512];
    std::snprintf(path, sizeof path, "%s/data", root);
    mkdir(path, 0700);
    std::snprintf(path, sizeof path, "%s/data/Raxev", root);
    mkdir(path, 0700);
    std::snprintf(path, sizeof path, "%s/data/Raxev/ClrFloat.map", root);
    if (symlink(QUINDLE_TABLE_CACHE, path) != 0) std::perror("symlink");
#else
    (void)root;
#endif
}

// Runs before the C library is initialised: plain C only.
void RestartWithTemporaryHome(int, char** argv, char** envp) {
    if (HasVariable(envp, kRootVariable)) return;  // already restarted
    static char root[] = "/tmp/quindle-test-XXXXXX";
    if (mkdtemp(root) == nullptr) {
        std::perror("mkdtemp");
        std::_Exit(1);
    }
    LinkSharedTableCache(root);
    static char added[7][512];
    int count = 0;
    std::snprintf(added[count++], sizeof added[0], "HOME=%s", root);
    std::snprintf(added[count++], sizeof added[0], "XDG_DATA_HOME=%s/data", root);
    std::snprintf(added[count++], sizeof added[0], "XDG_CONFIG_HOME=%s/config", root);
    std::snprintf(added[count++], sizeof added[0], "XDG_STATE_HOME=%s/state", root);
    std::snprintf(added[count++], sizeof added[0], "%s=%s", kRootVariable, root);
    // The restarted program keeps this process id: it owns the directory.
    std::snprintf(added[count++], sizeof added[0], "%s=%ld", kOwnerVariable,
                  static_cast<long>(getpid()));
    // The engine accepts Intel processors only and refuses to work on any
    // other; the build machines are not Intel. A test that needs another
    // brand sets it itself.
    if (!HasVariable(envp, "QUINDLE_CPU_BRAND")) {
        std::snprintf(added[count++], sizeof added[0],
                      "QUINDLE_CPU_BRAND=Intel(R) Xeon(R) CPU (stand-in for the CI machine)");
    }
    size_t kept = 0;
    while (envp[kept] != nullptr) ++kept;
    char** environment = static_cast<char**>(std::calloc(kept + count + 1, sizeof(char*)));
    size_t used = 0;
    for (char** entry = envp; *entry != nullptr; ++entry) {
        if (!IsReplaced(*entry)) environment[used++] = *entry;
    }
    for (int i = 0; i < count; ++i) environment[used++] = added[i];
    execve("/proc/self/exe", argv, environment);
    std::perror("execve");
    std::_Exit(1);
}

__attribute__((section(".preinit_array"), used)) void (*const g_restart)(int, char**, char**) =
    &RestartWithTemporaryHome;

// Death tests fork: only the process that made the directory removes it.
void RemoveTemporaryHome() {
    const char* owner = std::getenv(kOwnerVariable);
    const char* root = std::getenv(kRootVariable);
    if (owner == nullptr || root == nullptr || std::atol(owner) != static_cast<long>(getpid())) {
        return;
    }
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}

}  // namespace

int main(int argc, char** argv) {
    std::atexit(RemoveTemporaryHome);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// Builds the colour-table cache "ClrFloat.map" once for the whole test run:
//   compositor_table_cache FOLDER
// The file is made read-only; TestMain links it into every test's module
// folder, and a test that replaces its cache replaces only that link.

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "engine/compositor/CompositorKernels.h"
#include "engine/compositor/TColourTables.h"
#include "engine/compositor/TCompositorPool.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: compositor_table_cache FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    const std::string path = folder + "/" + pelorn::TColourCache::kFileName;
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    std::filesystem::remove(path, ignored);

    pelorn::TCompositorPool pool(pelorn::kernels::KernelTable());
    pelorn::TColourTables tables;
    if (!tables.Load(pool, folder) ||
        tables.FoundCache() != pelorn::TColourCache::Status::kMissing) {
        std::fprintf(stderr, "compositor_table_cache: building %s failed\n", path.c_str());
        return 1;
    }
    if (chmod(path.c_str(), 0444) != 0) {
        std::perror("compositor_table_cache: chmod");
        return 1;
    }
    return 0;
}

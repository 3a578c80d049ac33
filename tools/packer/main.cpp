// vexar-pack OUT ENTRY0 ENTRY1 ...
// Writes the module container OUT from the given files, in that order. The
// container appears whole or not at all (written beside it, then renamed).

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "tools/packer/ContainerFormat.h"

namespace {

bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool WriteFileWhole(const std::string& path, const std::vector<uint8_t>& bytes) {
    const std::string partial = path + ".partial";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::error_code ignored;
            std::filesystem::remove(partial, ignored);
            return false;
        }
    }
    std::error_code failed;
    std::filesystem::rename(partial, path, failed);
    return !failed;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: vexar-pack OUT ENTRY0 ENTRY1 ...\n");
        return 2;
    }
    std::vector<std::vector<uint8_t>> entries(static_cast<size_t>(argc - 2));
    for (int i = 2; i < argc; ++i) {
        if (!ReadFile(argv[i], &entries[static_cast<size_t>(i - 2)])) {
            std::fprintf(stderr, "vexar-pack: cannot read %s\n", argv[i]);
            return 1;
        }
    }
    std::string error;
    const std::vector<uint8_t> container = packer::PackContainer(entries, &error);
    if (container.empty()) {
        std::fprintf(stderr, "vexar-pack: %s\n", error.c_str());
        return 1;
    }
    if (!WriteFileWhole(argv[1], container)) {
        std::fprintf(stderr, "vexar-pack: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}

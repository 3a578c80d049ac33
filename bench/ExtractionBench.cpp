// Restoring the run-time modules at library load: the bit reversal alone,
// against a byte table, and a whole extraction of a container of module size.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/modules/ModuleExtractor.h"

namespace {

using pelorn::ModuleExtractor;

std::vector<uint8_t> RandomBytes(size_t count) {
    std::mt19937 random(7);
    std::vector<uint8_t> bytes(count);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

void BM_ReverseBits(benchmark::State& state) {
    std::vector<uint8_t> bytes = RandomBytes(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        ModuleExtractor::ReverseBits(bytes.data(), bytes.size());
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReverseBits)->Arg(ModuleExtractor::kChunkBytes);

// The plain alternative: one table lookup per byte.
void BM_ReverseBitsByteTable(benchmark::State& state) {
    uint8_t table[256];
    for (int b = 0; b < 256; ++b) {
        uint8_t r = 0;
        for (int i = 0; i < 8; ++i) r |= ((b >> i) & 1) << (7 - i);
        table[b] = r;
    }
    std::vector<uint8_t> bytes = RandomBytes(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        for (uint8_t& b : bytes) b = table[b];
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReverseBitsByteTable)->Arg(ModuleExtractor::kChunkBytes);

// Two entries of 3 MiB and 1 MiB from a file into a folder, both under /tmp.
void BM_ExtractContainer(benchmark::State& state) {
    char pattern[] = "/tmp/quindle-extract-bench-XXXXXX";
    const std::string root = mkdtemp(pattern);
    const std::string container = root + "/VexarRes.dll";
    const uint32_t sizes[2] = {3u << 20, 1u << 20};
    {
        std::ofstream out(container, std::ios::binary);
        const uint32_t count = 2;
        out.write(reinterpret_cast<const char*>(&count), 4);
        out.write(reinterpret_cast<const char*>(sizes), sizeof sizes);
        const std::vector<uint8_t> data = RandomBytes(sizes[0] + sizes[1]);
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(ModuleExtractor::Extract(container, root + "/Raxev"));
    }
    state.SetBytesProcessed(state.iterations() * int64_t{sizes[0] + sizes[1]});
    std::filesystem::remove_all(root);
}
BENCHMARK(BM_ExtractContainer)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

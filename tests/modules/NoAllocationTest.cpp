// Run() of converters and scalers, the blend, the alpha fill, the turns and
// a repeated beauty filter call allocate nothing: every allocation of the
// process is counted around those calls. Built without sanitizers only (they
// bring their own allocator).

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <vector>

#include "tests/modules/BeautyModule.h"
#include "tests/modules/BeautyPictures.h"
#include "tests/modules/GxrlModule.h"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {

std::atomic<bool> g_bCounting{false};
std::atomic<long> g_nAllocations{0};

void CountAllocation() {
    if (g_bCounting.load(std::memory_order_relaxed)) g_nAllocations.fetch_add(1);
}

}  // namespace

extern "C" void* malloc(size_t size) noexcept {
    CountAllocation();
    return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size) noexcept {
    CountAllocation();
    return __libc_calloc(count, size);
}
extern "C" void* realloc(void* block, size_t size) noexcept {
    CountAllocation();
    return __libc_realloc(block, size);
}
extern "C" void* memalign(size_t alignment, size_t size) noexcept {
    CountAllocation();
    return __libc_memalign(alignment, size);
}
extern "C" void* aligned_alloc(size_t alignment, size_t size) noexcept {
    CountAllocation();
    return __libc_memalign(alignment, size);
}
extern "C" int posix_memalign(void** block, size_t alignment, size_t size) noexcept {
    CountAllocation();
    *block = __libc_memalign(alignment, size);
    return *block != nullptr ? 0 : ENOMEM;
}

namespace moduletest {
namespace {

// The allocations made while `call` runs.
template <typename Call>
long AllocationsDuring(Call call) {
    g_nAllocations = 0;
    g_bCounting = true;
    call();
    g_bCounting = false;
    return g_nAllocations;
}

constexpr int32_t kCodes[] = {kPixCodeBgr24, kPixCodeBgra,    kPixCodeYuyv422,  kPixCodeUyvy422,
                              kPixCodeGray8, kPixCodeYuv420p, kPixCodeYuvj422p, kPixCodeNv12};

TEST(NoAllocationTest, TheCountingSeesAnAllocation) {
    EXPECT_GT(AllocationsDuring([] { delete new std::vector<int>(100); }), 0);
}

// Every pair of codes, at an even and at an odd size, libyuv and libswscale
// routes alike; the first Run included.
TEST(NoAllocationTest, ConverterRunAllocatesNothing) {
    for (auto [width, height] : {std::pair{64, 48}, std::pair{37, 21}}) {
        for (int32_t src : kCodes) {
            for (int32_t dst : kCodes) {
                TPictureBuffer in(src, width, height);
                TPictureBuffer out(dst, width, height);
                TConverterPtr converter = NewConverter();
                ASSERT_TRUE(converter);
                ASSERT_EQ(converter->Configure(dst, 1, src, 1, width, height, 0, 1, 255, 1), 0);
                const long count = AllocationsDuring([&] {
                    converter->Run(out.Planes(), out.Linesizes(), in.ConstPlanes(), in.Linesizes());
                    converter->Run(out.Planes(), out.Linesizes(), in.ConstPlanes(), in.Linesizes());
                });
                EXPECT_EQ(count, 0) << src << " -> " << dst << " at " << width;
            }
        }
    }
}

TEST(NoAllocationTest, ScalerRunAllocatesNothing) {
    for (int32_t code : kCodes) {
        TPictureBuffer in(code, 64, 48);
        TPictureBuffer out(code, 37, 21);
        TScalerPtr scaler = NewScaler();
        ASSERT_TRUE(scaler);
        ASSERT_EQ(scaler->Configure(37, 21, 64, 48, code), 0);
        const long count = AllocationsDuring(
            [&] { scaler->Run(out.Planes(), out.Linesizes(), in.ConstPlanes(), in.Linesizes()); });
        EXPECT_EQ(count, 0) << code;
    }
}

TEST(NoAllocationTest, BlendFillAndTurnsAllocateNothing) {
    std::vector<uint8_t> a(64 * 48 * 4, 1), b(64 * 48 * 4, 2), mask(64 * 48, 128);
    const auto blend = Gxrl().Entry<BlendFn>(347);
    const auto fill = Gxrl().Entry<Op351Fn>(351);
    const TurnFn clockwise = TurnClockwise();
    const TurnFn counterClockwise = TurnCounterClockwise();
    const long count = AllocationsDuring([&] {
        blend(a.data(), 64 * 3, b.data(), 64 * 3, a.data(), 64 * 3, 64, 48, 1, 0, mask.data(), 64);
        fill(a.data(), 64 * 4, a.data(), 64 * 4, 64, 48, 255, 3);
        for (int32_t bytes : {2, 3, 4}) {
            clockwise(a.data(), b.data(), 64, 48, 64 * bytes, 48, 64, 48 * bytes);
            counterClockwise(b.data(), a.data(), 48, 64, 48 * bytes, 64, 48, 64 * bytes);
        }
    });
    EXPECT_EQ(count, 0);
}

TEST(NoAllocationTest, BeautyFilterAllocatesOnlyOnItsFirstCallAtASize) {
    TBgrPicture src(320, 180), dst(320, 180);
    FillNoisySkin(src, 0, 0, 320, 180, 8.0, 3);
    const BeautyFn beauty = Beauty();
    ASSERT_EQ(beauty(src.data.data(), dst.data.data(), 320, 180, 960, 5, 5, 5), 0);
    const long count = AllocationsDuring([&] {
        beauty(src.data.data(), dst.data.data(), 320, 180, 960, 5, 5, 5);
        beauty(dst.data.data(), dst.data.data(), 320, 180, 960, 10, 0, 2);
    });
    EXPECT_EQ(count, 0);
}

}  // namespace
}  // namespace moduletest

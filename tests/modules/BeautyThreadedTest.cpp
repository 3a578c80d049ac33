// The beauty filter's shared scratch buffers under concurrent callers: the
// calls take turns, each result as if it ran alone.

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tests/modules/BeautyModule.h"
#include "tests/modules/BeautyPictures.h"

namespace moduletest {
namespace {

TEST(BeautyThreadedTest, ConcurrentCallersGetTheirOwnResults) {
    ASSERT_NE(Beauty(), nullptr);
    TBgrPicture small(96, 64), large(257, 143);
    FillNoisySkin(small, 0, 0, 96, 64, 9.0, 21);
    FillNoisySkin(large, 0, 0, 257, 143, 9.0, 22);
    TBgrPicture smallAlone(96, 64), largeAlone(257, 143);
    ASSERT_EQ(Beauty()(small.data.data(), smallAlone.data.data(), 96, 64, 96 * 3, 6, 4, 5), 0);
    ASSERT_EQ(Beauty()(large.data.data(), largeAlone.data.data(), 257, 143, 257 * 3, 6, 4, 5), 0);

    auto run = [](const TBgrPicture& src, const TBgrPicture& expected, bool* same) {
        TBgrPicture dst(src.width, src.height);
        *same = true;
        for (int round = 0; round < 20; ++round) {
            Beauty()(src.data.data(), dst.data.data(), src.width, src.height, src.Linesize(), 6, 4,
                     5);
            *same = *same && dst.data == expected.data;
        }
    };
    bool smallSame = false, largeSame = false;
    std::thread first(run, std::cref(small), std::cref(smallAlone), &smallSame);
    std::thread second(run, std::cref(large), std::cref(largeAlone), &largeSame);
    first.join();
    second.join();
    EXPECT_TRUE(smallSame);
    EXPECT_TRUE(largeSame);
}

}  // namespace
}  // namespace moduletest

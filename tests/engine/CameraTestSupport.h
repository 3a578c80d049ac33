#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace pelorn {

// A pipe whose read end the stand-in reads without blocking; the test holds
// the write end and decides what arrives.
struct TPipe {
    int fds[2] = {-1, -1};
    TPipe() {
        EXPECT_EQ(pipe(fds), 0);
        fcntl(fds[0], F_SETFL, O_NONBLOCK);
    }
    ~TPipe() {
        close(fds[0]);
        close(fds[1]);
    }
    // Writes `count` raw 64 x 48 YUYV pictures.
    static constexpr size_t kPicture = 64 * 48 * 2;
    void WriteFrames(int count) {
        const std::vector<char> picture(kPicture, 0x40);
        for (int i = 0; i < count; ++i) ASSERT_EQ(write(fds[1], picture.data(), kPicture), static_cast<ssize_t>(kPicture));
    }
    std::string Url() const { return "pipe:" + std::to_string(fds[0]); }
};

}  // namespace pelorn

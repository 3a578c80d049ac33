#include "platform/SharedMemory.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace platform {
namespace {

std::string UniqueName(const char* stem) {
    return std::string("Global\\") + stem + "_" + std::to_string(getpid());
}

TEST(SharedMemoryTest, TwoMappingsOfOneNameSeeTheSameBytes) {
    const std::string name = UniqueName("ShmSame");
    TSharedMemory creator;
    TSharedMemory opener;
    ASSERT_EQ(creator.Open(name, 4096, TSharedMemory::Access::CreateOrOpen), 0);
    ASSERT_EQ(opener.Open(name, 4096, TSharedMemory::Access::OpenExisting), 0);

    std::memcpy(creator.Data(), "hello", 6);
    EXPECT_STREQ(static_cast<const char*>(opener.Data()), "hello");
    static_cast<char*>(opener.Data())[0] = 'j';
    EXPECT_STREQ(static_cast<const char*>(creator.Data()), "jello");
}

TEST(SharedMemoryTest, ObjectNameIsSlashPlusTheMappingNameUnchanged) {
    EXPECT_EQ(TSharedMemory::ObjectName("Global\\QndlShareMemT"), "/Global\\QndlShareMemT");
}

TEST(SharedMemoryTest, AnotherProcessSeesTheBytes) {
    const std::string name = UniqueName("ShmFork");
    TSharedMemory creator;
    ASSERT_EQ(creator.Open(name, 64, TSharedMemory::Access::CreateOrOpen), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TSharedMemory opener;
        if (opener.Open(name, 64, TSharedMemory::Access::OpenExisting) != 0) _exit(2);
        std::memcpy(opener.Data(), "child", 6);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_STREQ(static_cast<const char*>(creator.Data()), "child");
}

TEST(SharedMemoryTest, OpeningAMissingObjectFailsWithoutCreatingIt) {
    const std::string name = UniqueName("ShmMissing");
    TSharedMemory opener;
    EXPECT_EQ(opener.Open(name, 64, TSharedMemory::Access::OpenExisting), ENOENT);
    EXPECT_FALSE(opener.IsOpen());
    EXPECT_FALSE(TSharedMemory::Exists(name));
}

TEST(SharedMemoryTest, TheCreatorUnlinksOnCloseAndAnOpenerDoesNot) {
    const std::string name = UniqueName("ShmUnlink");
    TSharedMemory creator;
    ASSERT_EQ(creator.Open(name, 64, TSharedMemory::Access::CreateOrOpen), 0);
    {
        TSharedMemory opener;
        ASSERT_EQ(opener.Open(name, 64, TSharedMemory::Access::OpenExisting), 0);
    }
    EXPECT_TRUE(TSharedMemory::Exists(name));
    creator.Close();
    EXPECT_FALSE(TSharedMemory::Exists(name));
}

TEST(SharedMemoryTest, ObjectIsReadableByItsOwnerOnly) {
    const std::string name = UniqueName("ShmMode");
    TSharedMemory creator;
    ASSERT_EQ(creator.Open(name, 64, TSharedMemory::Access::CreateOrOpen), 0);
    struct stat info {};
    ASSERT_EQ(stat(("/dev/shm" + TSharedMemory::ObjectName(name)).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(SharedMemoryTest, CreatorTakesOverAStaleObjectAndGrowsIt) {
    const std::string name = UniqueName("ShmStale");
    // What a crashed creator leaves behind: the name, its bytes, no holder.
    const int fd = shm_open(TSharedMemory::ObjectName(name).c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 16), 0);
    ASSERT_EQ(pwrite(fd, "stale", 6, 0), 6);
    close(fd);

    {
        TSharedMemory creator;
        ASSERT_EQ(creator.Open(name, 8192, TSharedMemory::Access::CreateOrOpen), 0);
        EXPECT_STREQ(static_cast<const char*>(creator.Data()), "stale");
        EXPECT_EQ(static_cast<char*>(creator.Data())[8191], 0);  // grown to the size asked
        EXPECT_TRUE(creator.Owns());
    }
    EXPECT_FALSE(TSharedMemory::Exists(name));
}

TEST(SharedMemoryTest, OpenerRefusesABlockShorterThanItExpects) {
    const std::string name = UniqueName("ShmShort");
    TSharedMemory creator;
    ASSERT_EQ(creator.Open(name, 64, TSharedMemory::Access::CreateOrOpen), 0);
    TSharedMemory opener;
    EXPECT_EQ(opener.Open(name, 4096, TSharedMemory::Access::OpenExisting), EINVAL);
}

TEST(SharedMemoryTest, ZeroSizeIsRefused) {
    TSharedMemory memory;
    EXPECT_EQ(memory.Open(UniqueName("ShmZero"), 0, TSharedMemory::Access::CreateOrOpen), EINVAL);
}

}  // namespace
}  // namespace platform

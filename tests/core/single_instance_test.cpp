#include "platform/single_instance.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

std::string UniqueName(const char* what) {
    return std::string("quendrel_test_") + what + "_" + std::to_string(getpid());
}

// Runs the lock attempt in a child process; its exit code tells the result.
int TryLockInChild(const std::string& name) {
    const pid_t child = fork();
    if (child == 0) _exit(AcquireSingleInstanceLock(name) ? 0 : 1);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SingleInstanceLock, ASecondProcessCannotTakeIt) {
    const std::string name = UniqueName("held");
    ASSERT_TRUE(AcquireSingleInstanceLock(name));
    EXPECT_EQ(TryLockInChild(name), 1);
    EXPECT_FALSE(AcquireSingleInstanceLock(name));
}

TEST(SingleInstanceLock, IsFreedWhenItsProcessEnds) {
    const std::string name = UniqueName("freed");
    EXPECT_EQ(TryLockInChild(name), 0);
    EXPECT_TRUE(AcquireSingleInstanceLock(name));
}

}  // namespace

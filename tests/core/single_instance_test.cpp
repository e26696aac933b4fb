#include "platform/single_instance.hpp"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

class SingleInstanceLock : public ::testing::Test {
  protected:
    std::string Name(const char* what) {
        name_ = std::string("quendrel_test_") + what + "_" + std::to_string(getpid());
        return name_;
    }
    void TearDown() override {
        if (!name_.empty()) std::remove(SingleInstanceLockPath(name_).c_str());
    }

    // Runs the lock attempt in a child process; its exit code tells the result.
    // With `ownNetwork` the child first moves to a network namespace of its own.
    static int TryLockInChild(const std::string& name, bool ownNetwork = false) {
        const pid_t child = fork();
        if (child == 0) {
            if (ownNetwork && unshare(CLONE_NEWNET) != 0) _exit(2);
            _exit(AcquireSingleInstanceLock(name) ? 0 : 1);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    std::string name_;
};

TEST_F(SingleInstanceLock, ASecondProcessCannotTakeIt) {
    const std::string name = Name("held");
    ASSERT_TRUE(AcquireSingleInstanceLock(name));
    EXPECT_EQ(TryLockInChild(name), 1);
    EXPECT_FALSE(AcquireSingleInstanceLock(name));
}

TEST_F(SingleInstanceLock, IsFreedWhenItsProcessEnds) {
    const std::string name = Name("freed");
    EXPECT_EQ(TryLockInChild(name), 0);
    EXPECT_TRUE(AcquireSingleInstanceLock(name));
}

TEST_F(SingleInstanceLock, HoldsAcrossNetworkNamespaces) {
    if (geteuid() != 0) GTEST_SKIP() << "a network namespace of its own needs root";
    const std::string name = Name("netns");
    ASSERT_TRUE(AcquireSingleInstanceLock(name));
    EXPECT_EQ(TryLockInChild(name, /*ownNetwork=*/true), 1);
}

TEST_F(SingleInstanceLock, RefusesANameThatIsAPath) {
    EXPECT_FALSE(AcquireSingleInstanceLock("../elsewhere"));
    EXPECT_FALSE(AcquireSingleInstanceLock(""));
}

}  // namespace

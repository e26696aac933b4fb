#include "platform/single_instance.hpp"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace {

class SingleInstanceLock : public ::testing::Test {
  protected:
    // A runtime folder of the test's own: no lock of the tool running on this
    // machine, nor of another test, is in the way.
    void SetUp() override {
        if (const char* before = std::getenv("XDG_RUNTIME_DIR")) runtimeBefore_ = before;
        std::string pattern = (std::filesystem::temp_directory_path() / "quendrel_rt_XXXXXX");
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        runtime_ = pattern;
        setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
    }
    void TearDown() override {
        if (runtimeBefore_) {
            setenv("XDG_RUNTIME_DIR", runtimeBefore_->c_str(), 1);
        } else {
            unsetenv("XDG_RUNTIME_DIR");
        }
        if (!runtime_.empty()) std::filesystem::remove_all(runtime_);
    }
    std::string Name(const char* what) {
        const std::string name = std::string("quendrel_test_") + what;
        EXPECT_EQ(SingleInstanceLockPath(name), runtime_ + "/" + name + ".lock");
        return name;
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
    std::string runtime_;
    std::optional<std::string> runtimeBefore_;
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

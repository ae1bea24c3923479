// Single-instance detection: the first claim wins, a later one of the same user sees it, and
// the name is free again once the holder is gone.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "host/InstanceLock.h"

namespace digitmosaic {
namespace {

std::string UniqueName() { return "digitmosaic-test-" + std::to_string(getpid()); }

TEST(InstanceLockTest, SecondClaimSeesTheFirstUntilItIsReleased) {
    const std::string name = UniqueName();
    {
        InstanceLock first(name);
        EXPECT_FALSE(first.AnotherInstanceRunning());
        EXPECT_FALSE(first.AnotherInstanceRunning()) << "the holder must not see itself";
        InstanceLock second(name);
        EXPECT_TRUE(second.AnotherInstanceRunning());
        EXPECT_TRUE(second.AnotherInstanceRunning());
    }
    InstanceLock later(name);
    EXPECT_FALSE(later.AnotherInstanceRunning());
}

TEST(InstanceLockTest, AKilledHolderLeavesNothingBehind) {
    const std::string name = UniqueName() + "-killed";
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        InstanceLock lock(name);
        const char claimed = lock.AnotherInstanceRunning() ? 'n' : 'y';
        (void)!write(ready[1], &claimed, 1);
        pause();
        _exit(0);
    }
    char claimed = 0;
    ASSERT_EQ(read(ready[0], &claimed, 1), 1);
    ASSERT_EQ(claimed, 'y');
    EXPECT_TRUE(InstanceLock(name).AnotherInstanceRunning());

    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_FALSE(InstanceLock(name).AnotherInstanceRunning());
    close(ready[0]);
    close(ready[1]);
}

TEST(InstanceLockTest, ManyQueriesNeverStallTheHolder) {
    const std::string name = UniqueName() + "-many";
    InstanceLock holder(name);
    ASSERT_FALSE(holder.AnotherInstanceRunning());
    // More queries than the listen backlog: each must still get an answer.
    for (int i = 0; i < 200; ++i) {
        if (i % 10 == 0) {
            holder.AcceptPending();
        }
        ASSERT_TRUE(InstanceLock(name).AnotherInstanceRunning()) << "query " << i;
    }
}

}  // namespace
}  // namespace digitmosaic

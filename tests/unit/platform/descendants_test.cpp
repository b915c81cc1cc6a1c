// Descendants that left the launcher's process group and session, and whose
// parent is gone, are still the launcher's to stop.

#include "platform/posix/descendants.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace talve {
namespace {

// Each test runs in a process of its own, so being a subreaper stays here.
TEST(Descendants, AnOrphanInASessionOfItsOwnIsAdoptedAndStopped) {
    ASSERT_TRUE(posix::adoptOrphanedDescendants());
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t middle = fork();
    ASSERT_GE(middle, 0);
    if (middle == 0) {
        if (fork() == 0) {
            setsid();
            const pid_t self = getpid();
            if (write(ready[1], &self, sizeof self) != sizeof self) _exit(1);
            for (;;) pause();
        }
        _exit(0);
    }
    close(ready[1]);
    pid_t orphan = 0;
    ASSERT_EQ(read(ready[0], &orphan, sizeof orphan), static_cast<ssize_t>(sizeof orphan));
    close(ready[0]);
    ASSERT_EQ(waitpid(middle, nullptr, 0), middle);
    EXPECT_NE(getsid(orphan), getsid(0));

    posix::stopAllDescendants();
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 200 && ended == 0; ++i) {
        ended = waitpid(orphan, &status, WNOHANG);
        if (ended == 0) usleep(10000);
    }
    if (ended != orphan) kill(orphan, SIGKILL);
    ASSERT_EQ(ended, orphan) << "the orphan was not adopted, or not stopped";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    posix::stopAllDescendants(); // none left: returns at once
}

} // namespace
} // namespace talve

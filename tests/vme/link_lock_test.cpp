// Cross-process link lock: names, sharing between processes, recovery from a
// holder that died.
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

#include "vme_test_util.h"
#include "wait_progress.h"

using namespace vmetest;
using namespace koruvme;

namespace {

std::string uniqueName(const char *tag)
{
    return "KORUV_LCK_test_" + std::string(tag) + "_" + std::to_string(getpid());
}

// Reaps a child within 30 s; one still running then is killed and reaped, and
// the result is false.
bool reap(pid_t child, int *status)
{
    // Waits for the exit; only a hang ends the wait early.
    pid_t r = 0;
    koru_test::waitFor([&] {
        r = waitpid(child, status, WNOHANG);
        return r == child || (r < 0 && errno != EINTR);
    });
    if (r == child)
        return true;
    if (r < 0 && errno != EINTR)
        return false;
    kill(child, SIGKILL);
    waitpid(child, status, 0);
    return false;
}

} // namespace

TEST(VmeLockTest, NamesByKind)
{
    BoardEntry e{};
    char name[64];
    e.linkKind = 0;
    e.linkNumber = 0;
    ASSERT_TRUE(vme_lock_name(e, name, sizeof name));
    EXPECT_STREQ(name, "KORUV_LCK_0_0");
    e.linkKind = 5;
    e.linkNumber = 3;
    e.boardNumber = 1;
    ASSERT_TRUE(vme_lock_name(e, name, sizeof name));
    EXPECT_STREQ(name, "KORUV_LCK_5_3_1");
    e.linkKind = 3;
    e.linkNumber = 0xFFFFFFFE;
    ASSERT_TRUE(vme_lock_name(e, name, sizeof name));
    EXPECT_STREQ(name, "KORUV_LCK_3_4294967294");
    e.linkKind = 9;
    EXPECT_FALSE(vme_lock_name(e, name, sizeof name));
}

TEST(VmeLockTest, SecondOpenerSharesTheMutexAndObjectOutlivesIt)
{
    const std::string name = uniqueName("share");
    SharedMutex *a = nullptr, *b = nullptr;
    ASSERT_EQ(shared_mutex_init(&a, name.c_str()), 0);
    EXPECT_TRUE(shared_mutex_was_creator(a));
    ASSERT_EQ(shared_mutex_init(&b, name.c_str()), 0);
    EXPECT_FALSE(shared_mutex_was_creator(b));
    ASSERT_EQ(shared_mutex_lock(a), 0);
    ASSERT_EQ(shared_mutex_unlock(a), 0);
    ASSERT_EQ(shared_mutex_lock(b), 0);
    ASSERT_EQ(shared_mutex_unlock(b), 0);
    EXPECT_EQ(shared_mutex_close(a), 0);
    EXPECT_EQ(shared_mutex_close(b), 0);
    // The object stays; the next user opens it as it is.
    SharedMutex *c = nullptr;
    ASSERT_EQ(shared_mutex_init(&c, name.c_str()), 0);
    EXPECT_FALSE(shared_mutex_was_creator(c));
    EXPECT_EQ(shared_mutex_lock(c), 0);
    EXPECT_EQ(shared_mutex_unlock(c), 0);
    EXPECT_EQ(shared_mutex_close(c), 0);
    shm_unlink(name.c_str());
}

TEST(VmeLockTest, HolderThatDiesLeavesTheLockUsable)
{
    const std::string name = uniqueName("dead");
    SharedMutex *m = nullptr;
    ASSERT_EQ(shared_mutex_init(&m, name.c_str()), 0);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SharedMutex *cm = nullptr;
        if (shared_mutex_init(&cm, name.c_str()) != 0 || shared_mutex_lock(cm) != 0)
            _exit(1);
        char c = 'x';
        (void)!write(ready[1], &c, 1);
        _exit(0); // dies holding the lock
    }
    // Without our copy of the write end, a child that fails ends the read.
    close(ready[1]);
    char c = 0;
    const ssize_t got = read(ready[0], &c, 1);
    close(ready[0]);
    int status = 0;
    ASSERT_TRUE(reap(child, &status));
    ASSERT_EQ(got, 1);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(shared_mutex_lock(m), 0);
    EXPECT_EQ(shared_mutex_unlock(m), 0);
    EXPECT_EQ(shared_mutex_lock(m), 0);
    EXPECT_EQ(shared_mutex_unlock(m), 0);
    EXPECT_EQ(shared_mutex_close(m), 0);
    shm_unlink(name.c_str());
}

TEST(VmeLockTest, TwoProcessesSerialise)
{
    const std::string name = uniqueName("order");
    SharedMutex *m = nullptr;
    ASSERT_EQ(shared_mutex_init(&m, name.c_str()), 0);
    // A shared counter that each holder bumps twice with a pause in between:
    // under the lock nobody sees an odd value on entry.
    auto *shared = static_cast<std::atomic<int> *>(
        mmap(nullptr, 8, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(shared, MAP_FAILED);
    shared[0] = 0;
    shared[1] = 0; // odd entries seen
    auto work = [&](SharedMutex *lock) {
        for (int i = 0; i < 50; ++i) {
            shared_mutex_lock(lock);
            if (shared[0].load() % 2)
                shared[1]++;
            shared[0]++;
            usleep(200);
            shared[0]++;
            shared_mutex_unlock(lock);
        }
    };
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SharedMutex *cm = nullptr;
        if (shared_mutex_init(&cm, name.c_str()) != 0)
            _exit(1);
        work(cm);
        _exit(0);
    }
    work(m);
    int status = 0;
    ASSERT_TRUE(reap(child, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(shared[0].load(), 200);
    EXPECT_EQ(shared[1].load(), 0);
    munmap(shared, 8);
    EXPECT_EQ(shared_mutex_close(m), 0);
    shm_unlink(name.c_str());
}

TEST(VmeLockTest, HandleCallsRecoverAfterAHolderDied)
{
    // A bridge on a simulated card: a child process opens the same link,
    // takes its lock and dies; the parent's next call completes. Lock objects
    // are shared by every process of the host, so the card number is this
    // process's own: no other test or test run touches its lock.
    SimDeviceIo dev;
    setDeviceIo(&dev);
    struct Restore {
        ~Restore() { setDeviceIo(nullptr); }
    } restore;
    uint32_t link = static_cast<uint32_t>(getpid());
    dev.addNode("/dev/j4280_" + std::to_string(16 * link));
    const std::string lock = lockName(4, link, 0);
    shm_unlink(lock.c_str());
    int32_t h = -1;
    ASSERT_EQ(KORUVME_Init2(2, &link, 0, &h), 0);
    ASSERT_NE(g_boards[h].lock, nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(vme_link_lock(h) == 0 ? 0 : 1); // dies holding the lock
    int status = 0;
    ASSERT_TRUE(reap(child, &status));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    uint32_t v = 0;
    EXPECT_EQ(KORUVME_ReadRegister(h, 28, &v), 0);
    EXPECT_EQ(KORUVME_ReadRegister(h, 28, &v), 0);
    EXPECT_EQ(KORUVME_End(h), 0);
    shm_unlink(lock.c_str());
}

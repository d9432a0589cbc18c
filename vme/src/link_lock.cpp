// Cross-process link lock: one robust, process-shared mutex per link, kept in
// a POSIX shared-memory object named after the link. The object is never
// removed; later processes reuse the mutex in it.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "vme_internal.h"

namespace koruvme {

struct SharedMutex {
    pthread_mutex_t *mutex;
    char name[256];
    bool creator;
};

namespace {

constexpr size_t kObjectSize = 40;
static_assert(sizeof(pthread_mutex_t) <= kObjectSize, "the lock object holds one mutex");

// Where shm_open keeps its objects: a new object is prepared under a private
// name and linked into place only once its mutex is initialised, so another
// process never maps a half-made lock.
constexpr const char *kShmDir = "/dev/shm/";

int fail(const char *step, int err)
{
    errno = err;
    std::perror(step);
    return err;
}

int mapObject(int fd, pthread_mutex_t **out)
{
    if (ftruncate(fd, kObjectSize) != 0) {
        int err = errno;
        ::close(fd);
        return fail("ftruncate", err);
    }
    void *p = mmap(nullptr, kObjectSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    int err = errno;
    ::close(fd);
    if (p == MAP_FAILED)
        return fail("mmap", err);
    *out = static_cast<pthread_mutex_t *>(p);
    return 0;
}

int initMutex(pthread_mutex_t *m)
{
    pthread_mutexattr_t attr;
    int r = pthread_mutexattr_init(&attr);
    if (r)
        return fail("pthread_mutexattr_init", r);
    const char *step = nullptr;
    if ((r = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED)))
        step = "pthread_mutexattr_setpshared";
    else if ((r = pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST)))
        step = "pthread_mutexattr_setrobust";
    else if ((r = pthread_mutex_init(m, &attr)))
        step = "pthread_mutex_init";
    pthread_mutexattr_destroy(&attr);
    return step ? fail(step, r) : 0;
}

// Creates the object under a private name, initialises its mutex and links it
// into place. EEXIST: another process was first.
int createObject(const char *name, pthread_mutex_t **out)
{
    char temp[300];
    std::snprintf(temp, sizeof temp, "%s.new.%ld", name, static_cast<long>(getpid()));
    int fd = shm_open(temp, O_RDWR | O_CREAT | O_EXCL, 0666);
    if (fd < 0) {
        if (errno == EEXIST) {
            shm_unlink(temp);
            fd = shm_open(temp, O_RDWR | O_CREAT | O_EXCL, 0666);
        }
        if (fd < 0)
            return fail("shm_open", errno);
    }
    pthread_mutex_t *m = nullptr;
    int r = mapObject(fd, &m);
    if (r == 0)
        r = initMutex(m);
    if (r == 0) {
        std::string from = std::string(kShmDir) + (temp[0] == '/' ? temp + 1 : temp);
        std::string to = std::string(kShmDir) + (name[0] == '/' ? name + 1 : name);
        if (::link(from.c_str(), to.c_str()) != 0)
            r = errno == EEXIST ? EEXIST : fail("shm_open", errno);
    }
    shm_unlink(temp);
    if (r != 0) {
        if (m)
            munmap(m, kObjectSize);
        return r;
    }
    *out = m;
    return 0;
}

} // namespace

int shared_mutex_open(SharedMutex *sm, const char *name)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = shm_open(name, O_RDWR, 0666);
        if (fd >= 0) {
            pthread_mutex_t *m = nullptr;
            int r = mapObject(fd, &m);
            if (r)
                return r;
            sm->mutex = m;
            sm->creator = false;
            std::snprintf(sm->name, sizeof sm->name, "%s", name);
            return 0;
        }
        if (errno != ENOENT)
            return fail("shm_open", errno);
        pthread_mutex_t *m = nullptr;
        int r = createObject(name, &m);
        if (r == 0) {
            sm->mutex = m;
            sm->creator = true;
            std::snprintf(sm->name, sizeof sm->name, "%s", name);
            return 0;
        }
        if (r != EEXIST)
            return r;
        // Another process created it meanwhile: open that one.
    }
    return fail("shm_open", EEXIST);
}

int shared_mutex_init(SharedMutex **out, const char *name)
{
    auto *sm = static_cast<SharedMutex *>(std::calloc(1, sizeof(SharedMutex)));
    if (!sm)
        return ENOMEM;
    int r = shared_mutex_open(sm, name);
    if (r) {
        std::free(sm);
        return r;
    }
    *out = sm;
    return 0;
}

int shared_mutex_lock(SharedMutex *sm)
{
    int r = pthread_mutex_lock(sm->mutex);
    if (r == EOWNERDEAD)
        return pthread_mutex_consistent(sm->mutex);
    return r;
}

int shared_mutex_unlock(SharedMutex *sm)
{
    int r = pthread_mutex_unlock(sm->mutex);
    sched_yield();
    return r;
}

int shared_mutex_close(SharedMutex *sm)
{
    if (munmap(sm->mutex, kObjectSize) != 0) {
        int err = errno;
        std::perror("munmap");
        return err;
    }
    std::free(sm);
    return 0;
}

bool shared_mutex_was_creator(const SharedMutex *sm)
{
    return sm && sm->creator;
}

bool vme_lock_name(const BoardEntry &e, char *out, size_t size)
{
    char name[30]; // at most 29 characters
    switch (e.linkKind) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 6:
    case 7:
        std::snprintf(name, sizeof name, "KORUV_LCK_%d_%u", static_cast<int>(e.linkKind), e.linkNumber);
        break;
    case 4:
    case 5:
        std::snprintf(name, sizeof name, "KORUV_LCK_%d_%u_%d", static_cast<int>(e.linkKind), e.linkNumber,
                      e.boardNumber);
        break;
    default:
        return false;
    }
    std::snprintf(out, size, "%s", name);
    return true;
}

int vme_link_lock_create(int32_t handle)
{
    BoardEntry &e = g_boards[handle];
    mode_t old = umask(0);
    char name[64];
    int r = -1;
    if (vme_lock_name(e, name, sizeof name)) {
        r = shared_mutex_init(&e.lock, name);
        if (r != 0) {
            e.lock = nullptr;
            std::fprintf(stderr, "mutex init failed with error %d\n", r);
        }
    }
    umask(old);
    return r;
}

// A handle whose lock could not be made works without the cross-process lock
// (the failure was reported at initialisation).
int vme_link_lock(int32_t handle)
{
    SharedMutex *m = g_boards[handle].lock;
    if (!m)
        return 0;
    int r = shared_mutex_lock(m);
    if (r)
        std::fprintf(stderr, "shared_mutex_lock failed with error %d\n", r);
    return r;
}

int vme_link_unlock(int32_t handle)
{
    SharedMutex *m = g_boards[handle].lock;
    if (!m)
        return 0;
    int r = shared_mutex_unlock(m);
    if (r)
        std::fprintf(stderr, "shared_mutex_unlock failed with error %d\n", r);
    return r;
}

} // namespace koruvme

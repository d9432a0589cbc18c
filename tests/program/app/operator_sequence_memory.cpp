/* The walk binary's operator new. Where a freed object's memory goes next
 * decides some findings (a cell deleted while a new one takes its address),
 * and the C library's allocator decides that by what other threads (the
 * painter's pool among them) freed meanwhile and by the neighbours of each
 * chunk, which differ from run to run. Here memory is handed out in a
 * fixed order instead: per thread and per size (in 16-byte steps), the
 * block freed last is the next one given; a block freed by another thread
 * than the one that took it goes back to the C library. So a replay reuses
 * memory as the walk that found something did. Not under the sanitizers,
 * which keep their own allocator and its checks. */
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

constexpr std::size_t kStep = 16;
constexpr std::size_t kClasses = 256; /* blocks up to 4 KiB are reused */

/* Per thread, trivially destroyed: what a thread that ends keeps is not
 * given back (the walk's threads are few). */
struct Pool {
    void *free[kClasses];
};
thread_local Pool pool;

/* Before each block; keeps the block 16-byte aligned. */
struct alignas(16) Head {
    std::size_t sizeClass; /* kClasses: not reused */
    const Pool *owner;
};

} // namespace

void *operator new(std::size_t n)
{
    const std::size_t c = n == 0 ? 1 : (n + kStep - 1) / kStep;
    if (c < kClasses && pool.free[c]) {
        void *block = pool.free[c];
        pool.free[c] = *static_cast<void **>(block);
        return block;
    }
    auto *head = static_cast<Head *>(std::malloc(sizeof(Head) + (c < kClasses ? c * kStep : n)));
    if (!head)
        throw std::bad_alloc();
    head->sizeClass = c < kClasses ? c : kClasses;
    head->owner = &pool;
    return head + 1;
}

void operator delete(void *block) noexcept
{
    if (!block)
        return;
    Head *head = static_cast<Head *>(block) - 1;
    if (head->sizeClass < kClasses && head->owner == &pool) {
        *static_cast<void **>(block) = pool.free[head->sizeClass];
        pool.free[head->sizeClass] = block;
        return;
    }
    std::free(head);
}

void operator delete(void *block, std::size_t) noexcept
{
    operator delete(block);
}

#endif

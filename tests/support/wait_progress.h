// Waiting for progress in tests. A test waits for what it expects to
// happen (a count reached, a condition signalled), never for a time: only
// a hang ends the wait, after kHangGuard, which is far beyond any loaded
// machine's slowness yet well inside ctest's per-test limit, so the test
// fails with its own message saying what was still pending.
// Header-only and free of Qt: a Qt test passes a step that runs its event
// loop (QTest::qWait).
#pragma once

#include <chrono>
#include <thread>

namespace koru_test {

constexpr std::chrono::milliseconds kHangGuard{std::chrono::minutes(2)};
constexpr int kHangGuardMs = int(kHangGuard.count());

// Calls step() until done() holds; false when bound passes first.
template <typename Done, typename Step>
bool waitFor(Done done, Step step, std::chrono::milliseconds bound = kHangGuard)
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return done();
        step();
    }
    return true;
}

// Polls done() every few milliseconds until it holds; false when bound
// passes first.
template <typename Done> bool waitFor(Done done, std::chrono::milliseconds bound = kHangGuard)
{
    return waitFor(
        done, [] { std::this_thread::sleep_for(std::chrono::milliseconds(5)); }, bound);
}

} // namespace koru_test

/* A repeated notice of the program's log at most once per interval: a flood
 * (of refused connections, say) is named by its first line, and each later
 * line counts what went unsaid since the one before. Any thread. */
#ifndef KORUHVNOTICETHROTTLE_H
#define KORUHVNOTICETHROTTLE_H

#include <QString>

#include <chrono>
#include <mutex>

class KORUHVNoticeThrottle {
public:
    static constexpr std::chrono::seconds interval{10};

    /* One more occurrence. True when its line is due; *unsaid then holds the
     * occurrences left unsaid before it. */
    bool due(int *unsaid)
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto now = std::chrono::steady_clock::now();
        if (said && now - last < interval) {
            ++skipped;
            return false;
        }
        said = true;
        last = now;
        *unsaid = skipped;
        skipped = 0;
        return true;
    }

    /* " (and N more since the last notice)" for a line that follows unsaid
     * ones; empty otherwise. */
    static QString unsaidText(int unsaid)
    {
        return unsaid > 0 ? QStringLiteral(" (and %1 more since the last notice)").arg(unsaid) : QString();
    }

private:
    std::mutex mutex;
    std::chrono::steady_clock::time_point last{};
    bool said = false;
    int skipped = 0;
};

#endif

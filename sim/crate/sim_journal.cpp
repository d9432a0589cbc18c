// The wire journal of the crate and rack simulators (KORU_SIM_JOURNAL).
#include "crate/sim_journal.h"

#include "common/journal_text.h"

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace korusim {

WireJournal::WireJournal()
{
    if (const char *path = std::getenv("KORU_SIM_JOURNAL"); path && *path)
        path_ = path;
}

void WireJournal::add(int connection, const std::string &request, const std::string &reply, const char *note)
{
    if (on())
        entries_.push_back({connection, request, reply, note ? note : ""});
}

void WireJournal::write(const std::string &title, const std::vector<std::string> &errors) const
{
    if (!on())
        return;
    // The format of the text-module simulators' journal: a request line led
    // by its connection number, the reply and a remark indented below it.
    std::string block = "== " + title + "\n";
    for (const Entry &e : entries_) {
        block += std::to_string(e.connection) + " > " + journalText(e.request, true) + "\n  < " +
                 journalText(e.reply, true) + "\n";
        if (*e.note)
            block += std::string("  ! ") + e.note + "\n";
    }
    for (const std::string &error : errors)
        block += "- ! " + journalText(error, true) + "\n";
    // One write on an appending descriptor: the blocks of simulators in
    // parallel processes do not interleave.
    int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    for (size_t at = 0; at < block.size();) {
        const ssize_t n = ::write(fd, block.data() + at, block.size() - at);
        if (n <= 0)
            break;
        at += size_t(n);
    }
    ::close(fd);
}

} // namespace korusim

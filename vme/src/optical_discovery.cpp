// Global numbering of the host's optical links: J4280 cards first (counted in
// "/proc/j4280"), then four links per J5280 card (found in "/dev"), then the
// XDMA cards' links.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "device_io.h"
#include "vme_internal.h"

namespace koruvme {

namespace {

bool mayRead(const struct stat &st)
{
    if (st.st_uid == geteuid())
        return st.st_mode & S_IRUSR;
    if (st.st_gid == getegid())
        return st.st_mode & S_IRGRP;
    return st.st_mode & S_IROTH;
}

} // namespace

int vme_count_pci_cards()
{
    DeviceIo &io = deviceIo();
    struct stat st {};
    if (io.stat("/proc/j4280", &st) != 0)
        return 0;
    if (!S_ISREG(st.st_mode) || !mayRead(st))
        return -1;
    int fd = io.open("/proc/j4280", O_RDONLY);
    if (fd < 0)
        return -1;
    // Read it whole (bounded: the file is a few lines), then take the last line.
    std::string text;
    char buf[512];
    for (;;) {
        ssize_t n = io.read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        text.append(buf, static_cast<size_t>(n));
        if (text.size() > 65536)
            break;
    }
    io.close(fd);
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    size_t nl = text.rfind('\n');
    std::string last = nl == std::string::npos ? text : text.substr(nl + 1);
    char *end = nullptr;
    long v = std::strtol(last.c_str(), &end, 10);
    if (end == last.c_str() || v < 0 || v > 1000000)
        return -1;
    return static_cast<int>(v);
}

bool vme_discover_optical(BoardEntry &e)
{
    int count = vme_count_pci_cards();
    if (count < 0)
        return false;
    uint32_t link = e.linkNumber;
    if (link < static_cast<uint32_t>(count)) {
        e.linkKind = 4;
        e.card = link;
        e.channel = 0;
        return true;
    }
    uint32_t r = link - static_cast<uint32_t>(count);
    std::vector<DirEntry> entries;
    if (!deviceIo().listDir("/dev", entries))
        return false;
    std::vector<int> cards;
    for (const DirEntry &d : entries) {
        int minor = 0;
        if (!d.charDevice || std::sscanf(d.name.c_str(), "j5280_%d", &minor) != 1)
            continue;
        int card = minor >> 6;
        bool known = false;
        for (int c : cards)
            known = known || c == card;
        if (known)
            continue;
        cards.push_back(card);
        if (cards.size() == 8)
            return false; // at most seven J5280 cards are handled
    }
    uint32_t n = static_cast<uint32_t>(cards.size());
    if (r < 4 * n) {
        e.linkKind = 5;
        e.card = r / 4;
        e.channel = r % 4;
    } else {
        e.linkKind = 7;
        e.card = (r - 4 * n) / 4;
        e.channel = r % 4;
    }
    return true;
}

} // namespace koruvme

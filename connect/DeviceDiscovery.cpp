#include "DeviceDiscovery.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include <QElapsedTimer>

namespace koruconnect {

uint32_t discoveryDestinationForTest = INADDR_BROADCAST;
uint16_t discoveryDestinationPortForTest = 113;
uint32_t discoveryReceiveAddressForTest = INADDR_ANY;
uint16_t discoveryFirstPortForTest = 5500;
int discoveryResendMsForTest = 2000;
int discoveryTotalMsForTest = 10000;

namespace {

/* Closes its descriptor on every way out of a run. */
struct Socket {
    int fd = -1;
    Socket() : fd(::socket(AF_INET, SOCK_DGRAM, 0)) {}
    ~Socket()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;
};

} // namespace

QString DeviceDiscovery::replyText(const char *data, int length)
{
    const void *nul = std::memchr(data, '\0', size_t(length));
    const int n = nul ? int(static_cast<const char *>(nul) - data) : length;
    return QString::fromLatin1(data, n);
}

QStringList DeviceDiscovery::replyFields(const QString &text)
{
    return text.split(':', Qt::SkipEmptyParts);
}

int DeviceDiscovery::insertDeviceInList(const QString &text)
{
    if (m_known.contains(text))
        return 1;
    m_known.append(text);
    return 0;
}

int DeviceDiscovery::run(const StepFn &step, const FoundFn &found)
{
    m_known.clear();
    m_port = 0;
    Socket receiver;
    if (receiver.fd < 0)
        return -2;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(discoveryReceiveAddressForTest);
    unsigned port = discoveryFirstPortForTest;
    for (;; ++port) {
        if (port >= 65535)
            return -2;
        local.sin_port = htons(uint16_t(port));
        if (::bind(receiver.fd, reinterpret_cast<sockaddr *>(&local), sizeof local) == 0)
            break;
    }
    m_port = uint16_t(port);
    Socket sender;
    if (sender.fd < 0)
        return -2;

    sockaddr_in dest{};
    dest.sin_family = AF_INET;
    dest.sin_addr.s_addr = htonl(discoveryDestinationForTest);
    dest.sin_port = htons(discoveryDestinationPortForTest);
    const QByteArray query = "LUMO" + QByteArray::number(port); // no NUL
    int on = 1;
    ::setsockopt(sender.fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    auto send = [&] {
        ::sendto(sender.fd, query.constData(), size_t(query.size()), 0, reinterpret_cast<sockaddr *>(&dest),
                 sizeof dest);
    };
    send();

    QElapsedTimer sinceStart, sinceSend;
    sinceStart.start();
    sinceSend.start();
    char buffer[kReplyBufferSize];
    while (step()) {
        pollfd p{receiver.fd, POLLIN, 0};
        if (::poll(&p, 1, kReceiveTurnMs) > 0 && (p.revents & POLLIN)) {
            std::memset(buffer, 0, sizeof buffer);
            sockaddr_in from{};
            socklen_t fromLen = sizeof from;
            // The whole buffer may be used: the text is built from the length.
            const ssize_t n = ::recvfrom(receiver.fd, buffer, sizeof buffer, 0,
                                         reinterpret_cast<sockaddr *>(&from), &fromLen);
            if (n >= 0) {
                const QString text = replyText(buffer, int(n));
                if (insertDeviceInList(text) == 0) {
                    // Fewer than four fields: dropped, the text stays known. The
                    // resend and the end are still checked, so a stream of
                    // malformed replies cannot stretch the run.
                    const QStringList fields = replyFields(text);
                    if (fields.size() >= 4) {
                        char addr[INET_ADDRSTRLEN] = {};
                        ::inet_ntop(AF_INET, &from.sin_addr, addr, sizeof addr);
                        found({text, fields, QString::fromLatin1(addr)});
                    }
                }
            }
        }
        if (sinceSend.elapsed() > discoveryResendMsForTest) {
            send();
            sinceSend.restart();
        }
        if (sinceStart.elapsed() > discoveryTotalMsForTest)
            break;
    }
    return 0;
}

} // namespace koruconnect

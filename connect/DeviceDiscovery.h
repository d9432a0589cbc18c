/* One network-discovery run: a UDP query "LUMO<port>" to the broadcast
 * address, repeated every 2 s, and the replies collected for 10 s. The loop
 * runs on the caller's thread; between its receive turns (at most 50 ms
 * each) it calls the caller's step function, which processes events and says
 * whether to go on. Each distinct reply text with at least four non-empty
 * ':'-separated fields is reported once per run, in order of arrival. */
#ifndef DEVICEDISCOVERY_H
#define DEVICEDISCOVERY_H

#include <cstdint>
#include <functional>

#include <QString>
#include <QStringList>
#include <QVector>

namespace koruconnect {

/* Internal hooks for tests (never program options): destination of the
 * query (IPv4 in host order), the receive socket's address and first port,
 * the resend and total times in ms. */
extern uint32_t discoveryDestinationForTest;     // 255.255.255.255
extern uint16_t discoveryDestinationPortForTest; // 113
extern uint32_t discoveryReceiveAddressForTest;  // INADDR_ANY
extern uint16_t discoveryFirstPortForTest;       // 5500
extern int discoveryResendMsForTest;             // 2000
extern int discoveryTotalMsForTest;              // 10000

struct DiscoveredDevice {
    QString text;       // the reply as received
    QStringList fields; // model, serial number, firmware release, control firmware (and any more)
    QString address;    // sender's dotted IPv4 address
};

class DeviceDiscovery {
public:
    static constexpr int kReceiveTurnMs = 50;
    static constexpr int kReplyBufferSize = 512;

    /* step(): processes pending events; false ends the run at once. */
    using StepFn = std::function<bool()>;
    using FoundFn = std::function<void(const DiscoveredDevice &)>;

    /* 0 after a run, -2 when the sockets cannot be set up. */
    int run(const StepFn &step, const FoundFn &found);

    /* The port the last run bound for replies (0 before any run). */
    uint16_t boundPort() const { return m_port; }

    /* 1 when the text is already known in this run, else 0 after keeping it. */
    int insertDeviceInList(const QString &text);
    void clearKnown() { m_known.clear(); }

    /* A received datagram as text: up to its first NUL or its length. */
    static QString replyText(const char *data, int length);
    /* The fields of a reply text, empty parts dropped. */
    static QStringList replyFields(const QString &text);

private:
    QVector<QString> m_known;
    uint16_t m_port = 0;
};

} // namespace koruconnect

#endif

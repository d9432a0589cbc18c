/* What the connection dialog decides, without a widget: whether OK may be
 * pressed for a supply and connection type and the values of its fields, and
 * the connection requests (system type, link type, address argument, ...)
 * those fields turn into. The dialog copies its widgets into ConnectFields
 * and only shows the outcome. */
#ifndef CONNECTIONREQUEST_H
#define CONNECTIONREQUEST_H

#include <optional>

#include <QList>
#include <QString>
#include <QStringList>

namespace koruconnect {

/* Supply types in the order of the dialog's "Power Supply Type" combo. */
enum SupplyType {
    PsCrate = 0,      // "HX4400 / HX5500"
    PsVmeHv = 1,      // "VME HV"
    PsNimDesktop = 2, // "NIM / DESKTOP HV"
    PsBq71xx = 3,     // "BQ71XX HV"
    PsBq71xxE = 4,    // "BQ71XXE HV"
    PsTrix = 5,       // "TRIX HV"
    PsBoxes = 6,      // "POWER SUPPLY BOXES"
    PsP8080 = 7,      // "P8080"
};

/* One board row of a row group; fields a group does not have stay empty. */
struct BoardRow {
    QString boardName;
    QString link; // link spin box as displayed
    QString node; // node spin box as displayed
    QString baseAddress;
    QString pid;
};

struct SerialFields {
    QString port;
    QString baudText; // current texts of the baud and data-bits combos
    QString dataText;
    int stopIndex = -1;
    int parityIndex = -1;
    int lbusIndex = -1; // serial LBus selector, -1 when none is selected

    int baud() const; // decimal value of the text, -1 when none
    int dataBits() const;
};

struct ConnectFields {
    int psType = -1;
    int connType = -1;
    bool discoveryRunning = false;
    QString name;
    QString user;
    QString password;
    QStringList tcpOctets; // the four TCP/IP octet fields
    QStringList ethOctets; // the four octet fields of the first Ethernet row
    int tcpLBusIndex = -1;
    QString tcpLBusText;
    SerialFields serial;
    QList<BoardRow> optRows;  // USB / PCI optical link
    QList<BoardRow> usb3Rows; // PID only in the first row
    QList<BoardRow> ethRows;
    QList<BoardRow> j6280Rows;
    QString bqPid; // the BQ71XX J6280 PID field
};

struct ConnectionRequest {
    int sysType = -1;
    int linkType = -1;
    QString initParam;
    QString name;
    QString userOrBoard;
    QString password;
    bool operator==(const ConnectionRequest &) const = default;
};

/* Base address or PID: decimal digits, hexadecimal digits, or 0x/0X and
 * hexadecimal digits; ASCII only (the wrapper reads nothing else). */
bool checkNumberText(const QString &text);

/* The four octet texts as a dotted address in plain decimal ("010" -> "10"),
 * or nothing when an octet is empty, not a number 0..255, the first octet is
 * 0, or the address is 0.0.0.0 or 255.255.255.255. */
std::optional<QString> composeAddress(const QStringList &octets);

/* Whether OK may be enabled (every board row is checked, not only the first). */
bool okEnabled(const ConnectFields &fields);

/* The requests of the combination in row order. Empty for a VME HV
 * connection type past J6280 or a group without rows. */
QList<ConnectionRequest> composeRequests(const ConnectFields &fields);

/* Default name of board row i whose name field is empty: "Board%02d". */
QString defaultBoardName(int row);

} // namespace koruconnect

#endif

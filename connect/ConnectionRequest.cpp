#include "ConnectionRequest.h"

#include <QRegularExpression>

namespace koruconnect {

namespace {

bool asciiDigits(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

/* Decimal text of a number field, or -1 when it is empty or not a number. */
int decimalOrMinus(const QString &text)
{
    if (!asciiDigits(text) || text.size() > 9)
        return -1;
    return text.toInt();
}

QString boardNameOf(const BoardRow &row, int index)
{
    return row.boardName.isEmpty() ? defaultBoardName(index) : row.boardName;
}

bool userAndPassword(const ConnectFields &f)
{
    return !f.user.isEmpty() && !f.password.isEmpty();
}

bool serialOk(const SerialFields &s)
{
    return !s.port.isEmpty() && s.baud() >= 0 && s.dataBits() >= 0 && s.stopIndex >= 0 && s.parityIndex >= 0;
}

bool rowsPass(const QList<BoardRow> &rows, bool basesToo, bool pidsToo)
{
    if (rows.isEmpty())
        return false;
    for (const BoardRow &r : rows) {
        if (basesToo && !checkNumberText(r.baseAddress))
            return false;
        if (pidsToo && !checkNumberText(r.pid))
            return false;
    }
    return true;
}

/* Spin boxes and numbers: decimal without leading zeros. */
QString plainNumber(const QString &text)
{
    int v = decimalOrMinus(text);
    return v < 0 ? text : QString::number(v);
}

} // namespace

int SerialFields::baud() const
{
    return decimalOrMinus(baudText);
}

int SerialFields::dataBits() const
{
    return decimalOrMinus(dataText);
}

QString defaultBoardName(int row)
{
    return QString::asprintf("Board%02d", row);
}

bool checkNumberText(const QString &text)
{
    static const QRegularExpression re(
        QRegularExpression::anchoredPattern("[0-9]+|[0-9a-fA-F]+|0[xX][0-9a-fA-F]+"));
    return !text.isEmpty() && re.match(text).hasMatch();
}

std::optional<QString> composeAddress(const QStringList &octets)
{
    if (octets.size() < 4)
        return std::nullopt;
    int values[4];
    for (int i = 0; i < 4; ++i) {
        const QString &t = octets.at(i);
        if (!asciiDigits(t) || t.size() > 3)
            return std::nullopt;
        values[i] = t.toInt();
        if (values[i] > 255)
            return std::nullopt;
    }
    if (values[0] == 0)
        return std::nullopt; // also rules out 0.0.0.0
    if (values[0] == 255 && values[1] == 255 && values[2] == 255 && values[3] == 255)
        return std::nullopt;
    return QString("%1.%2.%3.%4").arg(values[0]).arg(values[1]).arg(values[2]).arg(values[3]);
}

bool okEnabled(const ConnectFields &f)
{
    if (f.discoveryRunning)
        return false;
    if (f.psType == PsBoxes)
        return true;
    if (f.psType < 0 || f.connType < 0)
        return false;
    switch (f.psType) {
    case PsCrate:
    case PsP8080:
        return composeAddress(f.tcpOctets).has_value() && userAndPassword(f);
    case PsVmeHv:
        switch (f.connType) {
        case 0:
        case 1:
            return rowsPass(f.optRows, true, false);
        case 2:
            return rowsPass(f.usb3Rows, true, false) && checkNumberText(f.usb3Rows.first().pid);
        case 3:
            return composeAddress(f.ethOctets).has_value() && rowsPass(f.ethRows, true, false);
        case 4:
            return rowsPass(f.j6280Rows, true, true);
        default:
            return true;
        }
    case PsNimDesktop:
        if (f.connType == 0)
            return composeAddress(f.tcpOctets).has_value();
        if (f.connType == 1)
            return serialOk(f.serial);
        return true;
    case PsBq71xx:
        if (f.connType == 2)
            return checkNumberText(f.bqPid);
        return f.connType == 0 || f.connType == 1;
    case PsBq71xxE:
    case PsTrix:
        if (f.connType == 0)
            return composeAddress(f.tcpOctets).has_value();
        if (f.connType == 1)
            return serialOk(f.serial);
        return false;
    default:
        return false;
    }
}

QList<ConnectionRequest> composeRequests(const ConnectFields &f)
{
    QList<ConnectionRequest> out;
    const QString ip = composeAddress(f.tcpOctets).value_or(QString());
    auto single = [&](int sysType, int linkType, const QString &initParam) {
        out.append({sysType, linkType, initParam, f.name, f.user, f.password});
    };
    const SerialFields &s = f.serial;
    const QString serialBase = QString("%1_%2_%3_%4_%5")
                                   .arg(s.port)
                                   .arg(s.baud())
                                   .arg(s.dataBits())
                                   .arg(s.stopIndex)
                                   .arg(s.parityIndex);
    switch (f.psType) {
    case PsCrate:
        single(2, 0, ip);
        break;
    case PsP8080:
        single(16, 0, ip);
        break;
    case PsVmeHv: {
        auto rows = [&](const QList<BoardRow> &list, int linkType, auto initOf) {
            for (int i = 0; i < list.size(); ++i)
                out.append({5, linkType, initOf(list.at(i)), f.name, boardNameOf(list.at(i), i), f.password});
        };
        switch (f.connType) {
        case 0:
            rows(f.optRows, 3, [](const BoardRow &r) {
                return QString("%1_0_%2").arg(plainNumber(r.link), r.baseAddress);
            });
            break;
        case 1:
            rows(f.optRows, 4, [](const BoardRow &r) {
                return QString("%1_%2_%3").arg(plainNumber(r.link), plainNumber(r.node), r.baseAddress);
            });
            break;
        case 2: {
            const QString pid = f.usb3Rows.isEmpty() ? QString() : plainNumber(f.usb3Rows.first().pid);
            rows(f.usb3Rows, 6,
                 [&](const BoardRow &r) { return QString("%1_0_%2").arg(pid, r.baseAddress); });
            break;
        }
        case 3: {
            const QString ethIp = composeAddress(f.ethOctets).value_or(QString());
            rows(f.ethRows, 0, [&](const BoardRow &r) { return ethIp + "_0_" + r.baseAddress; });
            break;
        }
        case 4:
            rows(f.j6280Rows, 7, [](const BoardRow &r) {
                return QString("%1_%2_%3").arg(plainNumber(r.pid), plainNumber(r.node), r.baseAddress);
            });
            break;
        default:
            break;
        }
        break;
    }
    case PsNimDesktop:
        if (f.connType == 0)
            single(6, 0, QString("%1_%2").arg(ip, f.tcpLBusText));
        else if (f.connType == 1)
            single(6, 5, QString("%1_%2").arg(serialBase).arg(s.lbusIndex));
        else
            single(6, -1, QString());
        break;
    case PsBq71xx:
        if (f.connType == 0 || f.connType == 1) {
            for (int i = 0; i < f.optRows.size(); ++i) {
                const BoardRow &r = f.optRows.at(i);
                const QString init =
                    f.connType == 0 ? QString("%1_0_0").arg(plainNumber(r.link))
                                    : QString("%1_%2_00000000").arg(plainNumber(r.link), plainNumber(r.node));
                out.append({9, f.connType == 0 ? 3 : 4, init, f.name, boardNameOf(r, i), f.password});
            }
        } else if (f.connType == 2) {
            out.append({9, 7, f.bqPid, f.name, "BQ71XX", f.password});
        }
        break;
    case PsBq71xxE:
    case PsTrix: {
        const int sys = f.psType == PsBq71xxE ? 11 : 13;
        if (f.connType == 0)
            single(sys, 0, ip);
        else if (f.connType == 1 && sys == 11)
            single(sys, 5, serialBase);
        else if (f.connType == 1)
            single(sys, 5, QString("%1_%2").arg(serialBase).arg(s.lbusIndex < 0 ? 0 : s.lbusIndex));
        else
            single(sys, -1, QString());
        break;
    }
    case PsBoxes:
        out.append({13, 0, "127.0.0.1", "PS BOXES", "admin", QString()});
        break;
    default:
        break;
    }
    return out;
}

} // namespace koruconnect

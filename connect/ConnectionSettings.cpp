#include "ConnectionSettings.h"

#include <QRegularExpression>

namespace koruconnect {

namespace {

const char *const kRowKeys[4] = {"_lastBdName_", "_lastOptical1_", "_lastOptical2_", "_lastOptical3_"};

QString ipText(const QStringList &octets)
{
    return composeAddress(octets).value_or(QString());
}

QStringList splitIp(const QString &ip)
{
    if (ip.isEmpty())
        return {};
    return ip.split('.').mid(0, 4);
}

void writeSerial(QSettings &s, const QString &prefix, const SerialFields &f)
{
    s.setValue(prefix + "lastCommPort", f.port);
    s.setValue(prefix + "lastBaudRate", f.baud());
    s.setValue(prefix + "lastCommData", f.dataBits());
    s.setValue(prefix + "lastCommStop", f.stopIndex);
    s.setValue(prefix + "lastCommParity", f.parityIndex);
    s.setValue(prefix + "lastLBusAddr", f.lbusIndex);
}

SerialFields readSerial(QSettings &s, const QString &prefix)
{
    SerialFields f;
    f.port = s.value(prefix + "lastCommPort").toString();
    f.baudText = s.value(prefix + "lastBaudRate").toString();
    f.dataText = s.value(prefix + "lastCommData").toString();
    f.stopIndex = s.value(prefix + "lastCommStop").toInt();
    f.parityIndex = s.value(prefix + "lastCommParity").toInt();
    f.lbusIndex = s.value(prefix + "lastLBusAddr").toInt();
    return f;
}

BoardRow firstRow(const QList<BoardRow> &rows)
{
    return rows.isEmpty() ? BoardRow() : rows.first();
}

void saveSettingsTCPIP(QSettings &s, const ConnectFields &f)
{
    s.setValue("lastConnType", f.connType);
    s.setValue("lastIpAddress", ipText(f.tcpOctets));
    s.setValue("lastUserName", f.user);
    s.setValue("lastLBusAddrTCP", f.tcpLBusIndex);
}

void saveSettingsUSBVCP(QSettings &s, const ConnectFields &f)
{
    s.setValue("lastConnType", f.connType);
    writeSerial(s, QString(), f.serial);
}

/* The unprefixed row copy: first drops the keys that begin with the bare
 * row names (prefixed keys do not begin so and stay). */
void saveSettingsOpticalLink(QSettings &s, const QList<BoardRow> &rows, const QString &prefix)
{
    const QStringList keys = s.allKeys();
    for (const QString &key : keys)
        if (key.startsWith("lastBdName") || key.startsWith("lastOptical"))
            s.remove(key);
    saveRows(s, prefix, rows);
}

} // namespace

std::unique_ptr<QSettings> openConnectionSettings()
{
    return std::make_unique<QSettings>("KORU", "App");
}

void saveRows(QSettings &s, const QString &prefix, const QList<BoardRow> &rows)
{
    for (int i = 0; i < rows.size(); ++i) {
        const BoardRow &r = rows.at(i);
        const QString n = QString::number(i);
        s.setValue(prefix + kRowKeys[0] + n, r.boardName);
        s.setValue(prefix + kRowKeys[1] + n, r.link);
        s.setValue(prefix + kRowKeys[2] + n, r.node);
        s.setValue(prefix + kRowKeys[3] + n, r.baseAddress);
    }
    // Rows of an earlier, longer list would otherwise come back on restore.
    const QStringList keys = s.allKeys();
    for (const QString &key : keys) {
        for (const char *rowKey : kRowKeys) {
            const QString head = prefix + rowKey;
            if (!key.startsWith(head))
                continue;
            bool ok = false;
            const int index = key.mid(head.size()).toInt(&ok);
            if (ok && index >= rows.size())
                s.remove(key);
        }
    }
}

QList<BoardRow> loadRows(QSettings &s, const QString &prefix)
{
    QList<BoardRow> rows;
    for (int i = 0;; ++i) {
        const QString n = QString::number(i);
        BoardRow r;
        r.boardName = s.value(prefix + kRowKeys[0] + n).toString();
        r.link = s.value(prefix + kRowKeys[1] + n).toString();
        r.node = s.value(prefix + kRowKeys[2] + n).toString();
        r.baseAddress = s.value(prefix + kRowKeys[3] + n).toString();
        if (i > 0 && (r.link.isEmpty() || r.node.isEmpty() || r.baseAddress.isEmpty()))
            break;
        rows.append(r);
        if (i >= 999)
            break; // a bound against a damaged store
    }
    return rows;
}

void saveCurrentParameters(QSettings &s, const ConnectFields &f)
{
    s.setValue("lastConnType", f.connType);
    switch (f.psType) {
    case PsCrate:
        s.setValue("HX4400_lastIpAddress", ipText(f.tcpOctets));
        s.setValue("HX4400_lastUserName", f.user);
        break;
    case PsP8080:
        s.setValue("P8080_lastIpAddress", ipText(f.tcpOctets));
        s.setValue("P8080_lastUserName", f.user);
        break;
    case PsVmeHv:
        if (f.connType == 0 || f.connType == 1) {
            saveRows(s, "HV_W3860", f.optRows);
        } else if (f.connType == 2) {
            s.setValue("HV_W4860_PID", firstRow(f.usb3Rows).pid);
            s.setValue("HV_W4860_BA", firstRow(f.usb3Rows).baseAddress);
        } else if (f.connType == 3) {
            s.setValue("HV_W5860_IP", ipText(f.ethOctets));
            s.setValue("HV_W5860_BA", firstRow(f.ethRows).baseAddress);
        } else if (f.connType == 4) {
            const BoardRow r = firstRow(f.j6280Rows);
            s.setValue("HV_J6280_PID", r.pid);
            s.setValue("HV_J6280_KLINK", r.node);
            s.setValue("HV_J6280_BA", r.baseAddress);
        }
        break;
    case PsNimDesktop:
        if (f.connType == 0) {
            s.setValue("BQHV_IP", ipText(f.tcpOctets));
            s.setValue("BQHV_lastLBusAddr", f.tcpLBusIndex);
        } else if (f.connType == 1) {
            writeSerial(s, "BQHV_", f.serial);
        }
        break;
    case PsBq71xx:
        if (f.connType == 0 || f.connType == 1)
            saveRows(s, "BQHV_71", f.optRows);
        else if (f.connType == 2)
            s.setValue("BQHV_71_PID", f.bqPid);
        break;
    case PsBq71xxE:
    case PsTrix:
        if (f.connType == 0)
            s.setValue("BQEHV_IP", ipText(f.tcpOctets));
        else if (f.connType == 1)
            writeSerial(s, "BQEHV_", f.serial);
        break;
    default:
        break;
    }
}

void saveLastChoices(QSettings &s, const ConnectFields &f)
{
    s.setValue("lastCustName", f.name);
    s.setValue("lastPSType", f.psType);
    s.setValue("lastConnectionType", f.connType);
    const bool tcp =
        f.psType == PsCrate ||
        (f.connType == 0 && (f.psType == PsNimDesktop || f.psType == PsBq71xxE || f.psType == PsTrix));
    const bool vcp =
        f.connType == 1 && (f.psType == PsNimDesktop || f.psType == PsBq71xxE || f.psType == PsTrix);
    if (tcp)
        saveSettingsTCPIP(s, f);
    else if (vcp)
        saveSettingsUSBVCP(s, f);
    else if (f.psType == PsVmeHv || f.psType == PsBq71xx)
        saveSettingsOpticalLink(s, f.optRows, "rem");
}

ConnectFields loadParameters(QSettings &s, int psType, int connType)
{
    ConnectFields f;
    f.psType = psType;
    f.connType = connType;
    switch (psType) {
    case PsCrate:
        f.tcpOctets = splitIp(s.value("HX4400_lastIpAddress").toString());
        f.user = s.value("HX4400_lastUserName").toString();
        break;
    case PsP8080:
        f.tcpOctets = splitIp(s.value("P8080_lastIpAddress").toString());
        f.user = s.value("P8080_lastUserName").toString();
        break;
    case PsVmeHv:
        if (connType == 0 || connType == 1) {
            f.optRows = loadRows(s, "HV_W3860");
        } else if (connType == 2) {
            BoardRow r;
            r.pid = s.value("HV_W4860_PID").toString();
            r.baseAddress = s.value("HV_W4860_BA").toString();
            f.usb3Rows = {r};
        } else if (connType == 3) {
            f.ethOctets = splitIp(s.value("HV_W5860_IP").toString());
            BoardRow r;
            r.baseAddress = s.value("HV_W5860_BA").toString();
            f.ethRows = {r};
        } else if (connType == 4) {
            BoardRow r;
            r.pid = s.value("HV_J6280_PID").toString();
            r.node = QString::number(s.value("HV_J6280_KLINK").toInt());
            r.baseAddress = s.value("HV_J6280_BA").toString();
            f.j6280Rows = {r};
        }
        break;
    case PsNimDesktop:
        if (connType == 0) {
            f.tcpOctets = splitIp(s.value("BQHV_IP").toString());
            f.tcpLBusIndex = s.value("BQHV_lastLBusAddr").toInt();
        } else if (connType == 1) {
            f.serial = readSerial(s, "BQHV_");
        }
        break;
    case PsBq71xx:
        if (connType == 0 || connType == 1)
            f.optRows = loadRows(s, "BQHV_71");
        else if (connType == 2)
            f.bqPid = s.value("BQHV_71_PID").toString();
        break;
    case PsBq71xxE:
    case PsTrix:
        if (connType == 0)
            f.tcpOctets = splitIp(s.value("BQEHV_IP").toString());
        else if (connType == 1)
            f.serial = readSerial(s, "BQEHV_");
        break;
    default:
        break;
    }
    return f;
}

} // namespace koruconnect

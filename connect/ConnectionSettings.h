/* The connection dialog's remembered parameters in the settings store
 * (organisation "KORU", application "App"): per supply and connection type,
 * the last choices, and the unprefixed copies. Passwords are never written. */
#ifndef CONNECTIONSETTINGS_H
#define CONNECTIONSETTINGS_H

#include <memory>

#include <QSettings>

#include "ConnectionRequest.h"

namespace koruconnect {

/* Opened afresh for each save or restore. Named explicitly: the main window
 * sets another application name for the rest of the program. */
std::unique_ptr<QSettings> openConnectionSettings();

/* "lastConnType" and the keys of the fields' combination; called before the
 * first connection request. */
void saveCurrentParameters(QSettings &settings, const ConnectFields &fields);

/* "lastCustName", "lastPSType", "lastConnectionType" and the unprefixed
 * copies of the combination; called after the requests. */
void saveLastChoices(QSettings &settings, const ConnectFields &fields);

/* Row keys prefix + "_lastBdName_i", "_lastOptical1_i" (link), "_lastOptical2_i"
 * (node), "_lastOptical3_i" (base address). Row keys of this prefix from the
 * row count upward are removed, so fewer rows reopen as exactly those rows. */
void saveRows(QSettings &settings, const QString &prefix, const QList<BoardRow> &rows);

/* Row 0 always (empty where nothing was kept), then every further row whose
 * link, node and base address are all present. */
QList<BoardRow> loadRows(QSettings &settings, const QString &prefix);

/* The remembered values of one combination in the fields that combination
 * shows (IP texts split into octets, first rows of the row groups, serial
 * values, PIDs); fields of other combinations stay empty. */
ConnectFields loadParameters(QSettings &settings, int psType, int connType);

} // namespace koruconnect

#endif

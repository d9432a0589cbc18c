/* Static operations of the node model: texts of codes reported by the
 * wrapper, property-based conversions, event values, and reading and writing
 * parameters through the wrapper. Never instantiated, holds no data.
 *
 * One .cpp per purpose:
 *   KORUHVUtils_texts.cpp        status, unit, exponent and hexadecimal texts
 *   KORUHVUtils_conversions.cpp  on/off and enumeration texts, property data
 *                                type, packed wrapper lists
 *   KORUHVUtils_events.cpp       event values to node values
 *   KORUHVUtils_read.cpp         reading parameters and system properties
 *   KORUHVUtils_write.cpp        writing parameters and system properties
 * Further purposes (saved configuration files, script files) add their own
 * KORUHVUtils_<purpose>.cpp and declare their operations in the marked block
 * at the end of the class. */
#ifndef KORUHVUTILS_H
#define KORUHVUTILS_H

#include "KORUHVNodeValue.h"
#include "KORUHVTypes.h"
#include "KORUHVWrapper.h"

#include <QByteArray>
#include <QMultiHash>
#include <QString>
#include <QVariant>
#include <QVector>

class KORUHVNode;

class KORUHVUtils {
public:
    KORUHVUtils() = delete;

    /* ---- status, unit, exponent and hexadecimal texts ---- */
    static QString KORUHVSelectConnectionStatus(connStatus status);
    static QString KORUHVConvertBoardStatus(int systemType, int status);
    static QString KORUHVConvertChannelStatus(int systemType, int status);
    /* true when the channel status word shows no alarm. */
    static bool KORUHVCheckChStatusValue(int systemType, int status);
    static QString KORUHVConvertPropertyUnitShortForm(unsigned short unit);
    static QString KORUHVConvertPropertyExpShortForm(short exp);
    static QString KORUHVConvertPropertyUnit(unsigned short unit);
    static QString KORUHVConvertPropertyExp(short exp);
    /* Eight upper-case digits of the 32-bit word (bit 31 included). */
    static QString KORUHVConvertFromBinaryToHexString(int word);
    /* The 32-bit word of a hexadecimal text of at most eight digits (an
     * optional 0x prefix allowed); 0x80000000..0xFFFFFFFF come back as the
     * negative int of the same bits. A text that is no such number gives 0
     * and, when ok is given, *ok = false: writers must not send that 0. */
    static int KORUHVConvertFromHexStringToBinary(QString text, bool *ok = nullptr);

    /* ---- property-based conversions ---- */
    static QString KORUHVConvertPropertyStringFromBool(KORUHVNode *node, bool value);
    /* true for the "Onstate" text, false for the "Offstate" text. Any other
     * text gives false (the off state) and, when ok is given, *ok = false:
     * a text matching neither known state is not read as the other one. */
    static bool KORUHVConvertPropertyBoolFromString(KORUHVNode *node, QString text, bool *ok = nullptr);
    static QString KORUHVConvertPropertyStringFromEnum(KORUHVNode *node, int value);
    /* Value of an "Enum" text; a text not in the list gives 0 and, when ok
     * is given, *ok = false, so that it is not written as a valid 0. */
    static int KORUHVConvertPropertyEnumFromString(KORUHVNode *node, QString text, bool *ok = nullptr);
    static nodeDataType KORUHVSelectPropertyDataType(QString propertyName);
    /* count NUL-terminated Latin-1 texts one after another in *block. */
    static QVector<QString> KORUHVCreateStringVectorFromCharSS(char **block, int count);
    /* count bytes as "%02d" texts. */
    static QVector<QString> KORUHVCreateStringVectorForFwRel(unsigned char **bytes, int count);
    static QString KORUHVConvertParamTypeOnOff(unsigned int code);

    /* ---- event values ---- */
    static KORUHVNodeValue KORUHVCreateValueFromNodeTypeAndEventType(KORUHVNode *node, IDValue_t value);

    /* ---- reading: quality 0 on success, 1 (board: 4 for an unread type)
     * otherwise, stamped when the call began ---- */
    static KORUHVNodeValue KORUHVGetBoardParameterChanged(int handle, unsigned short slot, QString name,
                                                          unsigned wrapperType);
    static KORUHVNodeValue KORUHVGetChannelParameterChanged(int handle, unsigned short slot, QString name,
                                                            unsigned short channel, unsigned wrapperType);
    static KORUHVNodeValue KORUHVGetSystemPropertyChanged(int handle, QString name, unsigned propertyType);

    /* ---- writing: the wrapper's code, KORUHV_MODEL_NOT_WRITTEN for a type
     * that is not written, KORUHV_MODEL_BAD_VALUE (nothing sent) for a value
     * that does not convert to the type or its range ---- */
    static int KORUHVSetBoardParameterChanged(int handle, unsigned short slot, QString name,
                                              unsigned wrapperType, QVariant value);
    /* For wrapper type 0 the caller's variant becomes the float actually
     * handed to the wrapper (left unchanged when the value was refused
     * before any call). */
    static int KORUHVSetChannelParameterChanged(int handle, unsigned short slot, QString name,
                                                unsigned short channel, unsigned wrapperType,
                                                QVariant *value);
    static int KORUHVSetSystemPropertyChanged(int handle, QString name, unsigned propertyType,
                                              QVariant value);

    /* ---- further purposes: declarations added below this line ---- */

    /* ==== configuration hash, saved configuration files, script files ====
     * (KORUHVUtils_confighash.cpp, KORUHVUtils_configfiles.cpp,
     * KORUHVUtils_scripts.cpp) */

    /* The view settings of one system tree as a configuration hash: keys
     * "name", "initParam", "psType", "connType", "isCustomView" and, for a
     * system node, one "boards" entry per slot with its "channels" and their
     * "parameters" (nested levels are KvcStream hashes; values under one key
     * newest first). withView adds "visualIndex"/"isEnabled", withCustomView
     * "isEnabledInCustomView"/"customViewVisualIndex". Null node: empty. */
    static QMultiHash<QString, QVariant> KORUHVCreateHashFromNodeVector(KORUHVNode *systemNode, bool withView,
                                                                        bool withCustomView);
    /* Applies a configuration hash to a connected system's tree: boards by
     * serial number, channels by position, parameters by position and name.
     * Null arguments change nothing. */
    static void KORUHVSetConfigurationToSystemTreeFromHash(KORUHVNode *systemNode,
                                                           QMultiHash<QString, QVariant> *hash);

    /* File names of a saved configuration. chosenPath is what the operator
     * picked: the main file is chosenPath with ".ksc" appended unless it ends
     * in ".ksc" (any case); the folder is the main file's directory and its
     * base name; a per-system file is "<folder>/<name>-<initParam>.kvc" with
     * every "." of the address argument replaced by "_" and every character
     * that would leave the folder ('/', '\\', control characters) by "_". */
    static QString KORUHVMainConfigurationFilePath(QString chosenPath);
    static QString KORUHVConfigurationBaseName(QString chosenPath);
    static QString KORUHVConfigurationFolderPath(QString chosenPath);
    static QString KORUHVSingleConfigurationFilePath(QString folder, QString systemName, QString initParam);

    /* Saving goes through a temporary file that replaces the old one only
     * when complete: false means nothing was replaced. */
    static bool KORUHVSaveMainConfigurationFile(QString chosenPath);
    /* Creates the folder when missing. A null node writes nothing (false). */
    static bool KORUHVSaveSingleConfigurationFile(QString folder, KORUHVNode *systemNode, bool withView,
                                                  bool withCustomView);
    /* Empty when the file cannot be opened or is not a whole configuration. */
    static QMultiHash<QString, QVariant> KORUHVLoadConfigurationFile(QString path);
    /* true when the file is gone afterwards (a missing file is no error). */
    static bool KORUHVDeleteConfigurationFile(QString path);

    /* Action-script files ("kas"). Saved in UTF-8 whatever the locale, so
     * every character the editor takes survives; a text UTF-8 cannot hold
     * (a lone surrogate) is refused. Loading reads UTF-8, and a file that
     * is no valid UTF-8 (one saved by an older version in an 8-bit locale)
     * in the locale's 8-bit encoding, or Latin-1 when the locale is UTF-8.
     * Saving appends ".kas" unless the path ends in it (any case) and
     * returns false, with the reason in *why when given, when the old file
     * was left as it was. Loading gives a null string when the file cannot
     * be opened, an empty (not null) one for an empty file. */
    static bool KORUHVSaveScript(QString path, QString text, QString *why = nullptr);
    static QString KORUHVLoadScript(QString path);
    /* Path a script is saved under (the extension rule above). */
    static QString KORUHVScriptFilePath(QString path);
    /* Name of the text encoding of the locale the environment selects (Qt 6
     * assumes UTF-8 on Unix whatever the locale says); the plain C locale
     * gives Latin-1 so that every byte survives. The change log is written
     * in it; script files written by older versions were. */
    static QByteArray KORUHVLocaleEncodingName();
};

#endif

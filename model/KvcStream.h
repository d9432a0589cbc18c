// Codec of the per-system configuration files ("kvc"): a data stream of
// version 12 holding one string-to-variant hash whose nested levels are
// hashes that keep repeated keys.
//
// Qt 6 can neither read nor write that form itself (its QHash drops repeated
// keys, and a QMultiHash inside a variant is streamed as a user type), so the
// small variant subset these files use is coded here by hand. In memory a
// level is a QMultiHash<QString, QVariant>; a nested level is a QVariant
// holding such a multi-hash (see KvcStream::toVariant). Values under one key
// come back newest first, as they were before writing.
#ifndef KVCSTREAM_H
#define KVCSTREAM_H

#include <QByteArray>
#include <QMultiHash>
#include <QString>
#include <QVariant>

class QIODevice;

namespace KvcStream {

using Hash = QMultiHash<QString, QVariant>;

// Variant type numbers of the stream (Qt 4 numbering).
enum TypeId : quint32 { TypeBool = 1, TypeInt = 2, TypeUInt = 3, TypeString = 10, TypeHash = 28 };

// Deepest nesting the files have: the system level holds boards, a board
// holds channels, a channel holds parameters.
constexpr int MaxNestedLevels = 3;

// Largest file the reader accepts; a configuration of the largest crate is a
// few megabytes.
constexpr qint64 MaxFileSize = 64 * 1024 * 1024;

// A nested level as a variant, and back. hashFromVariant also accepts a
// QVariantHash; anything else gives an empty hash.
QVariant toVariant(const Hash &hash);
Hash hashFromVariant(const QVariant &value);
bool holdsHash(const QVariant &value);

// Encodes a hash. Each level's entries go in the order the Qt 4 hash of the
// program that first wrote these files streamed them (rebuilt from its
// string hash and bucket counts, so the bytes are the same and do not depend
// on this process's hash seed); the values of one key are written oldest
// first, the order that gives newest first when read back.
// Fails (ok false, empty result) on a value outside the subset (Bool, Int,
// UInt, String, nested hash) or a nesting deeper than MaxNestedLevels.
QByteArray encode(const Hash &hash, bool *ok = nullptr);

// Decodes a whole file image. Any error (truncation, a count larger than the
// data, an odd string length, an unknown type, nesting deeper than the
// format) gives an empty hash and ok false. Bytes after the hash are ignored,
// as the stream reader of the program that wrote them did.
Hash decode(const QByteArray &bytes, bool *ok = nullptr);

// Reads at most MaxFileSize bytes from the device and decodes them.
Hash read(QIODevice *device, bool *ok = nullptr);

} // namespace KvcStream

#endif

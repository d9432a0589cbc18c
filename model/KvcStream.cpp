#include "KvcStream.h"

#include <QBuffer>
#include <QDataStream>
#include <QIODevice>
#include <QMetaType>
#include <QStringList>
#include <QtEndian>

#include <algorithm>
#include <vector>

#include <QPair>

namespace KvcStream {

namespace {

using MultiHash = QMultiHash<QString, QVariant>;

// Smallest encoded entry: a null key (4 bytes), a variant header (5 bytes)
// and a one-byte Bool. A count that needs more bytes than are left is false.
constexpr qint64 MinEntrySize = 10;

// The program that wrote these files streamed a Qt 4 hash: its entries, in
// the reverse of that hash's iteration order. That order follows from Qt 4's
// string hash, its bucket counts and the order of insertion, all fixed, so it
// is rebuilt here to give the same bytes. A level is taken to have been
// filled as the configuration builder fills it (its keys in the order below,
// the values of one key oldest first); keys of no known level follow in
// ascending order.
uint qt4StringHash(const QString &key)
{
    uint h = 0;
    for (QChar c : key) {
        h = (h << 4) + c.unicode();
        h ^= (h & 0xf0000000u) >> 23;
        h &= 0x0fffffffu;
    }
    return h;
}

QStringList insertionKeyOrder(const MultiHash &hash)
{
    static const QStringList top = {"name", "initParam", "psType", "connType", "isCustomView", "boards"};
    static const QStringList board = {"isPresent", "serialNumber", "visualIndex", "channels"};
    static const QStringList channel = {"vectorIndex",           "isEnabled",
                                        "visualIndex",           "isEnabledInCustomView",
                                        "customViewVisualIndex", "parameters"};
    static const QStringList parameter = {
        "vectorIndex", "name", "visualIndex", "isEnabled", "isEnabledInCustomView", "customViewVisualIndex"};
    const QStringList *known = &top;
    if (hash.contains(QStringLiteral("isPresent")))
        known = &board;
    else if (hash.contains(QStringLiteral("vectorIndex")))
        known = hash.contains(QStringLiteral("name")) ? &parameter : &channel;
    QStringList order;
    for (const QString &key : *known)
        if (hash.contains(key))
            order.append(key);
    QStringList rest;
    for (const QString &key : hash.uniqueKeys())
        if (!order.contains(key))
            rest.append(key);
    std::sort(rest.begin(), rest.end());
    return order + rest;
}

class Qt4HashOrder {
public:
    // One value added as Qt 4's insertMulti adds it.
    void insertMulti(const QString &key, int entry)
    {
        if (size >= int(buckets.size()))
            rehash(numBits + 1);
        const uint h = qt4StringHash(key);
        std::vector<Node> &chain = buckets[h % buckets.size()];
        auto at = std::find_if(chain.begin(), chain.end(),
                               [&](const Node &n) { return n.h == h && *n.key == key; });
        chain.insert(at, Node{h, &key, entry});
        ++size;
    }

    // Entry numbers in iteration order.
    std::vector<int> iteration() const
    {
        std::vector<int> order;
        for (const auto &chain : buckets)
            for (const Node &n : chain)
                order.push_back(n.entry);
        return order;
    }

private:
    struct Node {
        uint h;
        const QString *key;
        int entry;
    };

    static int primeForNumBits(int bits)
    {
        // The smallest prime above 2^bits, as Qt 4's table gives it.
        static const unsigned char primeDeltas[] = {0, 0,  1, 3,  1, 5,  3,  3, 1,  9,  7,  5, 3, 17, 27, 3,
                                                    1, 29, 3, 21, 7, 17, 15, 9, 43, 35, 15, 0, 0, 0,  0,  0};
        return (1 << bits) + primeDeltas[bits];
    }

    // Runs of equal hash values move together, each to the end of its new
    // bucket, in the old iteration order.
    void rehash(int hint)
    {
        hint = std::max(hint, 4);
        if (hint == numBits)
            return;
        std::vector<std::vector<Node>> old;
        old.swap(buckets);
        numBits = hint;
        buckets.resize(size_t(primeForNumBits(hint)));
        for (const auto &chain : old)
            for (const Node &n : chain)
                buckets[n.h % buckets.size()].push_back(n);
    }

    std::vector<std::vector<Node>> buckets;
    int numBits = 0;
    int size = 0;
};

// The entries of a level in the order they go into the file.
QList<QPair<QString, QVariant>> fileOrder(const MultiHash &hash)
{
    QList<QPair<QString, QVariant>> entries;
    const QStringList keys = insertionKeyOrder(hash);
    for (const QString &key : keys) {
        const QList<QVariant> values = hash.values(key); // newest first
        for (auto it = values.crbegin(); it != values.crend(); ++it)
            entries.append(qMakePair(key, *it));
    }
    Qt4HashOrder qt4;
    for (int i = 0; i < entries.size(); ++i)
        qt4.insertMulti(entries[i].first, i);
    const std::vector<int> iteration = qt4.iteration();
    QList<QPair<QString, QVariant>> result;
    for (auto it = iteration.crbegin(); it != iteration.crend(); ++it)
        result.append(entries[*it]);
    return result;
}

class Writer {
public:
    explicit Writer(QByteArray *out) : buffer(out)
    {
        buffer.open(QIODevice::WriteOnly);
        stream.setDevice(&buffer);
        stream.setVersion(QDataStream::Qt_4_6); // stream version 12
        stream.setByteOrder(QDataStream::BigEndian);
    }

    bool writeHash(const MultiHash &hash, int level)
    {
        stream << quint32(hash.size());
        for (const auto &entry : fileOrder(hash)) {
            writeString(entry.first);
            if (!writeVariant(entry.second, level))
                return false;
        }
        return stream.status() == QDataStream::Ok;
    }

private:
    void writeString(const QString &text)
    {
        if (text.isNull()) {
            stream << quint32(0xFFFFFFFFu);
            return;
        }
        stream << quint32(text.size() * 2);
        for (QChar c : text)
            stream << quint16(c.unicode());
    }

    bool writeHeader(quint32 type)
    {
        stream << type << quint8(0);
        return true;
    }

    bool writeVariant(const QVariant &value, int level)
    {
        switch (value.metaType().id()) {
        case QMetaType::Bool:
            writeHeader(TypeBool);
            stream << quint8(value.toBool() ? 1 : 0);
            return true;
        case QMetaType::Int:
            writeHeader(TypeInt);
            stream << qint32(value.toInt());
            return true;
        case QMetaType::UInt:
            writeHeader(TypeUInt);
            stream << quint32(value.toUInt());
            return true;
        case QMetaType::QString:
            writeHeader(TypeString);
            writeString(value.toString());
            return true;
        default:
            break;
        }
        if (!holdsHash(value) || level >= MaxNestedLevels)
            return false;
        writeHeader(TypeHash);
        return writeHash(hashFromVariant(value), level + 1);
    }

    QBuffer buffer;
    QDataStream stream;
};

class Reader {
public:
    explicit Reader(const QByteArray &bytes) : data(bytes), buffer(&data)
    {
        buffer.open(QIODevice::ReadOnly);
        stream.setDevice(&buffer);
        stream.setVersion(QDataStream::Qt_4_6);
        stream.setByteOrder(QDataStream::BigEndian);
    }

    bool readHash(MultiHash *hash, int level)
    {
        quint32 count = 0;
        if (!readU32(&count))
            return false;
        if (qint64(count) > remaining() / MinEntrySize)
            return false;
        for (quint32 i = 0; i < count; ++i) {
            QString key;
            QVariant value;
            if (!readString(&key) || !readVariant(&value, level))
                return false;
            hash->insert(key, value); // a further value of the key, newest last
        }
        return true;
    }

private:
    qint64 remaining() const { return buffer.size() - buffer.pos(); }

    bool readU32(quint32 *v)
    {
        if (remaining() < 4)
            return false;
        stream >> *v;
        return stream.status() == QDataStream::Ok;
    }

    bool readU8(quint8 *v)
    {
        if (remaining() < 1)
            return false;
        stream >> *v;
        return stream.status() == QDataStream::Ok;
    }

    bool readString(QString *text)
    {
        quint32 bytes = 0;
        if (!readU32(&bytes))
            return false;
        if (bytes == 0xFFFFFFFFu) {
            *text = QString();
            return true;
        }
        if ((bytes & 1u) != 0 || qint64(bytes) > remaining())
            return false;
        const qsizetype units = qsizetype(bytes / 2);
        QString result(units, Qt::Uninitialized);
        if (units > 0) {
            if (stream.readRawData(reinterpret_cast<char *>(result.data()), int(bytes)) != int(bytes))
                return false;
            char16_t *p = reinterpret_cast<char16_t *>(result.data());
            for (qsizetype i = 0; i < units; ++i)
                p[i] = qFromBigEndian(p[i]);
        }
        *text = result;
        return true;
    }

    bool readVariant(QVariant *value, int level)
    {
        quint32 type = 0;
        quint8 isNull = 0;
        if (!readU32(&type) || !readU8(&isNull))
            return false;
        switch (type) {
        case TypeBool: {
            quint8 b = 0;
            if (!readU8(&b))
                return false;
            *value = QVariant(b != 0);
            return true;
        }
        case TypeInt: {
            quint32 v = 0;
            if (!readU32(&v))
                return false;
            *value = QVariant(qint32(v));
            return true;
        }
        case TypeUInt: {
            quint32 v = 0;
            if (!readU32(&v))
                return false;
            *value = QVariant(v);
            return true;
        }
        case TypeString: {
            QString s;
            if (!readString(&s))
                return false;
            *value = QVariant(s);
            return true;
        }
        case TypeHash: {
            if (level >= MaxNestedLevels)
                return false;
            MultiHash nested;
            if (!readHash(&nested, level + 1))
                return false;
            *value = toVariant(nested);
            return true;
        }
        default:
            return false;
        }
    }

    QByteArray data;
    QBuffer buffer;
    QDataStream stream;
};

} // namespace

QVariant toVariant(const Hash &hash)
{
    return QVariant::fromValue(hash);
}

bool holdsHash(const QVariant &value)
{
    return value.metaType() == QMetaType::fromType<MultiHash>() ||
           value.metaType() == QMetaType::fromType<QVariantHash>();
}

Hash hashFromVariant(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<MultiHash>())
        return value.value<MultiHash>();
    if (value.metaType() == QMetaType::fromType<QVariantHash>()) {
        const QVariantHash plain = value.toHash();
        Hash result;
        for (auto it = plain.cbegin(); it != plain.cend(); ++it)
            result.insert(it.key(), it.value());
        return result;
    }
    return Hash();
}

QByteArray encode(const Hash &hash, bool *ok)
{
    QByteArray out;
    bool good = false;
    {
        Writer writer(&out);
        good = writer.writeHash(hash, 0);
    }
    if (!good)
        out.clear();
    if (ok)
        *ok = good;
    return out;
}

Hash decode(const QByteArray &bytes, bool *ok)
{
    Hash result;
    Reader reader(bytes);
    const bool good = bytes.size() <= MaxFileSize && reader.readHash(&result, 0);
    if (!good)
        result.clear();
    if (ok)
        *ok = good;
    return result;
}

Hash read(QIODevice *device, bool *ok)
{
    if (ok)
        *ok = false;
    if (!device || !device->isReadable())
        return Hash();
    QByteArray bytes;
    if (!device->isSequential()) {
        if (device->size() - device->pos() > MaxFileSize)
            return Hash();
        bytes = device->readAll();
    } else {
        while (bytes.size() <= MaxFileSize) {
            const QByteArray chunk = device->read(64 * 1024);
            if (chunk.isEmpty())
                break;
            bytes += chunk;
        }
        if (bytes.size() > MaxFileSize)
            return Hash();
    }
    return decode(bytes, ok);
}

} // namespace KvcStream

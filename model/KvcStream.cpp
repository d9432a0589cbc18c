#include "KvcStream.h"

#include <QBuffer>
#include <QDataStream>
#include <QIODevice>
#include <QMetaType>
#include <QStringList>
#include <QtEndian>

#include <algorithm>

namespace KvcStream {

namespace {

using MultiHash = QMultiHash<QString, QVariant>;

// Smallest encoded entry: a null key (4 bytes), a variant header (5 bytes)
// and a one-byte Bool. A count that needs more bytes than are left is false.
constexpr qint64 MinEntrySize = 10;

class Writer {
public:
    explicit Writer(QByteArray *out) : buffer(out) {
        buffer.open(QIODevice::WriteOnly);
        stream.setDevice(&buffer);
        stream.setVersion(QDataStream::Qt_4_6); // stream version 12
        stream.setByteOrder(QDataStream::BigEndian);
    }

    bool writeHash(const MultiHash &hash, int level) {
        QStringList keys = hash.uniqueKeys();
        std::sort(keys.begin(), keys.end());
        stream << quint32(hash.size());
        for (const QString &key : keys) {
            const QList<QVariant> values = hash.values(key); // newest first
            for (auto it = values.crbegin(); it != values.crend(); ++it) {
                writeString(key);
                if (!writeVariant(*it, level))
                    return false;
            }
        }
        return stream.status() == QDataStream::Ok;
    }

private:
    void writeString(const QString &text) {
        if (text.isNull()) {
            stream << quint32(0xFFFFFFFFu);
            return;
        }
        stream << quint32(text.size() * 2);
        for (QChar c : text)
            stream << quint16(c.unicode());
    }

    bool writeHeader(quint32 type) {
        stream << type << quint8(0);
        return true;
    }

    bool writeVariant(const QVariant &value, int level) {
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
    explicit Reader(const QByteArray &bytes) : data(bytes), buffer(&data) {
        buffer.open(QIODevice::ReadOnly);
        stream.setDevice(&buffer);
        stream.setVersion(QDataStream::Qt_4_6);
        stream.setByteOrder(QDataStream::BigEndian);
    }

    bool readHash(MultiHash *hash, int level) {
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

    bool readU32(quint32 *v) {
        if (remaining() < 4)
            return false;
        stream >> *v;
        return stream.status() == QDataStream::Ok;
    }

    bool readU8(quint8 *v) {
        if (remaining() < 1)
            return false;
        stream >> *v;
        return stream.status() == QDataStream::Ok;
    }

    bool readString(QString *text) {
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

    bool readVariant(QVariant *value, int level) {
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

QVariant toVariant(const Hash &hash) { return QVariant::fromValue(hash); }

bool holdsHash(const QVariant &value) {
    return value.metaType() == QMetaType::fromType<MultiHash>() ||
           value.metaType() == QMetaType::fromType<QVariantHash>();
}

Hash hashFromVariant(const QVariant &value) {
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

QByteArray encode(const Hash &hash, bool *ok) {
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

Hash decode(const QByteArray &bytes, bool *ok) {
    Hash result;
    Reader reader(bytes);
    const bool good = bytes.size() <= MaxFileSize && reader.readHash(&result, 0);
    if (!good)
        result.clear();
    if (ok)
        *ok = good;
    return result;
}

Hash read(QIODevice *device, bool *ok) {
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

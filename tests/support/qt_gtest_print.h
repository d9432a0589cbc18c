/* Readable GoogleTest messages for Qt values (found by argument-dependent
 * lookup: QString and QVariant live in the global namespace). */
#ifndef QT_GTEST_PRINT_H
#define QT_GTEST_PRINT_H

#include <QString>
#include <QVariant>

#include <ostream>

inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

inline void PrintTo(const QVariant &v, std::ostream *os)
{
    *os << "QVariant(" << (v.isValid() ? v.metaType().name() : "invalid") << ", \""
        << v.toString().toStdString() << "\")";
}

/* Streaming a QString into a failure message (EXPECT_... << text). */
inline std::ostream &operator<<(std::ostream &os, const QString &s)
{
    return os << s.toStdString();
}

#endif

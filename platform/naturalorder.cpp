#include "platform/naturalorder.h"

#include <QFile>

namespace naturalorder {

QString sortKey(const QByteArray &nativeName)
{
    return QFile::decodeName(nativeName).toCaseFolded();
}

static bool isDigit(QChar c)
{
    return c.unicode() >= '0' && c.unicode() <= '9';
}

int compareKeys(const QString &a, const QString &b)
{
    const QChar *pa = a.constData(), *ea = pa + a.size();
    const QChar *pb = b.constData(), *eb = pb + b.size();
    while (pa != ea && pb != eb) {
        if (isDigit(*pa) && isDigit(*pb)) {
            while (pa != ea && *pa == u'0')
                ++pa;
            while (pb != eb && *pb == u'0')
                ++pb;
            const QChar *da = pa, *db = pb;
            while (da != ea && isDigit(*da))
                ++da;
            while (db != eb && isDigit(*db))
                ++db;
            // Without leading zeros the longer run is the larger number, and
            // runs of equal length compare digit by digit; no run is too long.
            if (da - pa != db - pb)
                return (da - pa) < (db - pb) ? -1 : 1;
            for (; pa != da; ++pa, ++pb) {
                if (*pa != *pb)
                    return pa->unicode() < pb->unicode() ? -1 : 1;
            }
            continue;
        }
        if (*pa != *pb)
            return pa->unicode() < pb->unicode() ? -1 : 1;
        ++pa;
        ++pb;
    }
    if (pa == ea && pb == eb)
        return 0;
    return pa == ea ? -1 : 1;
}

bool less(const QString &keyA, const QByteArray &nameA, const QString &keyB, const QByteArray &nameB)
{
    const int c = compareKeys(keyA, keyB);
    if (c != 0)
        return c < 0;
    return nameA < nameB;
}

} // namespace naturalorder

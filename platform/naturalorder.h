#pragma once

#include <QByteArray>
#include <QString>

// The order of the browsing list: by name, ignoring case, with runs of digits
// compared by their value ("img2" before "img10"). It depends on no locale, so
// the same folder lists the same way for every user; names equal in that
// order fall back to their exact bytes, so the order is total.
namespace naturalorder {

// Computed once per name: comparing keys allocates nothing.
QString sortKey(const QByteArray &nativeName);

// < 0, 0 or > 0.
int compareKeys(const QString &a, const QString &b);

bool less(const QString &keyA, const QByteArray &nameA, const QString &keyB, const QByteArray &nameB);

} // namespace naturalorder

#pragma once

// What the site tests of the command line and of the window share: files put into a folder,
// designs that the simulated relays hold or do not, and the write frames a relay received.

#include "knownfile.h"
#include "relaysim.h"

#include <QByteArray>
#include <QFile>
#include <QJsonObject>
#include <QList>
#include <QTemporaryDir>
#include <QTest>

namespace veltra::test {

inline bool put(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The pages of the write frames a relay received, in order.
inline QList<int> writtenPages(const RelaySim &sim)
{
    QList<int> pages;
    for (const QJsonObject &frame : sim.frames())
        if (frame[QLatin1String("command")].toString().startsWith(u'B'))
            pages << frame[QLatin1String("page")].toInt();
    return pages;
}

// known.DT as the relays hold it, and other.DT, a design that differs from it in one item
// (circuit 1's insulation sensitivity, 50(mA) against 30(mA)).
inline void putDesigns(const QTemporaryDir &dir)
{
    QByteArray other = kKnownFile;
    other.replace(QByteArray("30(mA),10"), QByteArray("50(mA),10"));
    QVERIFY(other != kKnownFile);
    QVERIFY(put(dir.filePath(QStringLiteral("known.DT")), kKnownFile));
    QVERIFY(put(dir.filePath(QStringLiteral("other.DT")), other));
}

} // namespace veltra::test

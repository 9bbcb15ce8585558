// Key material does not outlive its use: a Blowfish key schedule is zero once
// its object is destroyed, and the wipe helper leaves data it shares with
// another owner alone.
#include "secure_wipe.h"

#include <drovik/blowfish.h>

#include <QtTest/QtTest>

#include <algorithm>
#include <new>

class tst_SecretHygiene : public QObject
{
    Q_OBJECT

private slots:
    void blowfishWipesKeySchedule();
    void wipeLeavesSharedCopiesAlone();
};

void tst_SecretHygiene::blowfishWipesKeySchedule()
{
    // The object lives in storage we own, so its bytes can be read after the
    // destructor has run without touching freed memory. A key schedule is
    // never all zero, so only a wipe leaves every byte zero.
    alignas(QBlowfish) unsigned char storage[sizeof(QBlowfish)];
    std::fill(std::begin(storage), std::end(storage), 0xa5);
    QBlowfish *cipher = new (storage) QBlowfish(QStringLiteral("q4wQv3JZbmqF8W7mC1x0Dg=="));
    cipher->~QBlowfish();
    QCOMPARE(qint64(std::count(std::begin(storage), std::end(storage), 0)),
             qint64(sizeof(storage)));
}

// Wiping through a shared handle would corrupt the other owner's data.
template<typename Text> void wipeSharedCopy(const Text &original)
{
    const Text expected(original.constData(), original.size()); // a copy of its own
    Text shared = original;
    drovik::secureWipe(shared);
    QVERIFY(shared.isEmpty());
    QCOMPARE(original, expected);
}

void tst_SecretHygiene::wipeLeavesSharedCopiesAlone()
{
    // Built at run time: literals live in read-only static storage.
    wipeSharedCopy(QByteArray(8, 'p'));
    wipeSharedCopy(QString(8, QLatin1Char('k')));
}

QTEST_APPLESS_MAIN(tst_SecretHygiene)
#include "tst_secret_hygiene.moc"

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
    // destructor has run without touching freed memory.
    alignas(QBlowfish) unsigned char storage[sizeof(QBlowfish)];
    std::fill(std::begin(storage), std::end(storage), 0xa5);
    QBlowfish *cipher = new (storage) QBlowfish(QStringLiteral("q4wQv3JZbmqF8W7mC1x0Dg=="));
    QVERIFY(!cipher->encrypt(QByteArrayLiteral("plain text")).isEmpty());
    QVERIFY2(std::count(std::begin(storage), std::end(storage), 0) < int(sizeof(storage)) / 2,
             "the state was never filled");
    cipher->~QBlowfish();
    QCOMPARE(qint64(std::count(std::begin(storage), std::end(storage), 0)),
             qint64(sizeof(storage)));
}

void tst_SecretHygiene::wipeLeavesSharedCopiesAlone()
{
    // Wiping through a shared handle would corrupt the other owner's data.
    // Built at run time: literals live in read-only static storage.
    const QByteArray bytes(8, 'p');
    QByteArray sharedBytes = bytes;
    drovik::secureWipe(sharedBytes);
    QVERIFY(sharedBytes.isEmpty());
    QCOMPARE(bytes, QByteArrayLiteral("pppppppp"));

    const QString text(8, QLatin1Char('k'));
    QString sharedText = text;
    drovik::secureWipe(sharedText);
    QVERIFY(sharedText.isEmpty());
    QCOMPARE(text, QStringLiteral("kkkkkkkk"));
}

QTEST_APPLESS_MAIN(tst_SecretHygiene)
#include "tst_secret_hygiene.moc"

// Stores a value protected, reads it back, and prints OK; any other outcome
// exits non-zero with the failing step as the exit code.
#include <drovik/drovik.h>

#include <QtCore/QFile>
#include <QtCore/QSettings>
#include <QtCore/QTemporaryDir>

#include <cstdio>

int main()
{
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const QString path = dir.filePath(QStringLiteral("app.ini"));
    const QString key = QStringLiteral("net/token");
    const QString secret = QStringLiteral("s3cret-value");
    const QByteArray password = QByteArrayLiteral("consumer password");

    {
        QSettings settings(path, QSettings::IniFormat);
        if (!Drovik::encryptNewParam(&settings, key, secret, password))
            return 2;
        settings.sync();
    }

    // The value must be on disk, and not in plain.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 3;
    const QByteArray bytes = file.readAll();
    if (!bytes.contains("[net]") || bytes.contains(secret.toUtf8()))
        return 4;

    const QSettings settings(path, QSettings::IniFormat);
    if (Drovik::value(&settings, key, QVariant(), password).toString() != secret)
        return 5;

    std::puts("OK");
    return 0;
}

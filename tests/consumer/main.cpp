// Stores a value protected and reads it back; prints OK, or exits with the
// number of the step that failed.
#include <drovik/drovik.h>

#include <QtCore/QFile>
#include <QtCore/QSettings>
#include <QtCore/QTemporaryDir>

#include <cstdio>

int main()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("app.ini"));
    const QString key = QStringLiteral("net/token");
    const QString secret = QStringLiteral("s3cret-value");
    const QByteArray password = QByteArrayLiteral("consumer password");
    {
        QSettings settings(path, QSettings::IniFormat);
        if (!dir.isValid() || !Drovik::encryptNewParam(&settings, key, secret, password))
            return 1;
    } // written here
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.readAll().contains(secret.toUtf8()))
        return 2; // missing, or the value in plain
    const QSettings settings(path, QSettings::IniFormat);
    if (Drovik::value(&settings, key, QVariant(), password).toString() != secret)
        return 3;
    std::puts("OK");
    return 0;
}

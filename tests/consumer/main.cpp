// Stores a value protected and reads it back; prints OK, or exits with the
// number of the step that failed.
#include <drovik/drovik.h>

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
    const QSettings settings(path, QSettings::IniFormat);
    if (Drovik::value(&settings, key, QVariant(), password).toString() != secret)
        return 2;
    std::puts("OK");
    return 0;
}

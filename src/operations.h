#ifndef DROVIK_OPERATIONS_H
#define DROVIK_OPERATIONS_H

#include <QtCore/QByteArray>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QVariant>

class QSettings;

// The operations behind the public class, one for each of its calls and with
// the same contract (see drovik.h): each loads the whole file, answers or
// changes the tree, and saves it when anything changed.
namespace drovik {

QVariant value(const QSettings *settings, const QString &key, const QVariant &defaultValue,
               const QByteArray &password);
QVariant value(QSettings *settings, const QString &key, const QVariant &defaultValue,
               const QByteArray &password);
bool isEncryptedFile(QSettings *settings, const QByteArray &password);
bool isEncryptedSection(QSettings *settings, const QString &section, const QByteArray &password);
bool isEncryptedParam(QSettings *settings, const QString &key, const QByteArray &password);
QStringList sections(QSettings *settings, const QByteArray &password);
QStringList parametersOfSection(QSettings *settings, const QString &section,
                                const QByteArray &password);
QStringList parametersOfFile(QSettings *settings, const QByteArray &password);
bool setValue(QSettings *settings, const QString &key, const QVariant &value,
              const QByteArray &password);
bool delParam(QSettings *settings, const QString &key, const QByteArray &password);
bool delParams(QSettings *settings, const QStringList &keys, const QByteArray &password);
bool delSection(QSettings *settings, const QString &section, const QByteArray &password);
bool delSections(QSettings *settings, const QStringList &sections, const QByteArray &password);
bool encryptParam(QSettings *settings, const QString &key, const QByteArray &password);
bool encryptNewParam(QSettings *settings, const QString &key, const QVariant &value,
                     const QByteArray &password);
bool decryptParam(QSettings *settings, const QString &key, const QByteArray &password);
bool decryptNewParam(QSettings *settings, const QString &key, const QVariant &value,
                     const QByteArray &password);
bool encryptSection(QSettings *settings, const QString &section, const QByteArray &password);
bool decryptSection(QSettings *settings, const QString &section, const QByteArray &password);
bool encryptFile(QSettings *settings, const QByteArray &password);
bool decryptFile(QSettings *settings, const QByteArray &password);
bool regen(QSettings *settings, const QByteArray &password);
bool changePassword(QSettings *settings, const QByteArray &oldPassword,
                    const QByteArray &newPassword);

} // namespace drovik

#endif // DROVIK_OPERATIONS_H

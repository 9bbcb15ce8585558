#include "decode_file.h"
#include "decode_section.h"
#include "key_path.h"
#include "operations.h"
#include "payload_cipher.h"
#include "stored_file.h"
#include "stored_protection.h"
#include "value_codec.h"

#include <drovik/drovik.h>

// The public class only forwards: the work lives in namespace drovik, whose
// layers call each other directly and never come back through here.

bool Drovik::parseSectionParamByKey(const QString &key, QString &section, QString &param)
{
    return drovik::splitKeyPath(key, section, param);
}

QString Drovik::tinyStrictToText(const QMap<QString, QVariant> &map)
{
    return drovik::toTypedText(map);
}

QMap<QString, QVariant> Drovik::textToTinyStruct(const QString &text)
{
    return drovik::fromTypedText(text);
}

QString Drovik::decryptEncrypt(bool decrypt, const QString &text, const QString &publicKey,
                               const QByteArray &password, int algorithm)
{
    return decrypt ? drovik::decryptText(text, publicKey, password, algorithm)
                   : drovik::encryptText(text, publicKey, password, algorithm);
}

QString Drovik::genPublicKey()
{
    return drovik::newPublicKey();
}

QByteArray Drovik::getPrivateKey(int index)
{
    return drovik::keystreamPrivateKey(index);
}

QVariant Drovik::value(const QSettings *settings, const QString &key, const QVariant &defaultValue,
                       const QByteArray &password)
{
    return drovik::value(settings, key, defaultValue, password);
}

QVariant Drovik::value(QSettings *settings, const QString &key, const QVariant &defaultValue,
                       const QByteArray &password)
{
    return drovik::value(settings, key, defaultValue, password);
}

bool Drovik::isEncryptedFile(QSettings *settings, const QByteArray &password)
{
    return drovik::isEncryptedFile(settings, password);
}

bool Drovik::isEncryptedSection(QSettings *settings, const QString &section,
                                const QByteArray &password)
{
    return drovik::isEncryptedSection(settings, section, password);
}

bool Drovik::isEncryptedParam(QSettings *settings, const QString &key, const QByteArray &password)
{
    return drovik::isEncryptedParam(settings, key, password);
}

QStringList Drovik::sections(QSettings *settings, const QByteArray &password)
{
    return drovik::sections(settings, password);
}

QStringList Drovik::parametersOfSection(QSettings *settings, const QString &section,
                                        const QByteArray &password)
{
    return drovik::parametersOfSection(settings, section, password);
}

QStringList Drovik::parametersOfFile(QSettings *settings, const QByteArray &password)
{
    return drovik::parametersOfFile(settings, password);
}

bool Drovik::setValue(QSettings *settings, const QString &key, const QVariant &value,
                      const QByteArray &password)
{
    return drovik::setValue(settings, key, value, password);
}

bool Drovik::delParam(QSettings *settings, const QString &key, const QByteArray &password)
{
    return drovik::delParam(settings, key, password);
}

bool Drovik::delParams(QSettings *settings, const QStringList &keys, const QByteArray &password)
{
    return drovik::delParams(settings, keys, password);
}

bool Drovik::delSection(QSettings *settings, const QString &section, const QByteArray &password)
{
    return drovik::delSection(settings, section, password);
}

bool Drovik::delSections(QSettings *settings, const QStringList &sections,
                         const QByteArray &password)
{
    return drovik::delSections(settings, sections, password);
}

bool Drovik::encryptParam(QSettings *settings, const QString &key, const QByteArray &password)
{
    return drovik::encryptParam(settings, key, password);
}

bool Drovik::encryptNewParam(QSettings *settings, const QString &key, const QVariant &value,
                             const QByteArray &password)
{
    return drovik::encryptNewParam(settings, key, value, password);
}

bool Drovik::decryptParam(QSettings *settings, const QString &key, const QByteArray &password)
{
    return drovik::decryptParam(settings, key, password);
}

bool Drovik::decryptNewParam(QSettings *settings, const QString &key, const QVariant &value,
                             const QByteArray &password)
{
    return drovik::decryptNewParam(settings, key, value, password);
}

bool Drovik::encryptSection(QSettings *settings, const QString &section, const QByteArray &password)
{
    return drovik::encryptSection(settings, section, password);
}

bool Drovik::decryptSection(QSettings *settings, const QString &section, const QByteArray &password)
{
    return drovik::decryptSection(settings, section, password);
}

bool Drovik::encryptFile(QSettings *settings, const QByteArray &password)
{
    return drovik::encryptFile(settings, password);
}

bool Drovik::decryptFile(QSettings *settings, const QByteArray &password)
{
    return drovik::decryptFile(settings, password);
}

bool Drovik::regen(QSettings *settings, const QByteArray &password)
{
    return drovik::regen(settings, password);
}

bool Drovik::changePassword(QSettings *settings, const QByteArray &oldPassword,
                            const QByteArray &newPassword)
{
    return drovik::changePassword(settings, oldPassword, newPassword);
}

bool Drovik::getFileData(const QSettings *settings, const QByteArray &password,
                         QMap<QString, QVariant> *tree)
{
    return drovik::loadFile(settings, password, tree, nullptr);
}

bool Drovik::getFileDataWithSaving(QSettings *settings, const QByteArray &password,
                                   QMap<QString, QVariant> *tree)
{
    return drovik::loadWithSaving(settings, password, tree);
}

bool Drovik::parseFile(const QSettings *settings, const QByteArray &password,
                       QMap<QString, QVariant> *tree, bool *needsSaving)
{
    return drovik::loadFile(settings, password, tree, needsSaving);
}

bool Drovik::parseFileUnencrypted(const QSettings *settings, const QByteArray &password,
                                  QMap<QString, QVariant> *tree, bool *needsSaving)
{
    return drovik::loadPlainFile(settings, password, tree, needsSaving);
}

QMap<QString, QVariant> Drovik::parseFileUnencryptedGetSections(const QSettings *settings,
                                                                QStringList &order)
{
    return drovik::rawSections(settings, order);
}

bool Drovik::parseSection(const QByteArray &password, const QString &section,
                          QMap<QString, QVariant> *sectionNode, bool *needsSaving)
{
    return drovik::loadSection(password, section, sectionNode, needsSaving);
}

bool Drovik::parseSectionUnencrypted(const QByteArray &password, const QString &section,
                                     QMap<QString, QVariant> *sectionNode,
                                     QMap<QString, QVariant> *params, bool *needsSaving)
{
    return drovik::loadPlainSection(password, section, sectionNode, params, needsSaving);
}

bool Drovik::parseSectionEncrypted(const QByteArray &password, const QString &section,
                                   QMap<QString, QVariant> *sectionNode,
                                   QMap<QString, QVariant> *params, bool *found)
{
    return drovik::decodeProtectedSection(password, section, sectionNode, params, found);
}

bool Drovik::parseFileEncrypted(const QSettings *settings, const QByteArray &password,
                                QMap<QString, QVariant> *tree, bool *found)
{
    return drovik::decodeProtectedFile(settings, password, tree, found);
}

void Drovik::saveFile(QSettings *settings, const QByteArray &password,
                      const QMap<QString, QVariant> *tree)
{
    drovik::saveFile(settings, password, *tree);
}

QMap<QString, Drovik::Protection> Drovik::storedProtection(const QSettings *settings,
                                                           QStringList *layoutKeys)
{
    return drovik::storedProtection(settings, layoutKeys);
}

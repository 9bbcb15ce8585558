#include "config_tree.h"
#include "key_path.h"

#include "operations.h"
#include "stored_file.h"

#include <QtCore/QSettings>

// Protection is only a flag in the tree: the loader turns stored cipher data
// into flagged plain nodes and the saver turns flags back into cipher data. So
// every operation here is load, change one flag, save.

namespace drovik {

namespace {

// Loads under `password`, changes the tree, saves under `savePassword`.
// Nothing is written when loading fails or the tree cannot be stored faithfully.
template<typename Change>
bool loadChangeSave(QSettings *settings, const QByteArray &password, const QByteArray &savePassword,
                    Change change)
{
    VariantMap tree;
    if (!loadFile(settings, password, &tree, nullptr))
        return false;
    change(tree);
    return saveFaithfully(settings, savePassword, tree);
}

template<typename Change>
bool changeParam(QSettings *settings, const QString &key, const QByteArray &password,
                 bool listNames, Change change)
{
    QString section;
    QString param;
    if (!splitKeyPath(key, section, param))
        return false;
    return loadChangeSave(settings, password, password, [&](VariantMap &tree) {
        changeParamNode(tree, section, param, listNames, change);
    });
}

template<typename Change>
bool changeSection(QSettings *settings, const QString &section, const QByteArray &password,
                   Change change)
{
    return loadChangeSave(settings, password, password,
                          [&](VariantMap &tree) { changeSectionNode(tree, section, change); });
}

} // namespace

bool encryptParam(QSettings *settings, const QString &key, const QByteArray &password)
{
    return changeParam(settings, key, password, false,
                       [](VariantMap &node) { node.insert(tree::encryptedParam(), true); });
}

bool encryptNewParam(QSettings *settings, const QString &key, const QVariant &value,
                     const QByteArray &password)
{
    return changeParam(settings, key, password, true, [&value](VariantMap &node) {
        node.insert(tree::encryptedParam(), true);
        node.insert(tree::value(), value);
    });
}

bool decryptParam(QSettings *settings, const QString &key, const QByteArray &password)
{
    return changeParam(settings, key, password, false,
                       [](VariantMap &node) { node.remove(tree::encryptedParam()); });
}

bool decryptNewParam(QSettings *settings, const QString &key, const QVariant &value,
                     const QByteArray &password)
{
    return changeParam(settings, key, password, true, [&value](VariantMap &node) {
        node.remove(tree::encryptedParam());
        node.insert(tree::value(), value);
    });
}

bool encryptSection(QSettings *settings, const QString &section, const QByteArray &password)
{
    return changeSection(settings, section, password,
                         [](VariantMap &node) { node.insert(tree::encryptedSection(), true); });
}

bool decryptSection(QSettings *settings, const QString &section, const QByteArray &password)
{
    return changeSection(settings, section, password,
                         [](VariantMap &node) { node.remove(tree::encryptedSection()); });
}

bool encryptFile(QSettings *settings, const QByteArray &password)
{
    return loadChangeSave(settings, password, password,
                          [](VariantMap &tree) { tree.insert(tree::encryptedFile(), true); });
}

bool decryptFile(QSettings *settings, const QByteArray &password)
{
    return loadChangeSave(settings, password, password,
                          [](VariantMap &tree) { tree.remove(tree::encryptedFile()); });
}

bool regen(QSettings *settings, const QByteArray &password)
{
    // Every save encrypts under fresh public keys; a plain reload and save is all it takes.
    return loadChangeSave(settings, password, password, [](VariantMap &) {});
}

bool changePassword(QSettings *settings, const QByteArray &oldPassword,
                    const QByteArray &newPassword)
{
    return loadChangeSave(settings, oldPassword, newPassword, [](VariantMap &) {});
}

} // namespace drovik

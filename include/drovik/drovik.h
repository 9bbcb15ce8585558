#ifndef DROVIK_DROVIK_H
#define DROVIK_DROVIK_H

#include <drovik/drovik_export.h>

#include <QtCore/QByteArray>
#include <QtCore/QMap>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QVariant>

class QSettings;

// Protected configuration in INI files handled through QSettings.
//
// Every call reads the whole file afresh into a configuration tree, answers from
// it or changes it, and, where anything changed, clears the file and writes the
// whole tree back through the caller's QSettings object. The library never calls
// QSettings::sync(): the caller decides when the file reaches the disk.
//
// What a write keeps: keys outside any section (bare keys above the first
// section, or what QSettings files under [General]) have no place in the tree,
// so every call that saves drops them; a program that must keep them puts them
// back itself before it syncs. QSettings itself drops comments and lines it
// cannot read, and writes keys in its own sorted order, on any write at all.
// A parameter or section whose own name holds U+0000 or an unpaired surrogate
// is stored in plain; inside a protected section or file such a name cannot be
// stored at all, and a call that would have to save one returns false and
// writes nothing.
//
// Parameters are named by key path ("section/param", the first '/' or '\\'
// splits), sections by bare name. A wrong password shows as a false result; a
// call that returns false has written nothing. Calls that share one QSettings
// object or one file must be serialised by the caller.
class DROVIK_EXPORT Drovik
{
public:
    Drovik() = delete;

    // ---- Reading -------------------------------------------------------------

    // The value at key, or defaultValue when key has no separator or nothing is
    // stored there. Never writes, not even to protect content marked by hand.
    static QVariant value(const QSettings *settings, const QString &key,
                          const QVariant &defaultValue, const QByteArray &password);
    // As above, but first stores protected whatever is marked for protection by
    // hand (so it may write the file).
    static QVariant value(QSettings *settings, const QString &key, const QVariant &defaultValue,
                          const QByteArray &password);

    // ---- Queries and listings (each may write, as the writable value()) ------
    // A wrong password is not reported: the answer comes from what could be
    // loaded before the failure (nothing, for a wholly protected file), and
    // nothing is written.

    // Whether the whole file, the section, or the parameter itself carries
    // protection (not what encloses it). False when it does not exist.
    static bool isEncryptedFile(QSettings *settings, const QByteArray &password);
    static bool isEncryptedSection(QSettings *settings, const QString &section,
                                   const QByteArray &password);
    static bool isEncryptedParam(QSettings *settings, const QString &key,
                                 const QByteArray &password);
    // Section names, in the order the file lists them.
    static QStringList sections(QSettings *settings, const QByteArray &password);
    // Parameter names of one section, as loaded (stored names of a protected
    // parameter's parts included).
    static QStringList parametersOfSection(QSettings *settings, const QString &section,
                                           const QByteArray &password);
    // Every parameter as a "section/param" key path.
    static QStringList parametersOfFile(QSettings *settings, const QByteArray &password);

    // ---- Stored layout, read without a password ------------------------------

    // How an item is stored: as protected data, or as plain content marked by
    // hand for protection at the next save.
    enum Protection { Marked, Protected };
    // Reads the stored keys alone: never decrypts, never writes. The answer names
    // the file (""), each section ("S") and each parameter ("S/P") whose switch
    // reads true; every other item is stored plain. Parameters inside a protected
    // section or file are not seen. layoutKeys (may be null) receives every
    // stored key inside a section that the next save does not write back as
    // plain content: the keys of protected and marked items, "packed-param-"
    // names, "packed-section-" names of a protected or marked section, stale
    // magic texts, and keys stored beside protected data. Since 1.1.
    static QMap<QString, Protection> storedProtection(const QSettings *settings,
                                                      QStringList *layoutKeys);

    // ---- Editing: false when the key has no separator or the password fails --

    // Stores value at key. Where nothing around the key is protected or marked it
    // writes that one key only; otherwise the file is rewritten and every part
    // keeps its protection.
    static bool setValue(QSettings *settings, const QString &key, const QVariant &value,
                         const QByteArray &password);
    // Remove parameters or whole sections; missing names are not an error.
    static bool delParam(QSettings *settings, const QString &key, const QByteArray &password);
    static bool delParams(QSettings *settings, const QStringList &keys, const QByteArray &password);
    static bool delSection(QSettings *settings, const QString &section, const QByteArray &password);
    static bool delSections(QSettings *settings, const QStringList &sections,
                            const QByteArray &password);

    // ---- Changing protection: false on a key without separator or a wrong
    // password, true (and the file rewritten) otherwise -----------------------

    // Stores the parameter at key protected; its value stays as it is.
    static bool encryptParam(QSettings *settings, const QString &key, const QByteArray &password);
    // Sets the value and protects it, creating the section and parameter if needed.
    static bool encryptNewParam(QSettings *settings, const QString &key, const QVariant &value,
                                const QByteArray &password);
    // Stores the parameter at key in plain again.
    static bool decryptParam(QSettings *settings, const QString &key, const QByteArray &password);
    // Sets the value and stores it in plain, creating what is missing.
    static bool decryptNewParam(QSettings *settings, const QString &key, const QVariant &value,
                                const QByteArray &password);
    // Stores the section protected as a whole / in plain again.
    static bool encryptSection(QSettings *settings, const QString &section,
                               const QByteArray &password);
    static bool decryptSection(QSettings *settings, const QString &section,
                               const QByteArray &password);
    // Stores the whole file protected as one / in plain again.
    static bool encryptFile(QSettings *settings, const QByteArray &password);
    static bool decryptFile(QSettings *settings, const QByteArray &password);
    // Re-encrypts every protected part under fresh public keys.
    static bool regen(QSettings *settings, const QByteArray &password);
    // Loads under oldPassword and saves under newPassword; false (nothing
    // written) when oldPassword does not open the file.
    static bool changePassword(QSettings *settings, const QByteArray &oldPassword,
                               const QByteArray &newPassword);

    // ---- Loading and saving the configuration tree ---------------------------
    // The tree: {"sections": {name: {"params": {name: {"value", "encrypted-param"}},
    // "params-order", "encrypted-section"}}, "sections-order", "encrypted-file"}.
    // Loaders fill a tree the caller passes empty and return false when some
    // protected content does not open (the tree then holds what was loaded).
    // needsSaving may be null; it is only ever set to true.

    // Loads without ever writing.
    static bool getFileData(const QSettings *settings, const QByteArray &password,
                            QMap<QString, QVariant> *tree);
    // Loads, then saves at once when content marked by hand still needs protecting.
    // False without saving also when that content holds a name it cannot store.
    static bool getFileDataWithSaving(QSettings *settings, const QByteArray &password,
                                      QMap<QString, QVariant> *tree);
    // Loads the whole file, plain, marked or protected, noting in needsSaving what awaits
    // protection.
    static bool parseFile(const QSettings *settings, const QByteArray &password,
                          QMap<QString, QVariant> *tree, bool *needsSaving);
    // Loads the sections of a file not protected as a whole.
    static bool parseFileUnencrypted(const QSettings *settings, const QByteArray &password,
                                     QMap<QString, QVariant> *tree, bool *needsSaving);
    // Raw section nodes (every param node holding only "value"); appends the
    // section names, in the order QSettings lists them, to order.
    static QMap<QString, QVariant> parseFileUnencryptedGetSections(const QSettings *settings,
                                                                   QStringList &order);
    // Completes one raw section node, whether protected, marked or plain.
    static bool parseSection(const QByteArray &password, const QString &section,
                             QMap<QString, QVariant> *sectionNode, bool *needsSaving);
    // Completes a section node from its plain params, decoding protected parameters.
    static bool parseSectionUnencrypted(const QByteArray &password, const QString &section,
                                        QMap<QString, QVariant> *sectionNode,
                                        QMap<QString, QVariant> *params, bool *needsSaving);
    // Decoders of a protected section / file. *found (never null) tells whether
    // cipher data was present; false result: it was, but the password is wrong.
    static bool parseSectionEncrypted(const QByteArray &password, const QString &section,
                                      QMap<QString, QVariant> *sectionNode,
                                      QMap<QString, QVariant> *params, bool *found);
    static bool parseFileEncrypted(const QSettings *settings, const QByteArray &password,
                                   QMap<QString, QVariant> *tree, bool *found);
    // Clears the file and writes the whole tree, every protected part under a
    // fresh public key. Reports nothing; does not sync.
    static void saveFile(QSettings *settings, const QByteArray &password,
                         const QMap<QString, QVariant> *tree);

    // ---- Building blocks -----------------------------------------------------

    // Splits key at its first '/' or '\\'. False (outputs untouched) without one.
    static bool parseSectionParamByKey(const QString &key, QString &section, QString &param);

    // Typed text form of a payload map and back: integers, doubles, booleans,
    // texts and text lists keep their kind. Unreadable entries are skipped.
    static QString tinyStrictToText(const QMap<QString, QVariant> &map);
    static QMap<QString, QVariant> textToTinyStruct(const QString &text);

    // Payload cipher: plain text to base64 cipher text (decrypt false) or back.
    // Algorithm 2 is Blowfish, any other number the keystream algorithm. Never
    // fails: a wrong password just yields other text.
    static QString decryptEncrypt(bool decrypt, const QString &text, const QString &publicKey,
                                  const QByteArray &password, int algorithm);
    // A fresh public key: 6 lowercase hexadecimal digits.
    static QString genPublicKey();
    // Built-in key material of the keystream algorithm: 18 bytes for one block.
    static QByteArray getPrivateKey(int index);
};

#endif // DROVIK_DROVIK_H

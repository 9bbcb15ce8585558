#ifndef DROVIK_STORED_NAMES_H
#define DROVIK_STORED_NAMES_H

#include <QtCore/QLatin1String>
#include <QtCore/QString>

// Every name the stored INI layout and the configuration tree use, defined once
// so that a misspelt name is a compile error instead of a silent miss.
namespace drovik {
namespace tree {
inline const QString sections()
{
    return QStringLiteral("sections");
}
inline const QString sectionsOrder()
{
    return QStringLiteral("sections-order");
}
inline const QString encryptedFile()
{
    return QStringLiteral("encrypted-file");
}
inline const QString params()
{
    return QStringLiteral("params");
}
inline const QString paramsOrder()
{
    return QStringLiteral("params-order");
}
inline const QString encryptedSection()
{
    return QStringLiteral("encrypted-section");
}
inline const QString value()
{
    return QStringLiteral("value");
}
inline const QString encryptedParam()
{
    return QStringLiteral("encrypted-param");
}
} // namespace tree

namespace stored {
// File level: the group "packed-file".
inline const QString fileGroup()
{
    return QStringLiteral("packed-file");
}
inline const QString fileEnabled()
{
    return QStringLiteral("packed-file/enabled");
}
inline const QString filePublic()
{
    return QStringLiteral("packed-file/public");
}
inline const QString fileAlgorithm()
{
    return QStringLiteral("packed-file/algorithm");
}
inline const QString fileMagicKey()
{
    return QStringLiteral("packed-file/magic");
}
// Name of the file magic key inside a plain group "packed-file".
inline const QString fileMagicParam()
{
    return QStringLiteral("magic");
}
inline const QString fileChunkPrefix()
{
    return QStringLiteral("packed-file/data");
}
// "packed-file/dataNNN": at least three digits, so data999 is followed by data1000.
inline QString fileChunk(int index)
{
    return QStringLiteral("packed-file/data%1").arg(index, 3, 10, QLatin1Char('0'));
}

// Section level: key names inside the section's own group.
inline QLatin1String sectionPrefix()
{
    return QLatin1String("packed-section-");
}
inline const QString sectionEnabled()
{
    return QStringLiteral("packed-section-enabled");
}
inline const QString sectionPublic()
{
    return QStringLiteral("packed-section-public");
}
inline const QString sectionAlgorithm()
{
    return QStringLiteral("packed-section-algorithm");
}
inline const QString sectionMagic()
{
    return QStringLiteral("packed-section-magic");
}
inline const QString sectionChunkPrefix()
{
    return QStringLiteral("packed-section-data");
}
inline QString sectionChunk(int index)
{
    return QStringLiteral("packed-section-data%1").arg(index, 3, 10, QLatin1Char('0'));
}

// Parameter level: key names inside the parameter's group, ending in the parameter name.
inline QLatin1String paramPrefix()
{
    return QLatin1String("packed-param-");
}
inline QLatin1String paramEnabledPrefix()
{
    return QLatin1String("packed-param-enabled");
}
// The parameter's switch is this followed by its name.
inline const QString paramEnabledHead()
{
    return QStringLiteral("packed-param-enabled/");
}
inline QString paramEnabled(const QString &p)
{
    return paramEnabledHead() + p;
}
inline QString paramPublic(const QString &p)
{
    return QStringLiteral("packed-param-public/") + p;
}
inline QString paramAlgorithm(const QString &p)
{
    return QStringLiteral("packed-param-algorithm/") + p;
}
inline QString paramData(const QString &p)
{
    return QStringLiteral("packed-param-data/") + p;
}
// Payload keys of a protected parameter; never stored as keys themselves.
inline QString paramDataParam(const QString &p)
{
    return QStringLiteral("packed-param-dataparam/") + p;
}
inline QString paramMagic(const QString &p)
{
    return QStringLiteral("packed-param-magic/") + p;
}

// Magic texts prove the password: %1 is the item's algorithm number.
inline QString fileMagicText(qlonglong algorithm)
{
    return QStringLiteral("Configuration encoding of Quorvant file, version %1.0").arg(algorithm);
}
inline QString sectionMagicText(qlonglong algorithm)
{
    return QStringLiteral("Configuration encoding of Quorvant section, version %1.0")
            .arg(algorithm);
}
inline QString paramMagicText(qlonglong algorithm)
{
    return QStringLiteral("Configuration encoding of Quorvant param, version %1.0").arg(algorithm);
}

// Written for every protected item; readers take the stored number, 2 if absent.
constexpr int writtenAlgorithm = 2;

// Data chunks: split while more than `threshold` characters remain.
constexpr int fileChunkThreshold = 3000;
constexpr int fileChunkLength = 2000;
constexpr int sectionChunkThreshold = 1500;
constexpr int sectionChunkLength = 1000;
} // namespace stored
} // namespace drovik

#endif // DROVIK_STORED_NAMES_H

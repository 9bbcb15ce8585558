#ifndef DROVIK_TOOL_CONFIG_VIEW_H
#define DROVIK_TOOL_CONFIG_VIEW_H

#include <QtCore/QList>
#include <QtCore/QString>
#include <QtCore/QVariant>

class QSettings;

// How one part (file, section, parameter) is stored.
enum class Protection {
    Plain,
    Marked,    // its switch reads true, but it is still stored in plain
    Protected, // stored as cipher data
};

QString protectionName(Protection protection);

// A protected part read without its password: what stays hidden, and a
// short digest of its stored data, so that a change to it still shows.
struct Hidden
{
    bool hidden = false;
    QString digest;
};

struct ParamView
{
    QString name;
    QVariant value;
    Protection protection = Protection::Plain;
    Hidden valueHidden;
};

struct SectionView
{
    QString name;
    Protection protection = Protection::Plain;
    QList<ParamView> params;
    Hidden paramsHidden;

    const ParamView *param(const QString &name) const;
};

// The configuration as the library loads it: what the file would hold after
// the next save, in the order that save writes it, each part with the
// protection it has in the file today. Parts inside a protected section or
// file carry no protection of their own in storage, so they show as plain.
//
// Keys outside any section (above the first one, or in [General]) are no
// part of the library's configuration: they stay in plain, even in a
// protected file, and the tool keeps them on every write.
struct ConfigView
{
    Protection protection = Protection::Plain;
    QList<ParamView> ungrouped;
    QList<SectionView> sections;
    Hidden sectionsHidden;

    // Whether anything is stored as cipher data, which checks a password.
    bool holdsProtectedPart() const;
    const SectionView *section(const QString &name) const;
    const ParamView *param(const QString &keyPath) const;
    // The keys outside any section by their bare names, then SECTION/PARAMETER.
    QStringList keyPaths() const;
};

// Loads through the read-only loader, so the file is never written, not even
// to protect what was marked by hand. False: the password does not open it.
bool loadView(const QSettings &stored, const QByteArray &password, ConfigView *view);

// Whether any protection switch in the file reads true: then the file holds
// something protected or marked, and the commands need its password.
bool holdsProtection(const QSettings &stored);

// What is readable without a password: each part's protection and the
// names of plain parts and of protected parameters. The contents of
// protected parts are hidden.
ConfigView layoutView(const QSettings &stored);

#endif // DROVIK_TOOL_CONFIG_VIEW_H

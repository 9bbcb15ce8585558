#ifndef DROVIK_TOOL_CHANGE_DOCUMENT_H
#define DROVIK_TOOL_CHANGE_DOCUMENT_H

#include <QtCore/QList>
#include <QtCore/QStringList>
#include <QtCore/QVariant>

// The JSON document `drovik apply` takes: the shape `drovik show --json`
// prints, every member optional, plus "delete":
//
//   {"protection": P,
//    "ungrouped": [{"name": N, "value": V}],
//    "sections": [{"name": S, "protection": P,
//                  "parameters": [{"name": N, "protection": P, "value": V, "type": T}]}],
//    "delete": ["SECTION", "SECTION/PARAMETER"]}
//
// P is plain, marked or protected; T one of the kinds of `set --type`; a V of
// null deletes that parameter. "file" (which show prints) is ignored.

struct ParamChange
{
    QString name;
    QVariant value; // invalid: delete the parameter
    bool protect = false;
    bool protectionGiven = false;
};

struct SectionChange
{
    QString name;
    bool protect = false;
    bool protectionGiven = false;
    QList<ParamChange> params;
};

struct ChangeDocument
{
    bool protectFile = false;
    bool fileProtectionGiven = false;
    QList<ParamChange> ungrouped;
    QList<SectionChange> sections;
    QStringList deletedSections;
    QStringList deletedKeys;

    // Whether anything asks to be protected (marked counts as protected).
    bool asksForProtection() const;
};

// False with *error naming the JSON path of the first fault ("$.sections[1].name: ...").
bool readChangeDocument(const QByteArray &json, ChangeDocument *document, QString *error);

#endif // DROVIK_TOOL_CHANGE_DOCUMENT_H

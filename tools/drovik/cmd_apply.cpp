#include "commands.h"

#include "change_document.h"
#include "command_line.h"
#include "console.h"
#include "session.h"
#include "stored_names.h"

#include <drovik/drovik.h>

#include <QtCore/QFile>
#include <QtCore/QSettings>

// apply loads FILE once, makes every change of the document in the loaded
// configuration and saves it once: a thousand changes cost one decryption and
// one encryption, and either all of them reach the disk or none.

namespace {

const QString sectionsEntry = drovik::tree::sections();
const QString sectionsOrderEntry = drovik::tree::sectionsOrder();
const QString paramsEntry = drovik::tree::params();
const QString paramsOrderEntry = drovik::tree::paramsOrder();
const QString valueEntry = drovik::tree::value();
const QString fileFlag = drovik::tree::encryptedFile();
const QString sectionFlag = drovik::tree::encryptedSection();
const QString paramFlag = drovik::tree::encryptedParam();

// An empty order list stands for every name of its map in ascending order, so
// a name is added only to a list that names others.
void appendToOrder(QVariantMap *node, const QString &entry, const QString &name)
{
    QStringList order = node->value(entry).toStringList();
    if (!order.isEmpty() && !order.contains(name)) {
        order.append(name);
        node->insert(entry, order);
    }
}

void removeFromOrder(QVariantMap *node, const QString &entry, const QString &name)
{
    QStringList order = node->value(entry).toStringList();
    if (order.removeAll(name) > 0)
        node->insert(entry, order);
}

// The loaded configuration, changed in place. Protection a document gives is
// taken only for a part that does not exist yet; an existing part keeps its
// own, and a note says where the document asked otherwise.
class TreeChanges
{
public:
    TreeChanges(QVariantMap *tree, const QString &path) : m_tree(tree), m_path(path) { }

    void deleteSection(const QString &name)
    {
        QVariantMap sections = m_tree->value(sectionsEntry).toMap();
        sections.remove(name);
        m_tree->insert(sectionsEntry, sections);
        removeFromOrder(m_tree, sectionsOrderEntry, name);
    }

    void deleteParam(const QString &section, const QString &param)
    {
        QVariantMap sections = m_tree->value(sectionsEntry).toMap();
        if (!sections.contains(section))
            return;
        QVariantMap node = sections.value(section).toMap();
        QVariantMap params = node.value(paramsEntry).toMap();
        params.remove(param);
        node.insert(paramsEntry, params);
        removeFromOrder(&node, paramsOrderEntry, param);
        sections.insert(section, node);
        m_tree->insert(sectionsEntry, sections);
    }

    void applyFileProtection(const ChangeDocument &document)
    {
        if (!document.fileProtectionGiven)
            return;
        const bool isProtected = m_tree->value(fileFlag).toBool();
        if (!hasSections())
            setFlag(m_tree, fileFlag, document.protectFile);
        else if (document.protectFile != isProtected)
            keptNote(QStringLiteral("the file"), isProtected);
    }

    void applySection(const SectionChange &change)
    {
        QVariantMap sections = m_tree->value(sectionsEntry).toMap();
        QVariantMap node = sections.value(change.name).toMap();
        const bool exists = !node.value(paramsEntry).toMap().isEmpty();
        if (!exists && change.protectionGiven)
            setFlag(&node, sectionFlag, change.protect);
        else if (change.protectionGiven)
            noteIfDiffers(QStringLiteral("section %1").arg(change.name), change.protect,
                          node.value(sectionFlag).toBool(), m_tree->value(fileFlag).toBool());
        const bool covered = m_tree->value(fileFlag).toBool() || node.value(sectionFlag).toBool();
        QVariantMap params = node.value(paramsEntry).toMap();
        for (const ParamChange &param : change.params) {
            if (!param.value.isValid()) {
                params.remove(param.name);
                removeFromOrder(&node, paramsOrderEntry, param.name);
                continue;
            }
            QVariantMap paramNode = params.value(param.name).toMap();
            if (!paramNode.value(valueEntry).isValid() && param.protectionGiven)
                setFlag(&paramNode, paramFlag, param.protect);
            else if (param.protectionGiven)
                noteIfDiffers(change.name + QLatin1Char('/') + param.name, param.protect,
                              paramNode.value(paramFlag).toBool(), covered);
            paramNode.insert(valueEntry, param.value);
            params.insert(param.name, paramNode);
            appendToOrder(&node, paramsOrderEntry, param.name);
        }
        node.insert(paramsEntry, params);
        if (!sections.contains(change.name))
            appendToOrder(m_tree, sectionsOrderEntry, change.name);
        sections.insert(change.name, node);
        m_tree->insert(sectionsEntry, sections);
    }

private:
    bool hasSections() const
    {
        const QVariantMap sections = m_tree->value(sectionsEntry).toMap();
        for (const QVariant &node : sections) {
            if (!node.toMap().value(paramsEntry).toMap().isEmpty())
                return true;
        }
        return false;
    }

    // Flags are stored only as true; a missing one reads false.
    static void setFlag(QVariantMap *node, const QString &flag, bool on)
    {
        if (on)
            node->insert(flag, true);
        else
            node->remove(flag);
    }

    // A plain part inside a protected one is covered: asking to protect it is no news.
    void noteIfDiffers(const QString &part, bool wanted, bool own, bool covered)
    {
        if ((wanted && !own && !covered) || (!wanted && own))
            keptNote(part, own);
    }

    void keptNote(const QString &part, bool isProtected)
    {
        note(QStringLiteral("%1: %2 exists and stays %3 (drovik %4 changes that)")
                     .arg(m_path, part,
                          isProtected ? QStringLiteral("protected") : QStringLiteral("plain"),
                          isProtected ? QStringLiteral("unprotect") : QStringLiteral("protect")));
    }

    QVariantMap *m_tree;
    QString m_path;
};

bool readInput(const QString &name, QByteArray *content, QString *error)
{
    QFile input;
    const bool opened = name == QLatin1String("-")
            ? input.open(stdin, QIODevice::ReadOnly)
            : (input.setFileName(name), input.open(QIODevice::ReadOnly));
    if (opened)
        *content = input.readAll();
    if (!opened || input.error() != QFile::NoError)
        *error = QStringLiteral("%1: cannot read the document").arg(name);
    return error->isEmpty();
}

// Whether the document asks to protect a part the file does not hold yet:
// then the password is needed even for a file with nothing protected.
bool protectsNewPart(const ChangeDocument &document, const ConfigView &view)
{
    if (document.protectFile && view.sections.isEmpty())
        return true;
    for (const SectionChange &section : document.sections) {
        const SectionView *existing = view.section(section.name);
        if (section.protect && !existing)
            return true;
        for (const ParamChange &param : section.params) {
            if (param.protect && param.value.isValid()
                && !(existing && existing->param(param.name)))
                return true;
        }
    }
    return false;
}

// The document, read and checked before FILE is opened, so that a faulty one
// stops the command before a lock is taken or a password asked.
ChangeDocument &checkedDocument()
{
    static ChangeDocument document;
    return document;
}

} // namespace

int checkApply(const CommandLine &line)
{
    const QString input = line.arguments().value(0, QStringLiteral("-"));
    if (input == QLatin1String("-") && line.passwordOptions().file == QLatin1String("-"))
        return usageError(line.command(),
                          QStringLiteral("the document and the password cannot both come from "
                                         "standard input"));
    QByteArray json;
    QString error;
    if (!readInput(input, &json, &error))
        return fail(Exit::IoError, error);
    if (!readChangeDocument(json, &checkedDocument(), &error))
        return fail(Exit::Usage,
                    QStringLiteral("apply: invalid document: %1; nothing was changed").arg(error));
    return Exit::Ok;
}

int runApply(Session &session, const CommandLine &)
{
    const ChangeDocument &document = checkedDocument();
    int status = Exit::Ok;
    if (!session.password.isGiven() && protectsNewPart(document, session.view)
        && (status = session.open(Access::Create, PasswordNeed::Always)))
        return status;
    QVariantMap tree;
    if (!Drovik::getFileData(session.settings(), session.secret(), &tree))
        return session.wrongPassword();
    TreeChanges changes(&tree, session.path());
    for (const QString &section : document.deletedSections)
        changes.deleteSection(section);
    for (const QString &key : document.deletedKeys)
        changes.deleteParam(sectionOfKey(key), key.mid(sectionOfKey(key).size() + 1));
    changes.applyFileProtection(document);
    for (const SectionChange &section : document.sections)
        changes.applySection(section);
    for (const ParamChange &param : document.ungrouped)
        session.file.setUngrouped(param.name, param.value);
    Drovik::saveFile(session.settings(), session.secret(), &tree);
    return session.commit();
}

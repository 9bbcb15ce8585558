#ifndef DROVIK_TOOL_PRIVATE_COPY_H
#define DROVIK_TOOL_PRIVATE_COPY_H

#include <QtCore/QByteArray>
#include <QtCore/QString>

// A decrypted copy of a configuration, for an editor: one file (mode 0600) in
// a new directory that only the user can enter (0700). Removed with whatever
// the editor left beside it when the object goes, and by the signal handlers
// if a signal ends the process first.
class PrivateCopy
{
public:
    PrivateCopy() = default;
    ~PrivateCopy();
    PrivateCopy(const PrivateCopy &) = delete;
    PrivateCopy &operator=(const PrivateCopy &) = delete;

    // fileName gives the editor a familiar name; false with *error on failure.
    bool create(const QString &fileName, const QByteArray &content, QString *error);
    QString filePath() const { return m_file; }
    bool read(QByteArray *content) const;

private:
    QString m_directory;
    QString m_file;
};

#endif // DROVIK_TOOL_PRIVATE_COPY_H

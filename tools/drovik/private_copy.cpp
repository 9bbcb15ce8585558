#include "private_copy.h"

#include "signal_cleanup.h"

#include <QtCore/QDir>
#include <QtCore/QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

PrivateCopy::~PrivateCopy()
{
    if (m_directory.isEmpty())
        return;
    // Best effort: blank the text before unlinking, for filesystems that
    // reuse the blocks in place.
    QFile file(m_file);
    if (file.open(QIODevice::ReadWrite))
        file.write(QByteArray(int(file.size()), '\0'));
    file.close();
    QDir(m_directory).removeRecursively();
    dropScratchToRemove(QFile::encodeName(m_directory));
}

bool PrivateCopy::create(const QString &fileName, const QByteArray &content, QString *error)
{
    // mkdtemp makes the directory 0700, whatever the umask.
    QByteArray pattern = QFile::encodeName(QDir::tempPath() + QStringLiteral("/drovik-XXXXXX"));
    if (!mkdtemp(pattern.data())) {
        *error = QStringLiteral("cannot create a private directory in %1: %2")
                         .arg(QDir::tempPath(), QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_directory = QFile::decodeName(pattern);
    m_file = m_directory + QLatin1Char('/') + fileName;
    const QByteArray file = QFile::encodeName(m_file);
    if (!addScratchToRemove(pattern)) {
        *error = QStringLiteral("cannot watch the private directory %1").arg(m_directory);
        return false;
    }
    const int fd = open(file.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    bool ok = fd >= 0;
    for (qint64 done = 0; ok && done < content.size();) {
        const ssize_t count
                = write(fd, content.constData() + done, std::size_t(content.size() - done));
        ok = count > 0 || (count < 0 && errno == EINTR);
        done += count > 0 ? count : 0;
    }
    if (fd >= 0)
        ok = close(fd) == 0 && ok;
    if (!ok)
        *error = QStringLiteral("cannot write the private copy %1").arg(m_file);
    return ok;
}

bool PrivateCopy::read(QByteArray *content) const
{
    QFile file(m_file);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *content = file.readAll();
    return true;
}

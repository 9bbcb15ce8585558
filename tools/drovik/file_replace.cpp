#include "file_replace.h"

#include <QtCore/QFile>
#include <QtCore/QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString lastError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool writeAll(int fd, const QByteArray &content)
{
    for (qint64 done = 0; done < content.size();) {
        const ssize_t count
                = ::write(fd, content.constData() + done, std::size_t(content.size() - done));
        if (count < 0 && errno != EINTR)
            return false;
        done += count > 0 ? count : 0;
    }
    return true;
}

// The metadata of the file being replaced; a new file stays as mkstemp made
// it, 0600 and the caller's, whatever the umask.
bool takeOverMetadata(int fd, const QByteArray &target, QString *why)
{
    struct stat old;
    if (::stat(target.constData(), &old) != 0)
        return errno == ENOENT;
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
        *why = QStringLiteral("cannot give the new file the owner and group of the old one (%1)")
                       .arg(lastError());
        return false;
    }
    if (::fchmod(fd, old.st_mode & 07777) != 0) {
        *why = QStringLiteral("cannot give the new file the mode of the old one (%1)")
                       .arg(lastError());
        return false;
    }
    return true;
}

void syncDirectory(const QByteArray &directory)
{
    const int fd = ::open(directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

bool replaceFile(const QString &target, const QByteArray &content, QString *error)
{
    const QByteArray path = QFile::encodeName(target);
    const QByteArray directory = QFile::encodeName(QFileInfo(target).absolutePath());
    QByteArray temporary = path + ".drovik-XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = QStringLiteral("%1: cannot create a new file beside it (%2); nothing was changed")
                         .arg(target, lastError());
        return false;
    }
    QString why;
    bool ok = takeOverMetadata(fd, path, &why);
    if (ok && !(ok = writeAll(fd, content) && ::fsync(fd) == 0))
        why = lastError();
    if (::close(fd) != 0 && ok) {
        ok = false;
        why = lastError();
    }
    if (ok && ::rename(temporary.constData(), path.constData()) != 0) {
        ok = false;
        why = lastError();
    }
    if (!ok) {
        ::unlink(temporary.constData());
        *error = QStringLiteral("%1: could not be written (%2); nothing was changed")
                         .arg(target, why);
        return false;
    }
    syncDirectory(directory);
    return true;
}

#include "kcfilesync.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#elif defined(Q_OS_WIN)
#include <io.h>
#endif

namespace KcFileSync {

bool syncFile(QFile &file, QString *error)
{
    if (!file.isOpen() || file.handle() < 0) {
        if (error)
            *error = QStringLiteral("the file is not open");
        return false;
    }
#ifdef Q_OS_UNIX
    // EINVAL: a special file that holds nothing to sync.
    const bool synced = ::fsync(file.handle()) == 0 || errno == EINVAL;
#elif defined(Q_OS_WIN)
    // _commit flushes the handle behind the descriptor (FlushFileBuffers);
    // EBADF is also its answer for a console or the NUL device.
    const bool synced = ::_commit(file.handle()) == 0 || errno == EBADF;
#else
    const bool synced = file.flush();
#endif
    if (!synced && error)
        *error = QString::fromLocal8Bit(std::strerror(errno));
    return synced;
}

void syncFolder(const QString &folder)
{
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(folder);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(folder)
#endif
}

} // namespace KcFileSync

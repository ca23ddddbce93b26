// SPDX-License-Identifier: GPL-3.0-or-later
#include "aufilestream.h"

#include "auexception.h"
#include "shell/helpers.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

QString systemErrorText(int error)
{
    if (error == EWOULDBLOCK)
        return QStringLiteral("The file is being used by another process");
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

TAuFileStream::TAuFileStream(const QString &fileName, uint16_t mode) : QFile(fileName)
{
    int flags = O_CLOEXEC;
    int lock = 0; // 0 none, 1 shared, 2 exclusive
    if (mode == fmCreate) {
        // Truncated only once the lock is held, so a file someone else holds is never emptied.
        flags |= O_RDWR | O_CREAT;
        lock = 2;
    } else {
        switch (mode & 3) {
        case fmOpenWrite:
            flags |= O_WRONLY;
            break;
        case fmOpenReadWrite:
            flags |= O_RDWR;
            break;
        default:
            flags |= O_RDONLY;
            break;
        }
        switch (mode & 0xF0) {
        case fmShareDenyWrite:
            lock = 1;
            break;
        case fmShareDenyNone:
            lock = 0;
            break;
        default:
            lock = 2;
            break;
        }
    }
    // Not blocking in the open itself: a named pipe without a writer would keep it waiting for good.
    const int fd = ::open(QFile::encodeName(fileName).constData(), flags | O_NONBLOCK, 0666);
    if (fd < 0)
        throw EAuException(systemErrorText(errno));
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (lock && !LockOpenFile(fd, lock == 2)) {
        const int error = errno;
        ::close(fd);
        throw EAuException(systemErrorText(error));
    }
    if (mode == fmCreate && ::ftruncate(fd, 0) != 0) {
        const int error = errno;
        ::close(fd);
        throw EAuException(systemErrorText(error));
    }
    const OpenMode openMode = (flags & O_ACCMODE) == O_RDONLY   ? ReadOnly
                              : (flags & O_ACCMODE) == O_WRONLY ? WriteOnly | Unbuffered
                                                                : ReadWrite | Unbuffered;
    if (!open(fd, openMode, AutoCloseHandle)) {
        ::close(fd);
        throw EAuException(errorString());
    }
}

qint64 TAuFileStream::writeData(const char *data, qint64 len)
{
    // A short write (the disk filled up, the file size limit was reached) is followed by one for the rest,
    // which fails with the system's reason in errorString().
    qint64 done = 0;
    while (done < len) {
        const qint64 written = QFile::writeData(data + done, len - done);
        if (written <= 0)
            return -1;
        done += written;
    }
    return done;
}

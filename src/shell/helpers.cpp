// SPDX-License-Identifier: GPL-3.0-or-later
#include "helpers.h"

#include "folders.h"
#include "settings.h"
#include "trace.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

QString TwoDigits(int n)
{
    return n <= 9 ? QLatin1Char('0') + QString::number(n) : QString::number(n);
}

bool FileInUse(const QString &path)
{
    struct stat st {};
    const QByteArray native = QFile::encodeName(path);
    if (path.isEmpty() || ::stat(native.constData(), &st) != 0 || S_ISDIR(st.st_mode))
        return false;
    const int fd = ::open(native.constData(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return true;
    bool inUse = false;
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK)
        inUse = true;
    // The program's own writers lock with flock(), which the probe above does not see.
    if (!inUse) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::flock(fd, LOCK_UN);
        else
            inUse = errno == EWOULDBLOCK;
    }
    ::close(fd);
    return inUse;
}

bool LockOpenFile(int fd, bool exclusive)
{
    return ::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0;
}

QString WithTrailingBackslash(const QString &path)
{
    if (path.isEmpty() || path.endsWith(QLatin1Char('/')))
        return path;
    return path + QLatin1Char('/');
}

QString UnreadableReason(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(path.isEmpty() ? ENOENT : errno));
    struct stat st {};
    const bool known = ::fstat(fd, &st) == 0;
    ::close(fd);
    if (known && S_ISDIR(st.st_mode))
        return QString::fromLocal8Bit(std::strerror(EISDIR));
    if (known && !S_ISREG(st.st_mode)) // a pipe would keep a reader waiting for its writer
        return QStringLiteral("not a regular file");
    return QString();
}

QString FolderProblem(const QString &folder)
{
    const QString clean = QDir::cleanPath(folder);
    int code = ENOENT;
    if (!clean.isEmpty()) {
        // Each folder of the path in turn, from the top: the first that cannot be made says why.
        for (qsizetype slash = clean.indexOf(QLatin1Char('/'), 1);;
             slash = clean.indexOf(QLatin1Char('/'), slash + 1)) {
            const QString part = slash < 0 ? clean : clean.left(slash);
            if (::mkdir(QFile::encodeName(part).constData(), 0777) != 0 && errno != EEXIST) {
                code = errno;
                break;
            }
            if (slash < 0) {
                code = ENOTDIR; // there, but a file
                break;
            }
        }
        struct stat st {};
        if (::stat(QFile::encodeName(clean).constData(), &st) == 0 && S_ISDIR(st.st_mode))
            return QString();
    }
    return QString::fromLocal8Bit(std::strerror(code));
}

bool MakeFolder(const QString &folder, QString *error)
{
    const QString problem = FolderProblem(folder);
    if (!problem.isEmpty() && error)
        *error = folder + QStringLiteral(": cannot create the folder: ") + problem;
    return problem.isEmpty();
}

bool WriteFileAtomically(const QString &path, const QByteArray &bytes, QString *error)
{
    // Unbuffered, so that a failing write is seen here and not only when the file is closed (QSaveFile
    // would rename a file whose last buffered write failed).
    QSaveFile file(path);
    const auto fail = [&](const QString &reason) {
        if (error)
            *error = path + QStringLiteral(": ") + reason;
        file.cancelWriting();
        return false;
    };
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(file.errorString());
    if (file.write(bytes) != bytes.size())
        return fail(file.errorString());
    if (::fsync(file.handle()) != 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

bool CopyFileBytes(const QString &from, const QString &to, QString *error)
{
    const auto failed = [error](const QString &path) {
        if (error)
            *error = path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    };
    const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (in < 0)
        return failed(from);
    const int out = ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out < 0) {
        failed(to);
        ::close(in);
        return false;
    }
    // Unbuffered, every call checked: a full disk or a size limit is said with the system's reason.
    std::vector<char> buffer(size_t(1) << 20);
    bool complete = true;
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            complete = failed(from);
            break;
        }
        if (got == 0)
            break;
        for (ssize_t done = 0; complete && done < got;) {
            const ssize_t put = ::write(out, buffer.data() + done, size_t(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                complete = failed(to);
            else
                done += put;
        }
        if (!complete)
            break;
    }
    if (complete && ::fsync(out) != 0)
        complete = failed(to);
    ::close(in);
    if (::close(out) != 0 && complete)
        complete = failed(to);
    if (!complete)
        QFile::remove(to);
    return complete;
}

bool CopyFileAtomically(const QString &from, const QString &to, QString *error)
{
    const QString working = WorkingFileOf(to);
    const bool complete = CopyFileBytes(from, working, error);
    return SettleWorkingFile(working, to, complete, error);
}

bool MoveFile(const QString &from, const QString &to, QString *error)
{
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    if (errno != EXDEV) {
        if (error)
            *error = to + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (!CopyFileAtomically(from, to, error))
        return false;
    QFile::remove(from);
    return true;
}

QString CurrentExceptionText()
{
    try {
        if (const std::exception_ptr current = std::current_exception())
            std::rethrow_exception(current);
    } catch (const std::exception &e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("unknown error"); // not a standard exception: nothing more to say of it
    }
    return QStringLiteral("unknown error");
}

void LogCaughtException(const char *where)
{
    qWarning("%s: %s", where, qPrintable(CurrentExceptionText()));
}

bool SameFile(const QString &a, const QString &b)
{
    struct stat first {};
    struct stat second {};
    if (a.isEmpty() || b.isEmpty() || ::stat(QFile::encodeName(a).constData(), &first) != 0 ||
        ::stat(QFile::encodeName(b).constData(), &second) != 0)
        return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

int64_t FileSizeOf(const QString &path)
{
    if (path.isEmpty())
        return -1;
    struct stat st {};
    const QByteArray native = QFile::encodeName(QDir::current().absoluteFilePath(path));
    if (::stat(native.constData(), &st) != 0)
        return -1;
    return S_ISDIR(st.st_mode) ? 0 : static_cast<int64_t>(st.st_size);
}

bool IsForbiddenFileNameChar(QChar c)
{
    switch (c.unicode()) {
    case '"':
    case '*':
    case '/':
    case ':':
    case '<':
    case '>':
    case '?':
    case '\\':
    case '|':
        return true;
    default:
        return false;
    }
}

static QString withoutForbiddenChars(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (!IsForbiddenFileNameChar(c))
            out += c;
    }
    return out;
}

QString WithoutControlChars(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        const char16_t u = c.unicode();
        // C0, DEL and C1 controls (a CSI in a title is a terminal escape), and the bidirectional embeddings,
        // overrides and isolates that make a name read other than it is.
        const bool control = u < 0x20 || (u >= 0x7f && u <= 0x9f);
        const bool bidi = (u >= 0x202a && u <= 0x202e) || (u >= 0x2066 && u <= 0x2069);
        if (!control && !bidi)
            out += c;
    }
    return out;
}

QString CutToUtf8Bytes(const QString &text, int maxBytes)
{
    int bytes = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const char32_t c = text.at(i).unicode();
        const bool pair = QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        const int size = pair ? 4 : c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
        if (bytes + size > maxBytes)
            break;
        bytes += size;
        i += pair ? 2 : 1;
    }
    return text.left(i);
}

// Without forbidden and control characters and leading dots and blanks, cut to MaxFileBaseBytes.
static QString safeFileBase(const QString &text)
{
    const QString name = WithoutControlChars(withoutForbiddenChars(text));
    qsizetype begin = 0;
    while (begin < name.size() && (name.at(begin) == QLatin1Char('.') || name.at(begin).isSpace()))
        ++begin;
    return CutToUtf8Bytes(name.mid(begin), MaxFileBaseBytes);
}

QString TrackFileName(const QString &title, int trackNumber)
{
    const QString name = safeFileBase(title);
    if (name.isEmpty())
        return TimestampName() + QLatin1Char('_') + QString::number(trackNumber);
    return name;
}

QString AlbumFolderName(const QString &album)
{
    QString name = safeFileBase(album);
    while (!name.isEmpty() && name.back().unicode() <= ' ')
        name.chop(1);
    return name;
}

QString TimestampName()
{
    return QStringLiteral("File_") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss"));
}

QString SystemFolder()
{
    return QStringLiteral("/usr/bin/");
}

QString VolumeControlProgram()
{
    const QString mixer = QStringLiteral("pavucontrol");
    if (QFileInfo(SystemFolder() + mixer).isExecutable())
        return SystemFolder() + mixer;
    return QStandardPaths::findExecutable(mixer);
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "workingfile.h"

#include "helpers.h"
#include "trace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int StampDigits = 16;
constexpr int PidDigits = 8;
// ".<stamp>-<pid>.part" after the name.
constexpr int TokenBytes = 1 + StampDigits + 1 + PidDigits;
constexpr int SuffixBytes = 5;

struct Claim {
    QString Working;
    int Fd = -1;
};

QMutex claimsMutex;
QHash<QString, Claim> claims; // by the path the file lands at

QHash<QString, TFileIdentity> made; // the files put in place, by the path they landed at

TFileIdentity identityOf(const struct stat &st)
{
    return TFileIdentity{uint64_t(st.st_dev), uint64_t(st.st_ino), int64_t(st.st_size),
                         int64_t(st.st_mtim.tv_sec) * 1000000000 + int64_t(st.st_mtim.tv_nsec)};
}

// Where a file written for the path ends up: the target of a symbolic link, else the path.
QString landingPath(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink() && info.exists())
        return info.canonicalFilePath();
    return QDir::cleanPath(path);
}

// The hidden beginning of every working name of a file: a dot and its name, cut so that the whole name fits.
QByteArray namePrefix(const QString &fileName)
{
    return QFile::encodeName(QLatin1Char('.') + CutToUtf8Bytes(fileName, 255 - 1 - TokenBytes - SuffixBytes));
}

struct Token {
    uint64_t Stamp = 0;
    uint32_t Pid = 0;
    bool operator<(const Token &other) const
    {
        return Stamp != other.Stamp ? Stamp < other.Stamp : Pid < other.Pid;
    }
};

QByteArray tokenText(const Token &token)
{
    char text[TokenBytes + SuffixBytes + 1];
    std::snprintf(text, sizeof text, ".%016llx-%08x.part", static_cast<unsigned long long>(token.Stamp),
                  unsigned(token.Pid));
    return QByteArray(text);
}

bool isHex(const QByteArray &text)
{
    for (const char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return !text.isEmpty();
}

// Whether the entry is a working file of the name with that prefix: one of ours (its token in *token), or
// the ".NAME.part" of earlier versions (*legacy).
bool parseWorkingName(const QByteArray &entry, const QByteArray &prefix, Token *token, bool *legacy)
{
    if (!entry.startsWith(prefix))
        return false;
    const QByteArray rest = entry.mid(prefix.size());
    *legacy = rest == ".part";
    if (*legacy)
        return true;
    if (rest.size() != TokenBytes + SuffixBytes || rest[0] != '.' || rest[1 + StampDigits] != '-' ||
        !rest.endsWith(".part"))
        return false;
    const QByteArray stamp = rest.mid(1, StampDigits);
    const QByteArray pid = rest.mid(2 + StampDigits, PidDigits);
    if (!isHex(stamp) || !isHex(pid))
        return false;
    token->Stamp = stamp.toULongLong(nullptr, 16);
    token->Pid = pid.toUInt(nullptr, 16);
    return true;
}

// Holds the claim of an open working file: an open-file lock, which its writers' own locks (flock) do not
// meet, and which goes with the process however it ends.
bool holdOpenFile(int fd)
{
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// Whether the working file at path is held by a live run. One nobody holds is removed (it is what a run
// that was killed left), unless it was replaced meanwhile.
bool heldOrRemoved(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat opened {};
    bool held = true;
    if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode)) {
        struct flock probe {};
        probe.l_type = F_RDLCK;
        probe.l_whence = SEEK_SET;
        // A writer of an earlier version held only flock().
        held = ::fcntl(fd, F_OFD_SETLK, &probe) != 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0;
        struct stat now {};
        if (!held && ::lstat(path.constData(), &now) == 0 && now.st_dev == opened.st_dev &&
            now.st_ino == opened.st_ino && ::unlink(path.constData()) == 0)
            Trace(1,
                  QStringLiteral("removed %1, left by a run that did not end").arg(QFile::decodeName(path)));
    }
    ::close(fd);
    return held;
}

// Creates the working file exclusively, already held when the file system lets a file be made unnamed
// first (nobody can then see it unheld); -1 with errno set.
int createHeld(const QByteArray &folder, const QByteArray &working)
{
    int fd = ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd >= 0) {
        char self[64];
        std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
        if (holdOpenFile(fd) &&
            ::linkat(AT_FDCWD, self, AT_FDCWD, working.constData(), AT_SYMLINK_FOLLOW) == 0)
            return fd;
        const int error = errno;
        ::close(fd);
        if (error == EEXIST) {
            errno = error;
            return -1;
        }
    }
    fd = ::open(working.constData(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0666);
    if (fd >= 0 && !holdOpenFile(fd)) {
        const int error = errno;
        ::unlink(working.constData());
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

Token newToken()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return Token{uint64_t(now.tv_sec) * 1000000000u + uint64_t(now.tv_nsec), uint32_t(::getpid())};
}

// Makes and holds a new working file of the file `info` names: its descriptor (-1 with errno set on failure),
// its token and its name.
int createClaimFile(const QFileInfo &info, Token *own, QByteArray *ownName)
{
    const QByteArray folder = QFile::encodeName(info.path());
    const QByteArray prefix = namePrefix(info.fileName());
    *own = newToken();
    int fd = -1;
    for (int attempt = 0; attempt < 8 && fd < 0; ++attempt, ++own->Stamp) {
        *ownName = prefix + tokenText(*own);
        fd = createHeld(folder, folder + '/' + *ownName);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    return fd;
}

QString claim(const QString &path, bool refuseBusy, QString *error, bool *busy)
{
    if (busy)
        *busy = false;
    const QString landing = landingPath(path);
    const QFileInfo info(landing);
    if (info.exists() && !info.isFile())
        return path;
    QMutexLocker lock(&claimsMutex);
    if (const auto held = claims.constFind(landing); held != claims.constEnd())
        return held->Working;
    const QByteArray folder = QFile::encodeName(info.path());
    const QByteArray prefix = namePrefix(info.fileName());
    Token own;
    QByteArray ownName;
    const int fd = createClaimFile(info, &own, &ownName);
    if (fd < 0) {
        if (error)
            *error =
                path + QStringLiteral(": cannot be written: ") + QString::fromLocal8Bit(std::strerror(errno));
        return QString();
    }
    // Others' working files of the same file: those left by ended runs go; a live one claimed earlier than
    // this claim has the file.
    bool earlierClaim = false;
    if (DIR *dir = ::opendir(folder.constData())) {
        while (const dirent *entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            Token token;
            bool legacy = false;
            if (name == ownName || !parseWorkingName(name, prefix, &token, &legacy))
                continue;
            if (heldOrRemoved(folder + '/' + name) && !legacy && token < own)
                earlierClaim = true;
        }
        ::closedir(dir);
    }
    const QString working = QFile::decodeName(folder + '/' + ownName);
    if (earlierClaim && refuseBusy) {
        ::unlink(QFile::encodeName(working).constData());
        ::close(fd);
        if (busy)
            *busy = true;
        if (error)
            *error = path + QStringLiteral(": another run is writing this file");
        return QString();
    }
    claims.insert(landing, Claim{working, fd});
    return working;
}

// A held working file that an edit replaced (renamed another file over it) is held again: the lock went with
// the file it replaced.
void holdAgain(const QString &path)
{
    QMutexLocker lock(&claimsMutex);
    for (Claim &claim : claims) {
        if (claim.Working != path)
            continue;
        const int fd =
            ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
        if (fd >= 0 && holdOpenFile(fd)) {
            ::close(claim.Fd);
            claim.Fd = fd;
        } else if (fd >= 0) {
            ::close(fd);
        }
        return;
    }
}

void release(const QString &working)
{
    QMutexLocker lock(&claimsMutex);
    for (auto it = claims.begin(); it != claims.end(); ++it) {
        if (it->Working == working) {
            ::close(it->Fd);
            claims.erase(it);
            return;
        }
    }
}

} // namespace

QString ClaimWorkingFile(const QString &path, QString *error, bool *busy)
{
    return claim(path, true, error, busy);
}

QString ClaimedWorkingFileOf(const QString &path)
{
    QMutexLocker lock(&claimsMutex);
    return claims.value(landingPath(path)).Working;
}

QString WorkingFileOf(const QString &path)
{
    if (QString working = claim(path, false, nullptr, nullptr); !working.isEmpty())
        return working;
    const QFileInfo info(landingPath(path));
    return QFile::decodeName(QFile::encodeName(info.path()) + '/' + namePrefix(info.fileName()) +
                             tokenText(newToken()));
}

bool CommitWorkingFile(const QString &working, const QString &path, QString *error)
{
    if (working == path)
        return true;
    // Renamed while still held, so that nobody takes it for a left-over on the way.
    const QString landing = landingPath(path);
    struct stat written {};
    const bool known = ::lstat(QFile::encodeName(working).constData(), &written) == 0;
    const bool renamed =
        std::rename(QFile::encodeName(working).constData(), QFile::encodeName(landing).constData()) == 0;
    const int code = errno;
    if (renamed && known) {
        QMutexLocker lock(&claimsMutex);
        made.insert(landing, identityOf(written));
    }
    if (!renamed)
        QFile::remove(working);
    release(working);
    if (renamed) {
        holdAgain(landingPath(path));
        Trace(1, QStringLiteral("settled %1").arg(path));
        return true;
    }
    if (error)
        *error = path + QStringLiteral(": cannot be written: ") + QString::fromLocal8Bit(std::strerror(code));
    return false;
}

TFileIdentity RegularFileIdentity(const QString &path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return TFileIdentity();
    return identityOf(st);
}

TFileIdentity FileIdentityOf(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return TFileIdentity();
    return identityOf(st);
}

bool CommitWorkingFileOver(const QString &working, const QString &path, const TFileIdentity &identity,
                           QString *error)
{
    const QFileInfo entry(path);
    const QByteArray folder = QFile::encodeName(entry.path());
    const QByteArray name = QFile::encodeName(entry.fileName());
    const QByteArray workingName = QFile::encodeName(QFileInfo(working).fileName());
    // Within the folder as opened once, so that neither the folder nor the entry can be swapped for a link
    // between the check and the rename without the check seeing it.
    const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int code = 0;
    bool same = false;
    if (dir >= 0) {
        struct stat now {};
        same = ::fstatat(dir, name.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(now.st_mode) &&
               identityOf(now).SameFile(identity);
        if (same && ::renameat(dir, workingName.constData(), dir, name.constData()) != 0)
            code = errno;
        ::close(dir);
    } else {
        code = errno;
    }
    if (same && code == 0) {
        release(working);
        Trace(1, QStringLiteral("settled %1").arg(path));
        return true;
    }
    DiscardWorkingFile(working, path);
    if (error)
        *error =
            path +
            (code != 0 ? QStringLiteral(": cannot be written: ") + QString::fromLocal8Bit(std::strerror(code))
                       : QStringLiteral(": it was replaced while it was being changed; left as it is"));
    return false;
}

void DiscardWorkingFile(const QString &working, const QString &path)
{
    if (working.isEmpty() || working == path)
        return;
    QFile::remove(working);
    release(working);
}

bool SettleWorkingFile(const QString &working, const QString &path, bool complete, QString *error)
{
    if (complete)
        return CommitWorkingFile(working, path, error);
    DiscardWorkingFile(working, path);
    return false;
}

bool CommitWorkingFileHolding(const QString &working, const QString &path, QString *error)
{
    const QString landing = landingPath(path);
    const QFileInfo info(landing);
    Token own;
    QByteArray ownName;
    const int fd = working == path ? -1 : createClaimFile(info, &own, &ownName);
    if (!CommitWorkingFile(working, path, error)) {
        if (fd >= 0) {
            ::unlink((QFile::encodeName(info.path()) + '/' + ownName).constData());
            ::close(fd);
        }
        return false;
    }
    if (fd >= 0) {
        QMutexLocker lock(&claimsMutex);
        claims.insert(landing, Claim{QFile::decodeName(QFile::encodeName(info.path()) + '/' + ownName), fd});
    } else {
        ClaimWorkingFile(path); // (no new hold could be made before: one now, as far as it goes)
    }
    return true;
}

bool RemoveMadeFile(const QString &path)
{
    const QString landing = landingPath(path);
    QMutexLocker lock(&claimsMutex);
    const auto mine = made.constFind(landing);
    struct stat now {};
    const QByteArray native = QFile::encodeName(landing);
    if (mine == made.constEnd() || ::lstat(native.constData(), &now) != 0 || !identityOf(now).SameFile(*mine))
        return false;
    made.erase(mine);
    return ::unlink(native.constData()) == 0;
}

bool TakeFileAttributes(int fd, const QString &original)
{
    struct stat old {};
    if (::stat(QFile::encodeName(original).constData(), &old) != 0)
        return true;
    [[maybe_unused]] const bool owned =
        ::fchown(fd, old.st_uid, old.st_gid) == 0 || ::fchown(fd, uid_t(-1), old.st_gid) == 0;
    return ::fchmod(fd, old.st_mode & 07777) == 0;
}

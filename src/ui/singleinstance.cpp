// SPDX-License-Identifier: GPL-3.0-or-later
#include "singleinstance.h"

#include "shell/messages.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <cerrno>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

const QString SingleInstance::WindowClassName = QStringLiteral("Sondrel Made by Ombrel Software");

namespace {
const QByteArray restoreRequest = QByteArray::number(WM_RESTORE_INSTANCE) + '\n';

// The user id of the process at the other end of a local socket, or -1 when it cannot be told.
long peerUid(qintptr descriptor)
{
    struct ucred credentials {};
    socklen_t length = sizeof credentials;
    if (descriptor < 0 || ::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return -1;
    return long(credentials.uid);
}

// A folder only this user can enter: made with mode 0700 when missing; refused (empty) when it is a link,
// belongs to someone else or others may enter it.
QString privateFolder(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return QString();
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & 077) != 0)
        return QString();
    return path;
}
} // namespace

SingleInstance::SingleInstance(QObject *parent) : QObject(parent), m_server(new QLocalServer(this))
{
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnection);
}

SingleInstance::~SingleInstance()
{
    m_server->close();
}

QString SingleInstance::socketPath()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists())
        return QDir(runtime).filePath(WindowClassName);
    // Without a runtime folder, a folder of our own in the temporary one: a fixed name there could be taken
    // by another user first.
    const QString folder = privateFolder(
        QDir(QDir::tempPath()).filePath(QStringLiteral("sondrel-") + QString::number(::getuid())));
    return folder.isEmpty() ? QString() : QDir(folder).filePath(WindowClassName);
}

bool SingleInstance::notifyRunningInstance(int timeoutMs)
{
    const QString path = socketPath();
    if (path.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    // Only our own running instance counts; another user's listener is no reason to end.
    if (peerUid(socket.socketDescriptor()) != long(::getuid()))
        return false;
    socket.write(restoreRequest);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    // The running instance answers once it has taken the request, so this process may end safely.
    const bool answered = socket.waitForReadyRead(timeoutMs) && socket.readAll().startsWith("ok");
    socket.disconnectFromServer();
    return answered;
}

bool SingleInstance::listen()
{
    const QString path = socketPath();
    if (path.isEmpty())
        return true; // no safe place to listen: this instance runs on its own
    if (m_server->listen(path))
        return true;
    if (m_server->serverError() == QAbstractSocket::AddressInUseError) {
        // Someone answering there is a running instance; otherwise the socket is a crashed run's leftover.
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(500))
            return false;
        QLocalServer::removeServer(path);
        return m_server->listen(path);
    }
    return false;
}

void SingleInstance::acceptConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (peerUid(socket->socketDescriptor()) != long(::getuid())) {
            socket->abort(); // another user's request is not ours to follow
            socket->deleteLater();
            continue;
        }
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine())
                return;
            if (socket->readLine() == restoreRequest) {
                socket->write("ok\n");
                socket->flush();
                PostMessage(m_receiver, WM_RESTORE_INSTANCE);
                emit restoreRequested();
            }
            socket->disconnectFromServer();
        });
    }
}

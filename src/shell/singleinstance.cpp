#include "singleinstance.h"

#include "messages.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <unistd.h>

const QString SingleInstance::WindowClassName = QStringLiteral("Sondrel Made by Ombrel Software");

namespace {
const QByteArray restoreRequest = QByteArray::number(WM_RESTORE_INSTANCE) + '\n';
}

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
    return QDir(QDir::tempPath()).filePath(WindowClassName + QLatin1Char('-') + QString::number(::getuid()));
}

bool SingleInstance::notifyRunningInstance(int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(timeoutMs))
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

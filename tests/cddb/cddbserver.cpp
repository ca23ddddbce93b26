// SPDX-License-Identifier: GPL-3.0-or-later
#include "cddbserver.h"

#include <QFile>
#include <QUrl>
#include <QUrlQuery>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

CddbTestServer::CddbTestServer()
{
    m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listener < 0 || bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        listen(m_listener, 8) != 0 ||
        getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0 ||
        pipe(m_wakePipe) != 0)
        throw std::runtime_error("cannot start the test CDDB server");
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { serve(); });
}

CddbTestServer::~CddbTestServer()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    const char byte = 0;
    (void)!write(m_wakePipe[1], &byte, 1);
    m_thread.join();
    close(m_listener);
    close(m_wakePipe[0]);
    close(m_wakePipe[1]);
}

QString CddbTestServer::url() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

QByteArray CddbTestServer::fixture(const QString &name)
{
    QFile file(QStringLiteral(SONDREL_CDDB_FIXTURES "/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void CddbTestServer::setQueryFixture(const QString &name)
{
    setQueryAnswer(fixture(name));
}

void CddbTestServer::setQueryAnswer(const QByteArray &answer)
{
    std::lock_guard lock(m_mutex);
    m_queryAnswer = answer;
}

void CddbTestServer::setHandler(std::function<Reply(const QString &target)> handler)
{
    std::lock_guard lock(m_mutex);
    m_handler = std::move(handler);
}

void CddbTestServer::setBehaviour(Behaviour behaviour)
{
    std::lock_guard lock(m_mutex);
    m_behaviour = behaviour;
}

QStringList CddbTestServer::commands() const
{
    std::lock_guard lock(m_mutex);
    return m_commands;
}

QStringList CddbTestServer::requestLines() const
{
    std::lock_guard lock(m_mutex);
    return m_requestLines;
}

void CddbTestServer::serve()
{
    for (;;) {
        pollfd fds[2] = {{m_listener, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents)
            return;
        const int client = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        handle(client);
        close(client);
        std::lock_guard lock(m_mutex);
        if (m_stop)
            return;
    }
}

void CddbTestServer::handle(int client)
{
    QByteArray request;
    char buffer[4096];
    while (!request.contains("\r\n\r\n")) {
        pollfd fd{client, POLLIN, 0};
        if (poll(&fd, 1, 5000) <= 0)
            return;
        const ssize_t got = read(client, buffer, sizeof buffer);
        if (got <= 0)
            return;
        request.append(buffer, got);
    }
    const QString line = QString::fromUtf8(request.left(request.indexOf("\r\n")));
    const QString target = line.section(QLatin1Char(' '), 1, 1);
    const QUrlQuery query(QUrl(target).query());
    const QString command =
        query.queryItemValue(QStringLiteral("cmd")).replace(QLatin1Char('+'), QLatin1Char(' '));
    Behaviour behaviour;
    std::function<Reply(const QString &)> handler;
    {
        std::lock_guard lock(m_mutex);
        m_requestLines.append(line);
        m_commands.append(command);
        behaviour = m_behaviour;
        handler = m_handler;
    }
    if (behaviour == Behaviour::Silent) {
        // Keep the connection open and say nothing until the client gives up or the server is taken down.
        for (;;) {
            pollfd fds[2] = {{client, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0 || fds[1].revents)
                return;
            if (fds[0].revents && read(client, buffer, sizeof buffer) <= 0)
                return;
        }
    }
    if (behaviour == Behaviour::Drop)
        return;
    Reply answer{200, QByteArray(), QByteArray()};
    if (handler)
        answer = handler(target);
    else
        answer.body = answerFor(command);
    QByteArray reply = "HTTP/1.0 " + QByteArray::number(answer.status) +
                       " Answer\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Length: " +
                       QByteArray::number(answer.body.size()) + "\r\n" + answer.headers +
                       "Connection: close\r\n\r\n" + answer.body;
    for (qsizetype sent = 0; sent < reply.size();) {
        const ssize_t n = send(client, reply.constData() + sent, size_t(reply.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += n;
    }
}

QByteArray CddbTestServer::answerFor(const QString &command)
{
    const QStringList words = command.split(QLatin1Char(' '));
    if (words.value(1) == QLatin1String("query")) {
        std::lock_guard lock(m_mutex);
        return m_queryAnswer;
    }
    if (words.value(1) == QLatin1String("read")) {
        const QByteArray entry =
            fixture(QStringLiteral("read_%1_%2.txt").arg(words.value(2), words.value(3)));
        return entry.isEmpty() ? QByteArray("401 No such CD entry in database.\r\n") : entry;
    }
    return "500 Unrecognized command.\r\n";
}

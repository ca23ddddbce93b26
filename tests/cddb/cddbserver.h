// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <mutex>
#include <thread>

// A CDDB server of the tests' own on 127.0.0.1: answers "cddb query" with the chosen fixture file and
// "cddb read CATEGORY ID" with fixtures/read_CATEGORY_ID.txt ("401" when there is none). It can also keep a
// connection open without a word, or drop it unanswered.
class CddbTestServer {
public:
    enum class Behaviour { Answer, Silent, Drop };

    CddbTestServer();
    ~CddbTestServer();

    // "http://127.0.0.1:PORT"
    QString url() const;
    void setQueryFixture(const QString &name);
    void setQueryAnswer(const QByteArray &answer);
    void setBehaviour(Behaviour behaviour);
    // Any other web service: the handler answers each request target ("/ws/2/...?...") instead.
    struct Reply {
        int status = 200;
        QByteArray body;
        QByteArray headers; // extra header lines, each ending in CR LF
    };
    void setHandler(std::function<Reply(const QString &target)> handler);
    // The "cmd" of every request, decoded ("cddb query 06019002 2 150 15150 402").
    QStringList commands() const;
    // The whole request lines ("GET /~cddb/... HTTP/1.1").
    QStringList requestLines() const;
    static QByteArray fixture(const QString &name);

private:
    void serve();
    void handle(int client);
    QByteArray answerFor(const QString &command);

    int m_listener = -1;
    int m_wakePipe[2] = {-1, -1};
    quint16 m_port = 0;
    mutable std::mutex m_mutex;
    bool m_stop = false;
    Behaviour m_behaviour = Behaviour::Answer;
    QByteArray m_queryAnswer;
    std::function<Reply(const QString &target)> m_handler;
    QStringList m_commands;
    QStringList m_requestLines;
    std::thread m_thread;
};

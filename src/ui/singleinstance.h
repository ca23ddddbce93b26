// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QLocalServer;

// Keeps one running instance per user. The running instance listens on a local socket named after its main
// window class; a second start connects, sends the restore message (1129) and ends. A socket left behind by
// a crashed run (nobody answers) is removed, so it never blocks the next start.
class SingleInstance final : public QObject {
    Q_OBJECT
public:
    static const QString WindowClassName;

    explicit SingleInstance(QObject *parent = nullptr);
    ~SingleInstance() override;

    // The per-user socket path: in $XDG_RUNTIME_DIR when set, else in the temporary folder with the user id.
    static QString socketPath();

    // Asks a running instance to come forward. True when one received the request.
    static bool notifyRunningInstance(int timeoutMs = 2000);

    // Starts listening, replacing a stale socket. False when the socket cannot be created.
    bool listen();

    // Each restore request that arrives is posted as WM_RESTORE_INSTANCE to this receiver.
    void setReceiver(QObject *receiver) { m_receiver = receiver; }

signals:
    void restoreRequested();

private:
    void acceptConnection();

    QLocalServer *m_server;
    QPointer<QObject> m_receiver;
};

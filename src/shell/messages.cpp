// SPDX-License-Identifier: GPL-3.0-or-later
#include "messages.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <cmath>

QString MinutesSeconds(int64_t seconds)
{
    const auto part = [](int64_t v) {
        return (v < 10 ? QStringLiteral("0") : QString()) + QString::number(v);
    };
    return part(seconds / 60) + QLatin1Char(':') + part(seconds % 60);
}

TProcessInfo ProgressNotice(int32_t percent, double elapsedSeconds)
{
    TProcessInfo info;
    info.Percent = percent;
    if (percent != 0) {
        const int64_t elapsed = std::llround(elapsedSeconds);
        info.Elapsed = MinutesSeconds(elapsed);
        info.Estimated = MinutesSeconds(std::llround(double(elapsed) * 100.0 / percent));
    }
    return info;
}

TMessageEvent::TMessageEvent(int message, intptr_t wParam, intptr_t lParam)
    : QEvent(MessageEventType(message)), m_message(message), m_wParam(wParam), m_lParam(lParam)
{
}

TMessageEvent::TMessageEvent(std::unique_ptr<TProcessInfo> info)
    : QEvent(MessageEventType(WM_PROCESSINFO)), m_message(WM_PROCESSINFO), m_wParam(0),
      m_lParam(reinterpret_cast<intptr_t>(info.get())), m_info(std::move(info))
{
}

int TMessageEvent::messageOf(const QEvent *event)
{
    if (auto *message = dynamic_cast<const TMessageEvent *>(event))
        return message->message();
    return 0;
}

namespace {

bool post(QObject *receiver, std::unique_ptr<TMessageEvent> event)
{
    if (!receiver)
        return false;
    QCoreApplication::postEvent(receiver, event.release());
    return true;
}

bool send(QObject *receiver, std::unique_ptr<TMessageEvent> event)
{
    if (!receiver)
        return false;
    if (receiver->thread() == QThread::currentThread())
        return QCoreApplication::sendEvent(receiver, event.get());
    QPointer<QObject> guard(receiver);
    bool handled = false;
    QMetaObject::invokeMethod(
        receiver,
        [&] {
            if (guard)
                handled = QCoreApplication::sendEvent(guard, event.get());
        },
        Qt::BlockingQueuedConnection);
    return handled;
}

} // namespace

bool PostMessage(QObject *receiver, int message, intptr_t wParam, intptr_t lParam)
{
    return post(receiver, std::make_unique<TMessageEvent>(message, wParam, lParam));
}

bool PostProcessInfo(QObject *receiver, const TProcessInfo &info)
{
    return post(receiver, std::make_unique<TMessageEvent>(std::make_unique<TProcessInfo>(info)));
}

bool SendProcessInfo(QObject *receiver, const TProcessInfo &info)
{
    return send(receiver, std::make_unique<TMessageEvent>(std::make_unique<TProcessInfo>(info)));
}

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "result.h"

#include <QString>
#include <atomic>
#include <optional>

// One blocking HTTP GET over libcurl, for the CDDB lookups. The answer is read as UTF-8, or as Latin-1 when
// it is not valid UTF-8 (older servers answer so), cut at MaxBytes (a character cut in two is left out). Dead
// or silent servers end the transfer through the time-outs. Callable from any thread.
struct HttpRequest {
    QString url;
    QString userAgent;
    QString proxy; // "host:port"; empty for none
    int connectTimeoutSeconds = 10;
    int totalTimeoutSeconds = 30;
    qint64 maxBytes = 1 << 20;
    const std::atomic<bool> *cancel = nullptr; // set from elsewhere to end the transfer early
};

struct HttpResponse {
    bool ok = false; // the URL could be opened and read
    long status = 0;
    QString text;
    QByteArray bytes; // the answer as it came (cut at maxBytes)
    bool cut = false; // the answer was longer than maxBytes
    QString error;
    int retryAfterSeconds = -1; // the server's Retry-After, when it sent one
};

HttpResponse HttpGet(const HttpRequest &request);

// A database's answer at `url`, asked as this program: its bytes; nothing when the database does not know
// what was asked (404); or why it could not be asked ("WHAT could not be asked (URL): reason").
TResult<std::optional<QByteArray>> AskDatabase(const QString &what, const QString &url,
                                               const std::atomic<bool> *cancel);

// A server's bytes as text: UTF-8 when they are valid UTF-8, else Latin-1. Thread-safe.
QString DecodeServerText(const QByteArray &bytes);

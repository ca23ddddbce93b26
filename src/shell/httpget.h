#pragma once

#include <QString>
#include <atomic>

// One blocking HTTP GET over libcurl, for the CDDB lookups. The answer is taken as UTF-8 (a character split
// between two chunks of the transfer still comes out whole), cut at MaxBytes. Dead or silent servers end
// the transfer through the time-outs. Callable from any thread.
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
    QString error;
};

HttpResponse HttpGet(const HttpRequest &request);

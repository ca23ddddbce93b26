// SPDX-License-Identifier: GPL-3.0-or-later
#include "httpget.h"

#include "trace.h"

#include <QStringDecoder>
#include <curl/curl.h>
#include <mutex>

namespace {

struct Transfer {
    QByteArray bytes;
    int retryAfter = -1;
    qint64 received = 0;
    qint64 limit = 0;
    const std::atomic<bool> *cancel = nullptr;
};

size_t onData(char *data, size_t size, size_t count, void *user)
{
    auto *t = static_cast<Transfer *>(user);
    const qint64 bytes = qint64(size * count);
    const qint64 take = std::min(bytes, t->limit - t->received);
    if (take > 0) {
        t->bytes.append(data, take);
        t->received += take;
    }
    // Past the limit the answer is cut: the transfer ends as if it had been complete.
    return t->received >= t->limit ? 0 : size_t(bytes);
}

// Keeps the one header the callers need: how long a busy server asks to be left alone.
size_t onHeader(char *data, size_t size, size_t count, void *user)
{
    auto *t = static_cast<Transfer *>(user);
    const QByteArray line = QByteArray(data, qsizetype(size * count)).trimmed();
    if (line.toLower().startsWith("retry-after:")) {
        bool ok = false;
        const int seconds = line.mid(12).trimmed().toInt(&ok);
        if (ok && seconds >= 0)
            t->retryAfter = seconds;
    }
    return size * count;
}

int onProgress(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto *t = static_cast<Transfer *>(user);
    return t->cancel && t->cancel->load() ? 1 : 0;
}

} // namespace

QString DecodeServerText(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(bytes);
}

HttpResponse HttpGet(const HttpRequest &request)
{
    static std::once_flag init;
    std::call_once(init, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    HttpResponse response;
    CURL *curl = curl_easy_init();
    if (!curl) {
        response.error = QStringLiteral("cannot start a transfer");
        return response;
    }
    Transfer transfer;
    transfer.limit = request.maxBytes;
    transfer.cancel = request.cancel;
    const QByteArray url = request.url.toUtf8();
    const QByteArray agent = request.userAgent.toUtf8();
    const QByteArray proxy = request.proxy.toUtf8();
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_USERAGENT, agent.constData());
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, long(request.connectTimeoutSeconds));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, long(request.totalTimeoutSeconds));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_PROXY, proxy.isEmpty() ? "" : proxy.constData());
    const CURLcode result = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
    curl_easy_cleanup(curl);
    const bool cut = result == CURLE_WRITE_ERROR && transfer.received >= transfer.limit;
    if (cut) {
        // A character the limit split in two is left out, not read as something else.
        qsizetype end = transfer.bytes.size();
        qsizetype start = end;
        while (start > 0 && end - start < 4 && (uchar(transfer.bytes.at(start - 1)) & 0xC0) == 0x80)
            --start;
        if (start > 0) {
            const uchar lead = uchar(transfer.bytes.at(start - 1));
            const qsizetype need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            if (need > end - start + 1)
                transfer.bytes.truncate(start - 1);
        }
    }
    response.bytes = transfer.bytes;
    response.cut = cut;
    response.text = DecodeServerText(transfer.bytes);
    response.retryAfterSeconds = transfer.retryAfter;
    response.ok = (result == CURLE_OK || cut) && response.status < 400;
    if (result != CURLE_OK && !cut)
        response.error = QString::fromUtf8(curl_easy_strerror(result));
    else if (!response.ok)
        response.error = QStringLiteral("the server answered with status %1").arg(response.status);
    Trace(1, response.status > 0
                 ? QStringLiteral("GET %1: status %2, %3 bytes%4")
                       .arg(request.url)
                       .arg(response.status)
                       .arg(response.bytes.size())
                       .arg(response.ok ? QString() : QStringLiteral(" (") + response.error + ')')
                 : QStringLiteral("GET %1: %2").arg(request.url, response.error));
    return response;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "httpget.h"

#include "trace.h"

#include <QStringDecoder>
#include <curl/curl.h>
#include <dlfcn.h>
#include <mutex>

namespace {

// libcurl, loaded on the first request: commands and windows that never use the network do not pay for it
// (and for the TLS, Kerberos, LDAP and SSH libraries it brings) at start-up.
struct Curl {
    decltype(&curl_global_init) globalInit = nullptr;
    decltype(&curl_easy_init) init = nullptr;
    decltype(&curl_easy_setopt) setopt = nullptr;
    decltype(&curl_easy_perform) perform = nullptr;
    decltype(&curl_easy_getinfo) getinfo = nullptr;
    decltype(&curl_easy_cleanup) cleanup = nullptr;
    decltype(&curl_easy_strerror) strerror = nullptr;
    QString error; // why it could not be loaded; empty when it was
};

const Curl &curl()
{
    static const Curl loaded = [] {
        Curl c;
        void *library = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            c.error = QStringLiteral("the HTTP library libcurl.so.4 cannot be loaded (the libcurl4 package "
                                     "provides it): ") +
                      QString::fromLocal8Bit(dlerror());
            return c;
        }
        const auto symbol = [&](auto &pointer, const char *name) {
            pointer = reinterpret_cast<std::remove_reference_t<decltype(pointer)>>(dlsym(library, name));
            if (!pointer && c.error.isEmpty())
                c.error = QStringLiteral("libcurl.so.4 has no %1").arg(QLatin1String(name));
        };
        symbol(c.globalInit, "curl_global_init");
        symbol(c.init, "curl_easy_init");
        symbol(c.setopt, "curl_easy_setopt");
        symbol(c.perform, "curl_easy_perform");
        symbol(c.getinfo, "curl_easy_getinfo");
        symbol(c.cleanup, "curl_easy_cleanup");
        symbol(c.strerror, "curl_easy_strerror");
        if (c.error.isEmpty())
            c.globalInit(CURL_GLOBAL_DEFAULT);
        return c;
    }();
    return loaded;
}

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
    HttpResponse response;
    const Curl &lib = curl();
    if (!lib.error.isEmpty()) {
        response.error = lib.error;
        return response;
    }
    CURL *handle = lib.init();
    if (!handle) {
        response.error = QStringLiteral("cannot start a transfer");
        return response;
    }
    Transfer transfer;
    transfer.limit = request.maxBytes;
    transfer.cancel = request.cancel;
    const QByteArray url = request.url.toUtf8();
    const QByteArray agent = request.userAgent.toUtf8();
    const QByteArray proxy = request.proxy.toUtf8();
    lib.setopt(handle, CURLOPT_URL, url.constData());
    lib.setopt(handle, CURLOPT_USERAGENT, agent.constData());
    lib.setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    // A server that sends us round in circles gets five tries (libcurl would follow it for ever).
    lib.setopt(handle, CURLOPT_MAXREDIRS, 5L);
    lib.setopt(handle, CURLOPT_NOSIGNAL, 1L);
    lib.setopt(handle, CURLOPT_CONNECTTIMEOUT, long(request.connectTimeoutSeconds));
    lib.setopt(handle, CURLOPT_TIMEOUT, long(request.totalTimeoutSeconds));
    lib.setopt(handle, CURLOPT_WRITEFUNCTION, onData);
    lib.setopt(handle, CURLOPT_WRITEDATA, &transfer);
    lib.setopt(handle, CURLOPT_HEADERFUNCTION, onHeader);
    lib.setopt(handle, CURLOPT_HEADERDATA, &transfer);
    lib.setopt(handle, CURLOPT_XFERINFOFUNCTION, onProgress);
    lib.setopt(handle, CURLOPT_XFERINFODATA, &transfer);
    lib.setopt(handle, CURLOPT_NOPROGRESS, 0L);
    lib.setopt(handle, CURLOPT_PROXY, proxy.isEmpty() ? "" : proxy.constData());
    const CURLcode result = lib.perform(handle);
    lib.getinfo(handle, CURLINFO_RESPONSE_CODE, &response.status);
    lib.cleanup(handle);
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
        response.error = QString::fromUtf8(lib.strerror(result));
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

TResult<std::optional<QByteArray>> AskDatabase(const QString &what, const QString &url,
                                               const std::atomic<bool> *cancel)
{
    HttpRequest request;
    request.url = url;
    request.userAgent = QStringLiteral("Sondrel/" SONDREL_VERSION);
    request.cancel = cancel;
    const HttpResponse response = HttpGet(request);
    if (response.status == 404)
        return std::optional<QByteArray>();
    if (!response.ok || response.status != 200)
        return TFailure{
            QStringLiteral("%1 could not be asked (%2): %3")
                .arg(what, url, response.error.isEmpty() ? QStringLiteral("no answer") : response.error)};
    return std::optional<QByteArray>(response.bytes);
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "cddbaccess.h"

#include "cddbinfo.h"
#include "shell/helpers.h"
#include "shell/httpget.h"

#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

int32_t fail(TCdError *error, int32_t code, const QString &text = QString());

QString plussed(QString text)
{
    return text.replace(QLatin1Char(' '), QLatin1Char('+'));
}

// One CDDB command over HTTP; false when the server cannot be reached or answers with an HTTP error.
bool cddbRequest(const TCddbClientOptions &o, const QString &command, QString &answer, TCdError *error)
{
    const QString address = CddbServerAddress(o.server, o.script);
    const QString agentName = o.agent.section(QLatin1Char(' '), 0, 0);
    const QString agentVersion = o.agent.section(QLatin1Char(' '), 1);
    QString email = o.email.isEmpty() ? TCDDBInfo::DefaultEmail() : o.email;
    HttpRequest request;
    request.url = address + QStringLiteral("?cmd=cddb+") + plussed(command) + QStringLiteral("&hello=") +
                  email.replace(QLatin1Char('@'), QLatin1Char('+')) + QLatin1Char('+') + plussed(agentName) +
                  QLatin1Char('+') + plussed(agentVersion) + QStringLiteral("&proto=6");
    request.userAgent = o.agent;
    if (o.useProxy && !o.proxy.isEmpty())
        request.proxy = o.proxy + QLatin1Char(':') + QString::number(o.proxyPort);
    request.totalTimeoutSeconds = o.timeoutSeconds;
    request.connectTimeoutSeconds = std::min(10, o.timeoutSeconds);
    request.cancel = o.cancel;
    const HttpResponse response = HttpGet(request);
    answer = response.text;
    if (!response.ok)
        fail(error, CDERR_CDDB_NETWORK, response.error);
    return response.ok;
}

int32_t fail(TCdError *error, int32_t code, const QString &text)
{
    SetAspiLibError(code);
    if (error)
        *error = TCdError{code, text};
    return 0;
}

void copyText(char *target, size_t size, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::memset(target, 0, size);
    std::memcpy(target, bytes.constData(), std::min(size_t(bytes.size()), size - 1));
}

} // namespace

void CDDBSetOption(TCddbClientOptions &options, int32_t option, const QString &text, int32_t number)
{
    switch (option) {
    case CDDB_OPT_SERVER:
        options.server = text;
        break;
    case CDDB_OPT_PROXY:
        options.proxy = text;
        break;
    case CDDB_OPT_USE_PROXY:
        options.useProxy = number != 0;
        break;
    case CDDB_OPT_AGENT:
        options.agent = text;
        break;
    case CDDB_OPT_USER:
        options.email = text;
        break;
    case CDDB_OPT_PROXY_PORT:
        options.proxyPort = number > 0 && number < 65536 ? number : 80;
        break;
    case CDDB_OPT_CGI:
        options.script = text;
        break;
    default:
        break;
    }
}

int32_t CDDBQuery(const TCddbClientOptions &options, TCdHandle handle, TCDDBQueryHeader *query,
                  TCdError *error)
{
    if (!query || !query->q || query->num <= 0)
        return fail(error, CDERR_INVALID_PARAMETER, QStringLiteral("Invalid CDDB query"));
    const int capacity = std::min<int>(query->num, CDDB_MAX_MATCHES);
    query->num = 0;
    TToc toc{};
    if (ModifyCDParms(handle, CDP_MSF, 1, error) == 0 || ReadTOC(handle, &toc, error) != 1)
        return 0;
    QString discId;
    QString queryText;
    CddbIdentityOfToc(toc, discId, queryText);
    QString answer;
    if (!cddbRequest(options, QStringLiteral("query ") + discId + QLatin1Char(' ') + queryText, answer,
                     error))
        return 0;
    TCDDBInfo parser;
    const int code = parser.Query().ParseQueryResponse(answer);
    const QStringList &matches = parser.Query().Matches();
    static const QRegularExpression statusLine(QStringLiteral("^\\d{3}([ -]|$)"));
    if (!statusLine.match(answer).hasMatch()) {
        // Noise, a web page, a proxy's message: said as such, not taken for a server without the disc.
        return fail(error, CDERR_CDDB_ANSWER,
                    QStringLiteral("no CDDB status line (it begins \"%1\")")
                        .arg(WithoutControlChars(answer.left(40))));
    }
    if (code != 200 && code != 210 && code != 211) {
        fail(error, code == 202 ? CDERR_CDDB_NO_MATCH : CDERR_CDDB_NETWORK,
             QStringLiteral("CDDB answer %1").arg(code));
        return code == 202 ? 1 : 0;
    }
    for (const QString &match : matches) {
        if (query->num >= capacity)
            break;
        TCDDBQueryItem &item = query->q[query->num];
        const QString category = match.section(QLatin1Char(' '), 0, 0);
        const QString id = match.section(QLatin1Char(' '), 1, 1);
        if (category.isEmpty() || id.isEmpty())
            continue;
        const QString rest = match.section(QLatin1Char(' '), 2);
        const qsizetype slash = rest.indexOf(QStringLiteral(" / "));
        copyText(item.categ, sizeof item.categ, category);
        copyText(item.cddbId, sizeof item.cddbId, id);
        copyText(item.artist, sizeof item.artist, slash < 0 ? QString() : rest.left(slash));
        copyText(item.title, sizeof item.title, slash < 0 ? rest : rest.mid(slash + 3));
        ++query->num;
    }
    if (query->num == 0)
        fail(error, CDERR_CDDB_NO_MATCH, QStringLiteral("no usable match"));
    else if (error)
        *error = TCdError{};
    return 1;
}

int32_t CDDBGetDiskInfo(const TCddbClientOptions &options, const TCDDBQueryItem *entry, char *text,
                        int32_t size, TCdError *error)
{
    if (!entry || !text || size <= 0)
        return fail(error, CDERR_INVALID_PARAMETER, QStringLiteral("Invalid CDDB entry request"));
    const QString category = QString::fromUtf8(entry->categ, qstrnlen(entry->categ, sizeof entry->categ));
    const QString id = QString::fromUtf8(entry->cddbId, qstrnlen(entry->cddbId, sizeof entry->cddbId));
    QString answer;
    if (!cddbRequest(options, QStringLiteral("read ") + category + QLatin1Char(' ') + id, answer, error))
        return 0;
    if (!answer.startsWith(QStringLiteral("210")))
        return fail(error, CDERR_CDDB_NO_MATCH,
                    WithoutControlChars(answer.section(QLatin1Char('\n'), 0, 0).trimmed()));
    // The entry without the status line; cut at a character boundary when the buffer is too small.
    QByteArray bytes = answer.section(QLatin1Char('\n'), 1).toUtf8();
    qsizetype length = std::min<qsizetype>(bytes.size(), size - 1);
    while (length > 0 && length < bytes.size() && (uchar(bytes.at(length)) & 0xc0) == 0x80)
        --length;
    std::memcpy(text, bytes.constData(), size_t(length));
    text[length] = '\0';
    if (error)
        *error = TCdError{};
    return 1;
}

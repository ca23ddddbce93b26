// SPDX-License-Identifier: GPL-3.0-or-later
#include "tocimage.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QtEndian>
#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

constexpr int sectorBytes = 2352;
constexpr int64_t mostBytes = int64_t(1) << 40; // far beyond any disc: a guard against overflow

struct Token {
    enum Kind { Word, String, Open, Close, End } kind = End;
    QByteArray text;
    int line = 0;
};

// The bytes of each sector of a track mode, with sub-channel data when the track has it.
int blockBytesOf(const QByteArray &mode)
{
    static const std::map<QByteArray, int> modes = {
        {"AUDIO", 2352},       {"MODE0", 2336},          {"MODE1", 2048},
        {"MODE1_RAW", 2352},   {"MODE2", 2336},          {"MODE2_FORM1", 2048},
        {"MODE2_FORM2", 2324}, {"MODE2_FORM_MIX", 2336}, {"MODE2_RAW", 2352},
    };
    const auto it = modes.find(mode);
    return it == modes.end() ? 0 : it->second;
}

// A text of a TOC file: its escapes (\" \\ and octal bytes such as \351) undone, then read as UTF-8 where it
// is that, else as Latin-1 (CD-Text's own encoding).
QString textOf(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString decoded = utf8.decode(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : decoded;
}

} // namespace

class TocImage::Parser {
public:
    Parser(const QByteArray &text, TocImage &image, const QString &folder)
        : m_text(text), m_image(image), m_folder(folder)
    {
    }

    bool parse(QString *reason);

private:
    struct TrackBuild {
        Track track;
        int blockBytes = sectorBytes;
        std::vector<Piece> pieces;
        int64_t bytes = 0;
        int64_t startBytes = -1; // where index 1 begins, when START or PREGAP said
    };

    Token next();
    Token peek();
    bool fail(const QString &why, int line = 0);
    bool expect(Token::Kind kind, const char *what, Token *token = nullptr);
    bool isValue(const Token &token) const
    {
        return token.kind == Token::Word && !token.text.isEmpty() &&
               (std::isdigit(uchar(token.text[0])) || token.text[0] == '#');
    }
    // A length or position: MM:SS:FF in blocks, a bare number in samples (audio) or bytes (data), #N bytes.
    bool value(const Token &token, int64_t *bytes);
    bool cdText(Track *track);
    bool skipBlock();
    bool statement(const Token &token);
    bool fileStatement(const Token &word);
    bool finishTrack();
    int fileIndex(const QString &name, bool audio, int line);

    const QByteArray m_text;
    TocImage &m_image;
    const QString m_folder;
    qsizetype m_at = 0;
    int m_line = 1;
    bool m_peeked = false;
    Token m_peek;
    std::unique_ptr<TrackBuild> m_track;
    int32_t m_sectors = 0;
    QString m_reason;
};

Token TocImage::Parser::next()
{
    if (m_peeked) {
        m_peeked = false;
        return m_peek;
    }
    const qsizetype size = m_text.size();
    for (;;) {
        while (m_at < size && std::isspace(uchar(m_text[m_at]))) {
            if (m_text[m_at] == '\n')
                ++m_line;
            ++m_at;
        }
        if (m_at + 1 < size && m_text[m_at] == '/' && m_text[m_at + 1] == '/') {
            while (m_at < size && m_text[m_at] != '\n')
                ++m_at;
            continue;
        }
        if (m_at < size && m_text[m_at] == ',') {
            ++m_at; // between the numbers of binary CD-Text data
            continue;
        }
        break;
    }
    Token token;
    token.line = m_line;
    if (m_at >= size)
        return token;
    const char c = m_text[m_at];
    if (c == '{' || c == '}') {
        ++m_at;
        token.kind = c == '{' ? Token::Open : Token::Close;
        return token;
    }
    if (c == '"') {
        token.kind = Token::String;
        for (++m_at; m_at < size && m_text[m_at] != '"'; ++m_at) {
            char ch = m_text[m_at];
            if (ch == '\n')
                ++m_line;
            if (ch == '\\' && m_at + 1 < size) {
                ch = m_text[++m_at];
                if (ch >= '0' && ch <= '7') {
                    int octal = 0;
                    for (int i = 0; i < 3 && m_at < size && m_text[m_at] >= '0' && m_text[m_at] <= '7'; ++i)
                        octal = octal * 8 + (m_text[m_at++] - '0');
                    --m_at;
                    ch = char(octal & 0xFF);
                }
            }
            token.text += ch;
        }
        ++m_at; // the closing quote
        return token;
    }
    token.kind = Token::Word;
    while (m_at < size && !std::isspace(uchar(m_text[m_at])) && !QByteArray("{}\",").contains(m_text[m_at]) &&
           !(m_text[m_at] == '/' && m_at + 1 < size && m_text[m_at + 1] == '/'))
        token.text += m_text[m_at++];
    return token;
}

Token TocImage::Parser::peek()
{
    if (!m_peeked) {
        m_peek = next();
        m_peeked = true;
    }
    return m_peek;
}

bool TocImage::Parser::fail(const QString &why, int line)
{
    m_reason = line > 0 ? QStringLiteral("line %1: %2").arg(line).arg(why) : why;
    return false;
}

bool TocImage::Parser::expect(Token::Kind kind, const char *what, Token *token)
{
    const Token t = next();
    if (t.kind != kind)
        return fail(QStringLiteral("%1 expected").arg(QLatin1String(what)), t.line);
    if (token)
        *token = t;
    return true;
}

bool TocImage::Parser::value(const Token &token, int64_t *bytes)
{
    if (!isValue(token))
        return fail(QStringLiteral("a length or position expected"), token.line);
    const bool audio = !m_track || m_track->track.audio;
    const int block = m_track ? m_track->blockBytes : sectorBytes;
    bool ok = false;
    if (token.text.startsWith('#')) {
        *bytes = token.text.mid(1).toLongLong(&ok);
    } else if (token.text.contains(':')) {
        const QList<QByteArray> parts = token.text.split(':');
        bool m = false, s = false, f = false;
        const int64_t frames =
            parts.size() == 3
                ? (parts[0].toLongLong(&m) * 60 + parts[1].toLongLong(&s)) * 75 + parts[2].toLongLong(&f)
                : 0;
        ok = parts.size() == 3 && m && s && f && parts[1].toInt() < 60 && parts[2].toInt() < 75;
        *bytes = frames * block;
    } else {
        *bytes = token.text.toLongLong(&ok) * (audio ? 4 : 1);
    }
    if (!ok || *bytes < 0 || *bytes > mostBytes)
        return fail(QStringLiteral("\"%1\" is no length or position").arg(QString::fromLatin1(token.text)),
                    token.line);
    return true;
}

bool TocImage::Parser::skipBlock()
{
    int depth = 1;
    while (depth > 0) {
        const Token t = next();
        if (t.kind == Token::End)
            return fail(QStringLiteral("a block that does not end"));
        depth += t.kind == Token::Open ? 1 : t.kind == Token::Close ? -1 : 0;
    }
    return true;
}

// CD_TEXT { LANGUAGE_MAP { ... } LANGUAGE n { ITEM "text" | ITEM { bytes } ... } ... }: the title and
// performer of the first language given.
bool TocImage::Parser::cdText(Track *track)
{
    if (!expect(Token::Open, "{"))
        return false;
    bool taken = false;
    for (;;) {
        const Token t = next();
        if (t.kind == Token::Close)
            return true;
        if (t.kind != Token::Word)
            return fail(QStringLiteral("LANGUAGE_MAP or LANGUAGE expected"), t.line);
        if (t.text == "LANGUAGE_MAP") {
            if (!expect(Token::Open, "{") || !skipBlock())
                return false;
            continue;
        }
        if (t.text != "LANGUAGE")
            return fail(QStringLiteral("LANGUAGE_MAP or LANGUAGE expected"), t.line);
        if (!expect(Token::Word, "a language number") || !expect(Token::Open, "{"))
            return false;
        for (;;) {
            const Token item = next();
            if (item.kind == Token::Close)
                break;
            if (item.kind != Token::Word)
                return fail(QStringLiteral("a CD-Text item expected"), item.line);
            const Token data = next();
            if (data.kind == Token::Open) {
                if (!skipBlock())
                    return false;
            } else if (data.kind != Token::String) {
                return fail(QStringLiteral("a text or { data } expected"), data.line);
            } else if (!taken) {
                const QString text = textOf(data.text).trimmed();
                if (item.text == "TITLE")
                    (track ? track->title : m_image.m_albumTitle) = text;
                else if (item.text == "PERFORMER")
                    (track ? track->performer : m_image.m_albumPerformer) = text;
            }
        }
        taken = true;
    }
}

int TocImage::Parser::fileIndex(const QString &name, bool audio, int line)
{
    const QString path = QFileInfo(name).isAbsolute() ? name : m_folder + QLatin1Char('/') + name;
    for (size_t i = 0; i < m_image.m_files.size(); ++i)
        if (m_image.m_files[i].path == path)
            return int(i);
    const QFileInfo info(path);
    if (!info.exists()) {
        fail(QStringLiteral("%1: No such file or directory").arg(path), line);
        return -1;
    }
    // A FIFO or a device would hold the reader until someone writes, or read what is no image.
    if (!info.isFile()) {
        fail(QStringLiteral("%1: not a regular file").arg(path), line);
        return -1;
    }
    DataFile data;
    data.path = path;
    data.file = std::make_unique<QFile>(path);
    if (!data.file->open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("%1: %2").arg(path, data.file->errorString()), line);
        return -1;
    }
    const int64_t size = data.file->size();
    data.dataBytes = size;
    if (audio && path.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive)) {
        // A WAVE file: its data chunk, which must hold 16-bit stereo at 44.1 kHz.
        const QByteArray head = data.file->read(12);
        bool format = false;
        data.dataBytes = -1;
        int64_t at = 12;
        while (head.size() == 12 && head.startsWith("RIFF") && head.mid(8) == "WAVE" && at + 8 <= size) {
            data.file->seek(at);
            const QByteArray chunk = data.file->read(24);
            if (chunk.size() < 8)
                break;
            const int64_t bytes = qFromLittleEndian<uint32_t>(chunk.constData() + 4);
            if (chunk.startsWith("fmt ") && chunk.size() >= 24) {
                const auto *b = chunk.constData() + 8;
                format = qFromLittleEndian<uint16_t>(b) == 1 && qFromLittleEndian<uint16_t>(b + 2) == 2 &&
                         qFromLittleEndian<uint32_t>(b + 4) == 44100 &&
                         qFromLittleEndian<uint16_t>(b + 14) == 16;
            } else if (chunk.startsWith("data")) {
                data.dataStart = at + 8;
                data.dataBytes = std::min(bytes, size - data.dataStart);
                break;
            }
            at += 8 + bytes + (bytes & 1);
        }
        if (!format || data.dataBytes < 0) {
            fail(QStringLiteral("%1: not a WAVE file of 16-bit stereo audio at 44100 Hz").arg(path), line);
            return -1;
        }
    } else {
        data.swap = audio;
    }
    m_image.m_files.push_back(std::move(data));
    return int(m_image.m_files.size() - 1);
}

// [AUDIO]FILE "name" start [length], DATAFILE "name" [#offset] [length].
bool TocImage::Parser::fileStatement(const Token &word)
{
    Token name;
    if (!expect(Token::String, "a file name in quotes", &name))
        return false;
    const bool datafile = word.text == "DATAFILE";
    const int index = fileIndex(textOf(name.text), !datafile, name.line);
    if (index < 0)
        return false;
    const DataFile &file = m_image.m_files[size_t(index)];
    int64_t start = 0;
    int64_t length = 0;
    if (!datafile || peek().text.startsWith('#')) {
        if (!value(next(), &start))
            return false;
    }
    if (isValue(peek()) && !value(next(), &length))
        return false;
    if (start > file.dataBytes)
        return fail(
            QStringLiteral("%1 starts past the end of %2").arg(QString::fromLatin1(word.text), file.path),
            word.line);
    if (length == 0)
        length = file.dataBytes - start;
    m_track->pieces.push_back(Piece{length, index, start});
    m_track->bytes += length;
    return true;
}

bool TocImage::Parser::statement(const Token &t)
{
    TrackBuild &b = *m_track;
    const QByteArray &w = t.text;
    int64_t bytes = 0;
    if (w == "NO") {
        const Token what = next();
        if (what.text == "COPY")
            b.track.copyPermitted = false;
        else if (what.text == "PRE_EMPHASIS")
            b.track.preemphasis = false;
        else
            return fail(QStringLiteral("COPY or PRE_EMPHASIS expected after NO"), what.line);
    } else if (w == "COPY") {
        b.track.copyPermitted = true;
    } else if (w == "PRE_EMPHASIS") {
        b.track.preemphasis = true;
    } else if (w == "TWO_CHANNEL_AUDIO" || w == "FOUR_CHANNEL_AUDIO") {
    } else if (w == "ISRC") {
        Token code;
        if (!expect(Token::String, "the ISRC in quotes", &code))
            return false;
        b.track.isrc = textOf(code.text);
    } else if (w == "CD_TEXT") {
        return cdText(&b.track);
    } else if (w == "SILENCE" || w == "ZERO") {
        // ZERO may name a mode and a sub-channel mode before its length.
        while (w == "ZERO" && peek().kind == Token::Word && !isValue(peek()))
            next();
        if (!value(next(), &bytes))
            return false;
        b.pieces.push_back(Piece{bytes, -1, 0});
        b.bytes += bytes;
    } else if (w == "FILE" || w == "AUDIOFILE" || w == "DATAFILE") {
        return fileStatement(t);
    } else if (w == "FIFO") {
        return fail(QStringLiteral("FIFO statements are not read: a FIFO holds its reader until written"),
                    t.line);
    } else if (w == "START") {
        if (isValue(peek())) {
            if (!value(next(), &bytes))
                return false;
        } else {
            bytes = b.bytes;
        }
        b.startBytes = bytes;
    } else if (w == "PREGAP") {
        if (!value(next(), &bytes))
            return false;
        b.pieces.push_back(Piece{bytes, -1, 0});
        b.bytes += bytes;
        b.startBytes = b.bytes;
    } else if (w == "INDEX") {
        if (!value(next(), &bytes))
            return false;
    } else {
        return fail(QStringLiteral("unknown statement %1").arg(QString::fromLatin1(w)), t.line);
    }
    return true;
}

bool TocImage::Parser::finishTrack()
{
    if (!m_track)
        return true;
    TrackBuild &b = *m_track;
    const int block = b.blockBytes;
    const int64_t sectors = (b.bytes + block - 1) / block;
    if (sectors == 0)
        return fail(QStringLiteral("track %1 holds no data").arg(b.track.number));
    const int64_t pregap = b.startBytes > 0 ? (b.startBytes + block - 1) / block : 0;
    if (pregap >= sectors)
        return fail(QStringLiteral("track %1: its START lies at or past its end").arg(b.track.number));
    if (m_sectors + sectors > 450000) // 100 minutes: more than a CD holds
        return fail(QStringLiteral("more sectors than a CD holds"));
    b.track.begin = m_sectors;
    b.track.pregap = int32_t(pregap);
    b.track.sectors = int32_t(sectors);
    m_sectors += int32_t(sectors);
    m_image.m_tracks.push_back(b.track);
    m_image.m_pieces.push_back(std::move(b.pieces));
    m_image.m_blockBytes.push_back(block);
    m_track.reset();
    return true;
}

bool TocImage::Parser::parse(QString *reason)
{
    const auto failed = [&] {
        *reason = m_reason;
        return false;
    };
    for (;;) {
        const Token t = next();
        if (t.kind == Token::End)
            break;
        if (t.kind != Token::Word) {
            fail(QStringLiteral("a statement expected"), t.line);
            return failed();
        }
        if (t.text == "TRACK") {
            Token mode;
            if (!finishTrack() || !expect(Token::Word, "a track mode", &mode))
                return failed();
            int block = blockBytesOf(mode.text);
            if (block == 0) {
                fail(QStringLiteral("unknown track mode %1").arg(QString::fromLatin1(mode.text)), mode.line);
                return failed();
            }
            if (peek().text == "RW" || peek().text == "RW_RAW") {
                next();
                block += 96;
            }
            if (m_image.m_tracks.size() >= 99) {
                fail(QStringLiteral("more than 99 tracks"), t.line);
                return failed();
            }
            m_track = std::make_unique<TrackBuild>();
            m_track->track.number = int(m_image.m_tracks.size()) + 1;
            m_track->track.audio = mode.text == "AUDIO";
            m_track->blockBytes = block;
            continue;
        }
        if (m_track) {
            if (!statement(t))
                return failed();
            continue;
        }
        if (t.text == "CD_DA" || t.text == "CD_ROM" || t.text == "CD_ROM_XA" || t.text == "CD_I")
            continue;
        if (t.text == "CATALOG") {
            Token code;
            if (!expect(Token::String, "the catalogue number in quotes", &code))
                return failed();
            m_image.m_catalog = textOf(code.text);
            continue;
        }
        if (t.text == "CD_TEXT") {
            if (!cdText(nullptr))
                return failed();
            continue;
        }
        fail(QStringLiteral("unknown statement %1").arg(QString::fromLatin1(t.text)), t.line);
        return failed();
    }
    if (!finishTrack())
        return failed();
    if (m_image.m_tracks.empty()) {
        *reason = QStringLiteral("no tracks");
        return false;
    }
    m_image.m_leadout = m_sectors;
    return true;
}

TocImage::~TocImage() = default;

std::unique_ptr<TocImage> TocImage::Open(const QString &path, QString *error)
{
    const auto failed = [&](const QString &reason) {
        if (error)
            *error = path + QStringLiteral(": ") + reason;
        return nullptr;
    };
    const QFileInfo info(path);
    if (!info.exists())
        return failed(QStringLiteral("No such file or directory"));
    if (!info.isFile())
        return failed(QStringLiteral("not a regular file"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return failed(file.errorString());
    if (file.size() > (1 << 20))
        return failed(QStringLiteral("too large for a TOC file"));
    std::unique_ptr<TocImage> image(new TocImage);
    image->m_path = path;
    Parser parser(file.readAll(), *image, info.absolutePath());
    QString reason;
    if (!parser.parse(&reason))
        return failed(reason);
    return image;
}

bool TocImage::read(int32_t lsn, uint32_t count, void *buffer, QString *error) const
{
    auto *out = static_cast<char *>(buffer);
    for (uint32_t i = 0; i < count; ++i)
        if (!readSector(lsn + int32_t(i), out + size_t(i) * sectorBytes, error))
            return false;
    return true;
}

bool TocImage::readSector(int32_t lsn, char *out, QString *error) const
{
    const auto it = std::upper_bound(m_tracks.begin(), m_tracks.end(), lsn,
                                     [](int32_t sector, const Track &t) { return sector < t.begin; });
    if (lsn < 0 || lsn >= m_leadout || it == m_tracks.begin()) {
        if (error)
            *error = QStringLiteral("Sector %1 lies outside %2").arg(lsn).arg(m_path);
        return false;
    }
    const size_t t = size_t(it - m_tracks.begin() - 1);
    std::memset(out, 0, sectorBytes);
    if (!m_tracks[t].audio)
        return true;
    // The sector's bytes in the track's stream of pieces; past the pieces, the zeros of the last block.
    const int64_t from = int64_t(lsn - m_tracks[t].begin) * m_blockBytes[t];
    const int64_t to = from + sectorBytes;
    int64_t at = 0;
    for (const Piece &piece : m_pieces[t]) {
        const int64_t begin = std::max(from, at);
        const int64_t end = std::min(to, at + piece.bytes);
        if (begin < end && piece.file >= 0) {
            const DataFile &file = m_files[size_t(piece.file)];
            const int64_t position = file.dataStart + piece.offset + (begin - at);
            char *dest = out + (begin - from);
            const int64_t want = end - begin;
            const int64_t inFile =
                std::max<int64_t>(std::min<int64_t>(want, file.dataStart + file.dataBytes - position), 0);
            const int64_t got = inFile > 0 && file.file->seek(position) ? file.file->read(dest, inFile) : 0;
            if (got < want) {
                if (error)
                    *error =
                        QStringLiteral("Read error at sector %1 of %2: %3 ends at byte %4%5")
                            .arg(lsn)
                            .arg(m_path, file.path)
                            .arg(std::max<int64_t>(got, 0) + position)
                            .arg(got < 0 ? QStringLiteral(" (%1)").arg(file.file->errorString()) : QString());
                return false;
            }
            if (file.swap)
                for (int64_t b = 0; b + 1 < want; b += 2)
                    std::swap(dest[b], dest[b + 1]);
        }
        at += piece.bytes;
        if (at >= to)
            break;
    }
    return true;
}

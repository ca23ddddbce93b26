// SPDX-License-Identifier: GPL-3.0-or-later
#include "inifile.h"

#include "helpers.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString withoutLineBreaks(QString value)
{
    value.replace(QLatin1Char('\r'), QLatin1Char(' '));
    value.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return value;
}

QByteArray withoutByteOrderMark(QByteArray bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    return bytes;
}

// Text of the file's bytes (or of one of its lines): UTF-8, or Latin-1 when it is not valid UTF-8.
QString decode(const QByteArray &data)
{
    // A byte-order mark is dropped only at the start of the file (by the callers); one inside is a character
    // to every reader, so that a section read alone holds exactly what the whole file says.
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8.decode(data);
    if (utf8.hasError())
        return QString::fromLatin1(data);
    return text;
}

// False for a line that sectionHeader() would certainly not take for a header, seen without decoding it: its
// first character after ASCII blanks is an ASCII character other than '['. (A non-ASCII one may be a blank
// of another kind, so that line is decoded.)
bool mayBeSectionHeader(QByteArrayView bytes)
{
    for (const char c : bytes) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f')
            continue;
        return c == '[' || (static_cast<unsigned char>(c) & 0x80) != 0;
    }
    return false;
}

// Whether the line may hold the ASCII name `lower` (given in lower case) in any case: false only when it
// cannot. A line with other than ASCII bytes may (its decoding decides).
bool mayHoldName(QByteArrayView line, const QByteArray &lower)
{
    const qsizetype last = line.size() - lower.size();
    for (qsizetype i = 0; i <= last; ++i) {
        qsizetype j = 0;
        while (j < lower.size()) {
            const char c = line[i + j];
            if ((static_cast<unsigned char>(c) & 0x80) != 0)
                return true;
            if ((c >= 'A' && c <= 'Z' ? char(c + 32) : c) != lower[j])
                break;
            ++j;
        }
        if (j == lower.size())
            return true;
    }
    for (const char c : line)
        if ((static_cast<unsigned char>(c) & 0x80) != 0)
            return true;
    return false;
}

// The name of the section a line starts, or a null string for any other line (the rule of parse()).
QString sectionHeader(const QString &line)
{
    const QString trimmed = line.trimmed();
    if (!trimmed.startsWith(QLatin1Char('[')))
        return QString();
    qsizetype close = trimmed.indexOf(QLatin1Char(']'));
    if (close < 0)
        close = trimmed.size();
    QString name = trimmed.mid(1, close - 1).trimmed();
    if (name.isNull())
        name = QLatin1String("");
    return name;
}

} // namespace

IniFile::IniFile(QString path) : m_path(std::move(path))
{
    m_sections.push_back(Section{});
    QFile file(m_path);
    if (file.open(QIODevice::ReadOnly))
        parse(decode(withoutByteOrderMark(file.readAll())));
}

void IniFile::parse(const QString &text)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString raw = lines[i];
        if (raw.endsWith(QLatin1Char('\r')))
            raw.chop(1);
        // A file ending in a line break yields one empty piece after it, which is not a line.
        if (i == lines.size() - 1 && raw.isEmpty())
            break;
        const QString trimmed = raw.trimmed();
        if (trimmed.startsWith(QLatin1Char('['))) {
            qsizetype close = trimmed.indexOf(QLatin1Char(']'));
            if (close < 0)
                close = trimmed.size();
            m_sections.push_back(Section{trimmed.mid(1, close - 1).trimmed(), {}});
            continue;
        }
        const qsizetype eq = trimmed.indexOf(QLatin1Char('='));
        Line line;
        if (eq > 0 && !trimmed.startsWith(QLatin1Char(';'))) {
            line.key = trimmed.left(eq).trimmed();
            line.value = trimmed.mid(eq + 1).trimmed();
        }
        if (line.key.isEmpty()) {
            line.key.clear();
            line.raw = raw;
        }
        m_sections.back().lines.push_back(std::move(line));
    }
}

const IniFile::Section *IniFile::findSection(const QString &name) const
{
    for (size_t i = 1; i < m_sections.size(); ++i) {
        if (sameName(m_sections[i].name, name))
            return &m_sections[i];
    }
    return nullptr;
}

IniFile::Section *IniFile::findSection(const QString &name)
{
    return const_cast<Section *>(std::as_const(*this).findSection(name));
}

const IniFile::Line *IniFile::findEntry(const Section &section, const QString &key)
{
    for (const Line &line : section.lines) {
        if (line.isEntry() && sameName(line.key, key))
            return &line;
    }
    return nullptr;
}

QString IniFile::readString(const QString &section, const QString &key, const QString &defaultValue) const
{
    const Section *s = findSection(section);
    const Line *line = s ? findEntry(*s, key) : nullptr;
    return line ? line->value : defaultValue;
}

bool IniFile::parseInteger(const QString &text, int &value)
{
    const QString t = text.trimmed();
    qsizetype i = 0;
    if (i < t.size() && (t[i] == QLatin1Char('-') || t[i] == QLatin1Char('+')))
        ++i;
    if (i == t.size())
        return false;
    for (; i < t.size(); ++i) {
        if (t[i] < QLatin1Char('0') || t[i] > QLatin1Char('9'))
            return false;
    }
    bool ok = false;
    const int parsed = t.toInt(&ok, 10);
    if (ok)
        value = parsed;
    return ok;
}

int IniFile::readInteger(const QString &section, const QString &key, int defaultValue) const
{
    int value = defaultValue;
    if (!parseInteger(readString(section, key, QString()), value))
        return defaultValue;
    return value;
}

bool IniFile::readBool(const QString &section, const QString &key, bool defaultValue) const
{
    return readInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool IniFile::hasSection(const QString &section) const
{
    return findSection(section) != nullptr;
}

bool IniFile::hasKey(const QString &section, const QString &key) const
{
    const Section *s = findSection(section);
    return s && findEntry(*s, key);
}

QStringList IniFile::sections() const
{
    QStringList names;
    for (size_t i = 1; i < m_sections.size(); ++i)
        names << m_sections[i].name;
    return names;
}

QStringList IniFile::keys(const QString &section) const
{
    QStringList names;
    if (const Section *s = findSection(section)) {
        for (const Line &line : s->lines) {
            if (line.isEntry())
                names << line.key;
        }
    }
    return names;
}

void IniFile::writeString(const QString &section, const QString &key, const QString &value)
{
    const QString clean = withoutLineBreaks(value).trimmed();
    Section *s = findSection(section);
    if (!s) {
        m_sections.push_back(Section{section, {}});
        s = &m_sections.back();
    }
    if (Line *line = const_cast<Line *>(findEntry(*s, key))) {
        line->value = clean;
        return;
    }
    // Append after the last non-blank line, so blank lines that end a section stay between sections.
    auto pos = s->lines.end();
    while (pos != s->lines.begin() && !(pos - 1)->isEntry() && (pos - 1)->raw.trimmed().isEmpty())
        --pos;
    s->lines.insert(pos, Line{QString(), key, clean});
}

void IniFile::deleteKey(const QString &section, const QString &key)
{
    for (size_t i = 1; i < m_sections.size(); ++i) {
        if (sameName(m_sections[i].name, section))
            std::erase_if(m_sections[i].lines,
                          [&key](const Line &line) { return line.isEntry() && sameName(line.key, key); });
    }
}

void IniFile::writeInteger(const QString &section, const QString &key, int value)
{
    writeString(section, key, QString::number(value));
}

void IniFile::writeBool(const QString &section, const QString &key, bool value)
{
    writeString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

QString IniFile::text() const
{
    QString out;
    for (size_t i = 0; i < m_sections.size(); ++i) {
        const Section &s = m_sections[i];
        if (i > 0)
            out += QLatin1Char('[') + s.name + QLatin1String("]\n");
        for (const Line &line : s.lines)
            out += (line.isEntry() ? line.key + QLatin1Char('=') + line.value : line.raw) + QLatin1Char('\n');
    }
    return out;
}

bool IniFile::save(QString *error) const
{
    return WriteFileAtomically(m_path, text().toUtf8(), error);
}

IniFile IniFile::readSection(const QString &path, const QString &section)
{
    IniFile ini;
    ini.m_path = path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return ini;
    // Read in blocks and looked through a line at a time without copying it; memory stays that of a block
    // however large the file (the disc cache holds thousands of discs).
    QString text;
    bool inside = false;
    bool first = true;
    // Headers of other sections are passed over without decoding them when the name is ASCII (disc keys are).
    const QString trimmedName = section.trimmed();
    const bool ascii =
        std::all_of(trimmedName.begin(), trimmedName.end(), [](QChar c) { return c.unicode() < 0x80; });
    const QByteArray lowerName = ascii ? trimmedName.toLower().toLatin1() : QByteArray();
    QByteArray block;
    qsizetype at = 0;
    for (bool atEnd = false;;) {
        const void *end = std::memchr(block.constData() + at, '\n', size_t(block.size() - at));
        if (!end && !atEnd) { // an incomplete line: the next block completes it
            block = block.sliced(at) + file.read(1 << 20);
            at = 0;
            atEnd = file.atEnd();
            continue;
        }
        const qsizetype next = end ? static_cast<const char *>(end) - block.constData() + 1 : block.size();
        if (next == at)
            break;
        QByteArrayView bytes(block.constData() + at, next - at);
        at = next;
        if (first && bytes.startsWith("\xEF\xBB\xBF"))
            bytes = bytes.sliced(3);
        first = false;
        // Lines of other sections are only looked at for a header: most are never decoded.
        if (!inside && (!mayBeSectionHeader(bytes) || (ascii && !mayHoldName(bytes, lowerName))))
            continue;
        const QString line = decode(bytes.toByteArray());
        const QString header = sectionHeader(line);
        if (!header.isNull()) {
            if (inside)
                break; // the first section of that name is the one
            inside = sameName(header, section);
        }
        if (inside)
            text += line.endsWith(QLatin1Char('\n')) ? line : line + QLatin1Char('\n');
    }
    ini.parse(text);
    return ini;
}

namespace {

// How many sections other than `section` the file holds (read from the start; left at the start again).
int otherSections(QFile &in, const QString &section)
{
    int others = 0;
    bool firstLine = true;
    while (!in.atEnd()) {
        const QByteArray line = in.readLine();
        const QString header = sectionHeader(decode(firstLine ? withoutByteOrderMark(line) : line));
        firstLine = false;
        if (!header.isNull() && !sameName(header, section))
            ++others;
    }
    in.seek(0);
    return others;
}

// Copies the file into out but for `section` and the first `drop` other sections, then appends `own`.
// Unbuffered, written in blocks, each write checked: QSaveFile would rename a file whose last buffered write
// failed.
bool copyOtherSections(QFile &in, QSaveFile &out, const QString &section, int drop, const QString &own)
{
    QByteArray pending;
    const auto flush = [&] {
        const bool ok = out.write(pending) == pending.size();
        pending.clear();
        return ok;
    };
    bool copying = true; // the preamble is always kept
    bool first = true;
    while (in.isOpen() && !in.atEnd()) {
        QByteArray bytes = in.readLine();
        if (first && bytes.startsWith("\xEF\xBB\xBF"))
            bytes.remove(0, 3);
        first = false;
        if (const QString header = sectionHeader(decode(bytes)); !header.isNull()) {
            // The section itself is replaced by the new text at the end.
            copying = !sameName(header, section) && drop <= 0;
            if (!sameName(header, section) && drop > 0)
                --drop;
        }
        if (!copying)
            continue;
        pending += bytes;
        if (!bytes.endsWith('\n'))
            pending += '\n';
        if (pending.size() >= (1 << 20) && !flush())
            return false;
    }
    pending += own.toUtf8();
    return flush();
}

} // namespace

bool IniFile::saveSection(const QString &section, int keepSections, QString *error) const
{
    const auto failed = [&](const QString &reason) {
        if (error)
            *error = m_path + QStringLiteral(": ") + reason;
        return false;
    };
    // The new text of the section, as save() would write it.
    QString own;
    if (const Section *s = findSection(section)) {
        own = QLatin1Char('[') + s->name + QStringLiteral("]\n");
        for (const Line &line : s->lines)
            own += (line.isEntry() ? line.key + QLatin1Char('=') + line.value : line.raw) + QLatin1Char('\n');
    }
    // How many of the first other sections go, to keep keepSections.
    QFile in(m_path);
    int others = 0;
    if (in.open(QIODevice::ReadOnly))
        others = otherSections(in, section);
    else if (in.exists())
        return failed(in.errorString());
    const int drop = std::max(0, others + (own.isEmpty() ? 0 : 1) - std::max(keepSections, 1));
    QSaveFile out(m_path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failed(out.errorString());
    if (!copyOtherSections(in, out, section, drop, own)) {
        const QString reason = out.errorString();
        out.cancelWriting();
        return failed(reason);
    }
    if (::fsync(out.handle()) != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        out.cancelWriting();
        return failed(reason);
    }
    if (!out.commit())
        return failed(out.errorString());
    return true;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

// One INI file in memory, with the rules of Windows private-profile files that the program's files rely on:
// section and key names are compared without regard to case and the first match wins; values are trimmed;
// lines the program does not know (comments, other keys and sections) are kept as they are; a new key is
// appended to the end of its section and a new section to the end of the file.
//
// Files are UTF-8 (a file that is not valid UTF-8 is read as Latin-1, as older files were single-byte).
// save() writes a temporary file and renames it over the old one, so a crash never leaves half a file.
// A value never holds a line break: CR and LF are written as spaces, so no value can add keys or sections.
//
// Not thread-safe; each user holds its own instance.
class IniFile final {
public:
    // Reads the file when it exists; a missing or unreadable file behaves like an empty one.
    explicit IniFile(QString path);

    const QString &path() const { return m_path; }

    QString readString(const QString &section, const QString &key, const QString &defaultValue) const;
    // An absent key, or a value that is not a decimal integer in the 32-bit range, gives the default.
    int readInteger(const QString &section, const QString &key, int defaultValue) const;
    // Booleans are integers: any value other than 0 is true.
    bool readBool(const QString &section, const QString &key, bool defaultValue) const;

    bool hasSection(const QString &section) const;
    bool hasKey(const QString &section, const QString &key) const;
    QStringList sections() const;
    QStringList keys(const QString &section) const;

    void writeString(const QString &section, const QString &key, const QString &value);
    void writeInteger(const QString &section, const QString &key, int value);
    void writeBool(const QString &section, const QString &key, bool value);
    // Removes every entry of the key in the section (nothing when there is none).
    void deleteKey(const QString &section, const QString &key);

    // Writes the whole file. False when it could not be written: it then keeps its old contents, and *error
    // says why.
    bool save(QString *error = nullptr) const;

    // For large files of many sections (the disc cache): reads just the one section (the first of that
    // name), scanning the file line by line, so memory does not grow with the file. Lines are read as UTF-8,
    // or as Latin-1 when they are not valid UTF-8.
    static IniFile readSection(const QString &path, const QString &section);
    // Writes this object's section of that name into the file at its path, copying every other line of the
    // file through as it is (streamed, memory flat) and putting the section last; a file of more than
    // keepSections sections then loses its first ones (the least recently saved). Atomic: false when the
    // file could not be written, which then keeps its old contents, and *error says why.
    bool saveSection(const QString &section, int keepSections, QString *error = nullptr) const;
    // The file's text as save() would write it.
    QString text() const;

    // Parses a trimmed decimal integer with an optional sign; false for anything else or out of range.
    static bool parseInteger(const QString &text, int &value);

private:
    IniFile() { m_sections.push_back(Section{}); }
    struct Line {
        QString raw; // the line as read, for lines that are not key=value
        QString key; // empty for raw lines
        QString value;
        bool isEntry() const { return !key.isEmpty(); }
    };
    struct Section {
        QString name; // empty for the lines before the first section header
        std::vector<Line> lines;
    };

    void parse(const QString &text);
    const Section *findSection(const QString &name) const;
    Section *findSection(const QString &name);
    static const Line *findEntry(const Section &section, const QString &key);

    QString m_path;
    std::vector<Section> m_sections; // m_sections[0] is always the preamble
};

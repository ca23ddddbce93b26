// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QVariant>
#include <vector>

// A set of named tag values (artist, album, title, ...) for the audio components. A set accepts values only
// for the names it declared when it was made; names compare without regard to case, and the declared names
// are enumerated in case-free alphabetical order. A value is unassigned (an invalid QVariant), an integer or
// a text.
class TAuTags {
public:
    virtual ~TAuTags() = default;

    int Count() const { return int(m_values.size()); }
    // The i-th name in list order; empty out of range.
    QString NameAt(int i) const;

    // Unassigned when the name is not declared.
    QVariant GetValue(const QString &name) const;
    // Ignored for an undeclared name or an unchanged value.
    void SetValue(const QString &name, const QVariant &value);

    // Integers as they are, texts that are valid decimal numbers converted, anything else 0.
    qint64 AsInteger(const QString &name) const;
    // Integers in decimal, texts as they are, anything else empty.
    QString AsText(const QString &name) const;
    QString AsWideText(const QString &name) const { return AsText(name); }

    // Every value becomes unassigned; the names stay declared.
    void Clear();
    // Clear, then take every value of the source whose name this set declared.
    void Assign(const TAuTags &source);

    bool Empty() const { return m_empty; }
    bool Changed() const { return m_changed; }
    void SetChanged(bool changed) { m_changed = changed; }

protected:
    TAuTags() = default;
    // Adds a name at creation, unless it is there already.
    void Declare(const QString &name, const QVariant &initial = QVariant());

private:
    struct Entry {
        QString name;
        QVariant value;
    };
    const Entry *find(const QString &name) const;

    std::vector<Entry> m_values; // sorted by name without regard to case
    bool m_empty = true;
    bool m_changed = false;
};

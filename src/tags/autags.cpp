// SPDX-License-Identifier: GPL-3.0-or-later
#include "autags.h"

#include <algorithm>

namespace {

bool sameValue(const QVariant &a, const QVariant &b)
{
    if (a.isValid() != b.isValid())
        return false;
    if (!a.isValid())
        return true;
    return a.typeId() == b.typeId() && a == b;
}

} // namespace

void TAuTags::Declare(const QString &name, const QVariant &initial)
{
    const auto pos =
        std::lower_bound(m_values.begin(), m_values.end(), name, [](const Entry &e, const QString &n) {
            return e.name.compare(n, Qt::CaseInsensitive) < 0;
        });
    if (pos != m_values.end() && pos->name.compare(name, Qt::CaseInsensitive) == 0)
        return;
    m_values.insert(pos, Entry{name, initial});
}

const TAuTags::Entry *TAuTags::find(const QString &name) const
{
    const auto pos =
        std::lower_bound(m_values.begin(), m_values.end(), name, [](const Entry &e, const QString &n) {
            return e.name.compare(n, Qt::CaseInsensitive) < 0;
        });
    if (pos != m_values.end() && pos->name.compare(name, Qt::CaseInsensitive) == 0)
        return &*pos;
    return nullptr;
}

QString TAuTags::NameAt(int i) const
{
    return i >= 0 && i < Count() ? m_values[size_t(i)].name : QString();
}

QVariant TAuTags::GetValue(const QString &name) const
{
    const Entry *entry = find(name);
    return entry ? entry->value : QVariant();
}

void TAuTags::SetValue(const QString &name, const QVariant &value)
{
    auto *entry = const_cast<Entry *>(find(name));
    if (!entry || sameValue(entry->value, value))
        return;
    entry->value = value;
    m_empty = false;
    m_changed = true;
}

namespace {

bool isInteger(const QVariant &value)
{
    const int type = value.typeId();
    return type == QMetaType::Int || type == QMetaType::LongLong || type == QMetaType::UInt ||
           type == QMetaType::ULongLong;
}

} // namespace

qint64 TAuTags::AsInteger(const QString &name) const
{
    const QVariant value = GetValue(name);
    if (isInteger(value))
        return value.toLongLong();
    switch (value.typeId()) {
    case QMetaType::QString: {
        bool ok = false;
        const qint64 number = value.toString().trimmed().toLongLong(&ok, 10);
        return ok ? number : 0;
    }
    default:
        return 0;
    }
}

QString TAuTags::AsText(const QString &name) const
{
    const QVariant value = GetValue(name);
    if (isInteger(value))
        return QString::number(value.toLongLong());
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

void TAuTags::Clear()
{
    for (Entry &entry : m_values)
        entry.value = QVariant();
    m_empty = true;
    m_changed = true;
}

void TAuTags::Assign(const TAuTags &source)
{
    if (&source == this)
        return;
    Clear();
    for (const Entry &entry : source.m_values)
        SetValue(entry.name, entry.value);
}

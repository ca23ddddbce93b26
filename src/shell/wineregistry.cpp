// SPDX-License-Identifier: GPL-3.0-or-later
#include "wineregistry.h"

#include "helpers.h"

#include <QDir>
#include <QFile>
#include <QTextStream>

namespace {

// Keys are written with doubled backslashes in the file: [Software\\Wine\\...] followed by a time stamp.
QString encodedKey(const QString &key)
{
    QString k = key;
    while (k.startsWith(QLatin1Char('\\')))
        k.remove(0, 1);
    while (k.endsWith(QLatin1Char('\\')))
        k.chop(1);
    return k.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
}

QString headerKey(const QString &line)
{
    if (!line.startsWith(QLatin1Char('[')))
        return QString();
    const qsizetype close = line.indexOf(QLatin1Char(']'));
    return close > 0 ? line.mid(1, close - 1) : QString();
}

} // namespace

QString WineUserRegistry::DefaultPath()
{
    QString prefix = qEnvironmentVariable("WINEPREFIX");
    if (prefix.isEmpty())
        prefix = QDir::homePath() + QStringLiteral("/.wine");
    return prefix + QStringLiteral("/user.reg");
}

WineUserRegistry::WineUserRegistry(const QString &path) : m_path(path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    m_lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    m_loaded = true;
}

int WineUserRegistry::keyLine(const QString &key) const
{
    const QString wanted = encodedKey(key);
    for (int i = 0; i < m_lines.size(); ++i) {
        if (headerKey(m_lines[i]).compare(wanted, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

int WineUserRegistry::sectionEnd(int header) const
{
    int end = header + 1;
    while (end < m_lines.size() && !m_lines[end].startsWith(QLatin1Char('[')))
        ++end;
    return end;
}

bool WineUserRegistry::hasKey(const QString &key) const
{
    return keyLine(key) >= 0;
}

bool WineUserRegistry::deleteKey(const QString &key)
{
    const int header = keyLine(key);
    if (header < 0)
        return false;
    const QString prefix = encodedKey(key) + QStringLiteral("\\\\");
    // The key itself, then every subkey.
    m_lines.erase(m_lines.begin() + header, m_lines.begin() + sectionEnd(header));
    for (int i = 0; i < m_lines.size();) {
        if (headerKey(m_lines[i]).startsWith(prefix, Qt::CaseInsensitive))
            m_lines.erase(m_lines.begin() + i, m_lines.begin() + sectionEnd(i));
        else
            ++i;
    }
    return true;
}

bool WineUserRegistry::deleteValue(const QString &key, const QString &name)
{
    const int header = keyLine(key);
    if (header < 0)
        return false;
    const QString wanted = QLatin1Char('"') + name + QStringLiteral("\"=");
    for (int i = header + 1; i < sectionEnd(header); ++i) {
        if (m_lines[i].startsWith(wanted, Qt::CaseInsensitive)) {
            m_lines.removeAt(i);
            return true;
        }
    }
    return false;
}

bool WineUserRegistry::save(QString *error) const
{
    return WriteFileAtomically(m_path, m_lines.join(QLatin1Char('\n')).toUtf8(), error);
}

bool WindowsProgramRunning(const QString &program)
{
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs);
    for (const QString &pid : pids) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (cmdline.open(QIODevice::ReadOnly) &&
            QString::fromLocal8Bit(cmdline.readAll()).contains(program, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

int ClearRealPlayerHistory(WineUserRegistry &registry, QString *error)
{
    int deleted = 0;
    for (int n = 1; n <= 8; ++n) {
        if (!registry.deleteKey(
                QStringLiteral("Software\\RealNetworks\\RealPlayer\\6.0\\Preferences\\MostRecentClips") +
                QString::number(n)))
            break;
        ++deleted;
    }
    // Deleted only once saved: a registry that cannot be written has lost nothing.
    return deleted && !registry.save(error) ? 0 : deleted;
}

int ClearMediaPlayerHistory(WineUserRegistry &registry, QString *error)
{
    const QString key = QStringLiteral("Software\\Microsoft\\MediaPlayer\\Player\\RecentFileList");
    if (!registry.hasKey(key))
        return 0;
    int deleted = 0;
    for (int n = 0; n <= 8; ++n) {
        if (!registry.deleteValue(key, QStringLiteral("File") + QString::number(n)))
            break;
        ++deleted;
    }
    // Deleted only once saved: a registry that cannot be written has lost nothing.
    return deleted && !registry.save(error) ? 0 : deleted;
}

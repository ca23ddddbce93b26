// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// The recent-file lists of two Windows media players, which run here under Wine: Wine keeps the user's part
// of the registry (HKEY_CURRENT_USER) in $WINEPREFIX/user.reg (~/.wine by default). Keys and values are
// removed from that file the way the registry functions would remove them.
class WineUserRegistry final {
public:
    // $WINEPREFIX/user.reg, or ~/.wine/user.reg.
    static QString DefaultPath();

    explicit WineUserRegistry(const QString &path = DefaultPath());

    bool exists() const { return m_loaded; }
    // Keys are written with single backslashes, without a leading one, e.g. "Software\Wine".
    bool hasKey(const QString &key) const;
    // Removes a key with its values and subkeys; false when there is none.
    bool deleteKey(const QString &key);
    // Removes one value of a key; false when there is none.
    bool deleteValue(const QString &key, const QString &name);
    // False (the file untouched, *error saying why) when it could not be written.
    bool save(QString *error = nullptr) const;

private:
    int keyLine(const QString &key) const;
    int sectionEnd(int header) const;

    QString m_path;
    QStringList m_lines;
    bool m_loaded = false;
};

// True when a process whose command line names the program (for example "realplay.exe") runs.
bool WindowsProgramRunning(const QString &program);

// Deletes the recent-clip keys of RealPlayer (MostRecentClips1 to 8, stopping at the first missing) and the
// recent-file values of Windows Media Player (File0 to File8, likewise). Each returns how many it deleted.
// The number of entries deleted and saved; 0 with *error set when the registry could not be saved.
int ClearRealPlayerHistory(WineUserRegistry &registry, QString *error = nullptr);
int ClearMediaPlayerHistory(WineUserRegistry &registry, QString *error = nullptr);

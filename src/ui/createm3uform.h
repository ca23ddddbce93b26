// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QPushButton;
class QRadioButton;
class QTreeWidget;

// The playlist builder: the user collects files into an ordered list and writes them as an M3U playlist
// with absolute paths or paths relative to the playlist's folder. It works on file names only. The lines
// and the file come from the engine (jobs/m3uplaylist); this window holds the list and asks the questions.
class TfrmCreateM3U final : public QDialog {
    Q_OBJECT
public:
    explicit TfrmCreateM3U(QWidget *parent = nullptr);

    // The rows' files (folder and name), in list order.
    QStringList Files() const;
    // Appends one row per file, in the order given.
    void AddFiles(const QStringList &files);
    // Create Playlist after the save dialog: the same-drive test, the ".m3u" rule, the overwrite question,
    // then the file. False when nothing was written (a message said why, or the user said no).
    bool CreatePlaylistAt(const QString &fileName);
    // The folder of the last playlist written here (with a trailing slash), empty before the first.
    QString PlaylistFolder() const { return m_playlistFolder; }

    void bAddtoListClick();
    void bDeleteItemClick();
    void bUpItemClick();
    void bDownItemClick();
    void bCreatePlaylistClick();
    void bOpenFolderClick();

    QTreeWidget *lvMain;
    QRadioButton *RadioButton1; // absolute paths
    QRadioButton *RadioButton2; // relative paths
    QPushButton *bAddtoList;
    QPushButton *bDeleteItem;
    QPushButton *bUpItem;
    QPushButton *bDownItem;
    QPushButton *bCreatePlaylist;
    QPushButton *bOpenFolder;
    QPushButton *bClose;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void swapRows(int a, int b);

    QString m_playlistFolder;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/dxaudioout.h"
#include "cdrom/cdaccess.h"
#include "cdrom/cdin.h"
#include "cdrom/discmodel.h"
#include "shell/result.h"
#include "shell/settings.h"

#include <QObject>
#include <QString>

class QFileSystemWatcher;
class QTimer;

// The disc a window shows, without the window: the chosen drive, read through the CD access calls (the
// library path, DriveHandle not 0) or through the drive component CDIn1 (DriveHandle 0); its tracks and
// titles (Disc); the watch for discs coming and going; and CD playback of one track (CDPlayIn → CDAudioOut).
// What a user should read goes out through statusChanged; a failure to show goes out through failed.
// User-interface thread only.
class TDiscSession final : public QObject {
    Q_OBJECT
public:
    explicit TDiscSession(QObject *parent = nullptr);
    ~TDiscSession() override; // closes the drive handle

    // The drive handle of the chosen drive (an index outside the list means the first), or 0 with the reason
    // in the status.
    TCdHandle OpenDrive(int index);
    // Opens the chosen drive (unless the settings choose the drive component) and reads its disc.
    void Open();
    // Closes the drive handle and opens the drive at index through the access calls.
    void ReopenDrive(int index);
    void LoadTracksFromToc();
    void LoadTracksFromDrive();
    // The chosen drive through the drive component, and its tracks.
    void LoadThroughComponent();
    // Reads the disc of the current drive again (or says there is none).
    void Refresh();
    // Starts watching the disc image folder and the drive for a disc coming or going.
    void StartWatching();
    // Looks at the current drive on a worker (opening a drive and reading its table of contents can take a
    // while on a real drive); when a disc came or went since the last look, the list follows. A look asked
    // for while one runs follows it.
    void CheckDisc();
    // The device or image path of the current drive; "" for none.
    QString CurrentDrivePath() const;

    // Plays the track of a row from its start to the next track's (resumes it when paused).
    void Play(int row);
    void Pause();
    void Stop();

    // At the end of the run: the titles saved, the drive handle closed. Fails with the reasons (one a line)
    // when either failed; the session is closed all the same.
    TResult<> Close();

    QString Status() const { return m_status; }
    void SetStatus(const QString &text);

    TCdHandle DriveHandle = 0;
    QString DriveDescription;
    bool NoAudioCd = false;
    int32_t HiddenSectors =
        0; // audio hidden before the first track (library path), found when the disc loads
    bool Playing = false;
    bool Paused = false;
    QString SavedStatus; // what the status says again when playback stops
    TDiscModel Disc{AppSettings.DiscInfo};
    TCDIn CDIn1;
    TCDIn CDPlayIn;
    TDXAudioOut CDAudioOut;

signals:
    void statusChanged(const QString &text);
    void failed(const QString &text);
    // Playing or Paused changed.
    void playbackChanged();

private:
    QTimer *m_discWatch;
    QFileSystemWatcher *m_imagesWatch;
    void discSeen(const QString &path, const QString &disc);
    QString m_lastDisc;       // the key of the disc last seen, "" for none
    bool m_looking = false;   // a look at the drive runs on a worker
    bool m_lookAgain = false; // and another was asked for meanwhile
    QString m_status;
};

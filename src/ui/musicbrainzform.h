// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cddb/musicbrainz.h"
#include "querycddbform.h"

#include <QDialog>
#include <functional>
#include <memory>
#include <thread>

class QLabel;
class TStopFlag;
class QListWidget;
class QPushButton;

// The choice among several releases that hold the disc: artist, title, date, country and format a row.
class TfrmChooseRelease final : public QDialog {
    Q_OBJECT
public:
    TfrmChooseRelease(const std::vector<TMusicBrainzRelease> &releases, QWidget *parent = nullptr);
    // The row chosen, or -1.
    int Chosen() const;
    QListWidget *lbReleases;
    QPushButton *btOK;
    QPushButton *btCancel;

protected:
    void showEvent(QShowEvent *event) override;
};

// The progress window of one MusicBrainz lookup: runs it on a worker, lets the user choose among several
// releases, and puts the chosen one's titles, artists, album and year into the list and the cache. Stop (or
// closing) ends the lookup at once: the window goes, and what the worker still brings is dropped.
class TfrmMusicBrainzQuery final : public QDialog {
    Q_OBJECT
public:
    TfrmMusicBrainzQuery(TCddbHost &host, const TMusicBrainzRequest &request, QWidget *parent = nullptr);
    ~TfrmMusicBrainzQuery() override;

    // Asks which release to take; the default shows TfrmChooseRelease. -1 takes none.
    std::function<int(const std::vector<TMusicBrainzRelease> &)> ChooseRelease;

    QLabel *lHint;
    QPushButton *bStop;

protected:
    void showEvent(QShowEvent *event) override;
    void reject() override;

private:
    void finished(bool ok, const std::vector<TMusicBrainzRelease> &releases, const QString &error);

    TCddbHost &m_host;
    TMusicBrainzRequest m_request;
    std::shared_ptr<TStopFlag> m_cancel;
    bool m_started = false;
    std::thread m_worker;
};

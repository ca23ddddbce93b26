// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cddb/cddblookup.h"

#include <QDialog>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

// The modal result of a lookup that finished and was stored.
constexpr int mrYes = 6;

// What the lookup windows need from the window that owns the track list.
class TCddbHost {
public:
    virtual ~TCddbHost() = default;
    virtual int CddbRowCount() const = 0;
    virtual QString CddbRowTitle(int row) const = 0;
    virtual void SetCddbRowTitle(int row, const QString &title) = 0;
    virtual void SetCddbTitlesLeftAligned() = 0;
    // The disc id and query text computed when the disc was loaded, and the component's connection data.
    virtual QString CddbDiscIdOfDisc() const = 0;
    virtual QString CddbQueryTextOfDisc() const = 0;
    virtual TCDDBInfo &CddbComponent() = 0;
    // The key under which the disc's titles are kept.
    virtual QString CddbDiscKey() const = 0;
};

// Puts a lookup's titles into the rows that exist and its disc fields into DiscInfo.
void ApplyCddbResult(TCddbHost &host, const TCddbLookupResult &result);
// DiscInfo's track count and titles from the list, then the disc information cache.
bool StoreCddbTitles(TCddbHost &host, QString *error = nullptr);

// The progress window of one lookup: runs the lookup thread and stores its result.
class TfrmStopQuery final : public QDialog {
    Q_OBJECT
public:
    TfrmStopQuery(TCddbHost &host, QWidget *parent = nullptr);
    ~TfrmStopQuery() override;

    uint8_t FirstTrack = 1;
    uint8_t LastTrack = 1;
    TCdHandle DriveHandle = 0;
    int TimeoutSeconds = 30;

    QLabel *lHint;
    QPushButton *bStop;
    QWidget *Panel1;
    QLabel *Label1;

    void bStopClick();

protected:
    void showEvent(QShowEvent *event) override;
    bool event(QEvent *event) override;

private:
    void FormShow();
    TCddbHost &m_host;
    std::unique_ptr<TQueryCDDBThread> m_thread;
};

// The server settings of a lookup, and its Query button.
class TfrmQueryCDDB final : public QDialog {
    Q_OBJECT
public:
    TfrmQueryCDDB(TCddbHost &host, QWidget *parent = nullptr);

    uint8_t FirstTrack = 1;
    uint8_t LastTrack = 1;
    TCdHandle DriveHandle = 0;

    QComboBox *cbServer;
    QLineEdit *eScript;
    QCheckBox *cbProxy;
    QLineEdit *eAddress;
    QLineEdit *ePort;
    QComboBox *cbTag;
    QPushButton *bQuery;
    QPushButton *bDefault;
    QPushButton *bClose;

    void bQueryClick();
    void bDefaultClick();
    void cbProxyClick();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void FormShow();
    TCddbHost &m_host;
};

// The item of cbServer: a server other than the settings' default.
QString CddbListedServer();

// SPDX-License-Identifier: GPL-3.0-or-later
#include "musicbrainzform.h"

#include "shell/localizedtext.h"
#include "shell/settings.h"
#include "shell/synchronize.h"
#include "ui/applylanguage.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <thread>

TfrmChooseRelease::TfrmChooseRelease(const std::vector<TMusicBrainzRelease> &releases, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmChooseRelease"));
    setWindowTitle(QStringLiteral("Choose the release"));
    auto *layout = new QVBoxLayout(this);
    auto *label = new QLabel(QStringLiteral("Several releases hold this disc:"), this);
    label->setObjectName(QStringLiteral("Label1"));
    layout->addWidget(label);
    lbReleases = new QListWidget(this);
    lbReleases->setObjectName(QStringLiteral("lbReleases"));
    KeepUntranslated(lbReleases); // the releases' own words
    for (const TMusicBrainzRelease &r : releases) {
        QStringList details;
        for (const QString &d : {r.Date, r.Country, r.Format}) {
            if (!d.isEmpty())
                details << d;
        }
        lbReleases->addItem(r.Artist + QStringLiteral(" - ") + r.Title +
                            (details.isEmpty() ? QString()
                                               : QStringLiteral(" (") + details.join(QStringLiteral(", ")) +
                                                     QLatin1Char(')')));
    }
    lbReleases->setCurrentRow(0);
    layout->addWidget(lbReleases);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    btOK = new QPushButton(QStringLiteral("OK"), this);
    btOK->setObjectName(QStringLiteral("btOK"));
    btCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btCancel->setObjectName(QStringLiteral("btCancel"));
    btOK->setDefault(true);
    buttons->addWidget(btOK);
    buttons->addWidget(btCancel);
    layout->addLayout(buttons);
    connect(btOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(lbReleases, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
}

void TfrmChooseRelease::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!IsEnglish(AppSettings.Lan))
        ApplyLanguage(this, AppSettings.Lan);
}

int TfrmChooseRelease::Chosen() const
{
    return lbReleases->currentRow();
}

TfrmMusicBrainzQuery::TfrmMusicBrainzQuery(TCddbHost &host, const TMusicBrainzRequest &request,
                                           QWidget *parent)
    : QDialog(parent), m_host(host), m_request(request), m_cancel(std::make_shared<TStopFlag>())
{
    setObjectName(QStringLiteral("frmMusicBrainzQuery"));
    setWindowTitle(QStringLiteral("Query MusicBrainz..."));
    lHint = new QLabel(QStringLiteral("Query MusicBrainz..."), this);
    lHint->setObjectName(QStringLiteral("lHint"));
    lHint->setWordWrap(true);
    bStop = new QPushButton(QStringLiteral("Stop"), this);
    bStop->setObjectName(QStringLiteral("bStop"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lHint);
    layout->addWidget(bStop, 0, Qt::AlignHCenter);
    connect(bStop, &QPushButton::clicked, this, &TfrmMusicBrainzQuery::reject);
    ChooseRelease = [this](const std::vector<TMusicBrainzRelease> &releases) {
        TfrmChooseRelease dialog(releases, this);
        return dialog.exec() == QDialog::Accepted ? dialog.Chosen() : -1;
    };
}

TfrmMusicBrainzQuery::~TfrmMusicBrainzQuery()
{
    // A stopped transfer ends within the network library's next progress call.
    m_cancel->Set();
    if (m_worker.joinable())
        m_worker.join();
}

void TfrmMusicBrainzQuery::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (m_started)
        return;
    m_started = true;
    if (!IsEnglish(AppSettings.Lan))
        ApplyLanguage(this, AppSettings.Lan);
    TMusicBrainzRequest request = m_request;
    std::shared_ptr<TStopFlag> cancel = m_cancel;
    // The worker holds its own copies; its answer goes through the application object and reaches this
    // window only while the window exists.
    const QPointer<TfrmMusicBrainzQuery> self(this);
    m_worker = std::thread([self, request, cancel]() mutable {
        request.Cancel = cancel.get();
        std::vector<TMusicBrainzRelease> releases;
        QString error;
        const bool ok = MusicBrainzLookup(request, releases, &error);
        if (cancel->IsSet())
            return;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, ok, releases, error] {
                if (self)
                    self->finished(ok, releases, error);
            },
            Qt::QueuedConnection);
    });
}

void TfrmMusicBrainzQuery::reject()
{
    m_cancel->Set();
    QDialog::reject();
}

void TfrmMusicBrainzQuery::finished(bool ok, const std::vector<TMusicBrainzRelease> &releases,
                                    const QString &error)
{
    if (m_cancel->IsSet())
        return;
    if (!ok || releases.empty()) {
        lHint->setText(ok ? LocalizedText("RES_MB_No_Release", "MusicBrainz knows no release with this disc.")
                          : error);
        bStop->setText(LocalizedText("RES_MB_Close", "Close"));
        return;
    }
    const int chosen = releases.size() == 1 ? 0 : ChooseRelease(releases);
    if (chosen < 0 || chosen >= int(releases.size())) {
        reject();
        return;
    }
    TCddbLookupResult result;
    TakeMusicBrainzRelease(releases[size_t(chosen)], m_host.CddbRowCount(), result);
    ApplyCddbResult(m_host, result);
    QString storeError;
    if (!StoreCddbTitles(m_host, &storeError) && !storeError.isEmpty())
        QMessageBox::critical(this, QStringLiteral("Sondrel"), storeError);
    const TQueryCDDB &settings = AppSettings.QueryCDDB;
    if (!settings.SaveCover && !settings.EmbedCover) {
        done(mrYes);
        return;
    }
    // The cover, on the worker as well; the titles are in already, so a cover that does not come is no loss.
    lHint->setText(LocalizedText("RES_MB_Cover", "Fetching the cover..."));
    if (m_worker.joinable())
        m_worker.join();
    const QPointer<TfrmMusicBrainzQuery> self(this);
    m_worker = std::thread(
        [self, base = settings.CoverArtServer, id = releases[size_t(chosen)].Id, cancel = m_cancel] {
            FetchCoverArt(base, id, nullptr, cancel.get());
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self] {
                    if (self && !self->m_cancel->IsSet())
                        self->done(mrYes);
                },
                Qt::QueuedConnection);
        });
}

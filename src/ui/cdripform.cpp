// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdripform.h"

#include "jobs/paralleljob.h"
#include "jobs/ripjob.h"
#include "ripform.h"
#include "shell/settings.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

TfrmCDRip::TfrmCDRip(QWidget *owner, TCDIn &cdIn, const QStringList &files, const QString &outputFolder,
                     TMp3EncodeProcess &mp3, TWMAEncodeProcess &wma)
    : TfrmCDRip(owner, cdIn, files, JobSettings(AppSettings, outputFolder), mp3, wma)
{
}

TfrmCDRip::TfrmCDRip(QWidget *owner, TCDIn &cdIn, const QStringList &files,
                     const TOptionsSetting &jobSettings, TMp3EncodeProcess &mp3, TWMAEncodeProcess &wma)
    : TfrmCDRip(owner, [&](TExtractView &view) {
          return MakeExtractJob(TReadSource{0, &cdIn}, files, jobSettings, view, mp3, wma);
      })
{
}

TfrmCDRip::TfrmCDRip(QWidget *owner, const std::function<std::unique_ptr<TJobRun>(TExtractView &)> &makeJob)
    : QDialog(owner)
{
    setObjectName(QStringLiteral("frmCDRip"));
    setWindowTitle(QStringLiteral("Sondrel"));
    setModal(true);
    auto *layout = new QVBoxLayout(this);
    auto *info = new QGroupBox(this);
    auto *grid = new QGridLayout(info);
    const auto pair = [&](int row, const char *name, const QString &caption, const char *valueName) {
        auto *label = new QLabel(caption, info);
        label->setObjectName(QLatin1String(name));
        auto *value = new QLabel(info);
        value->setObjectName(QLatin1String(valueName));
        grid->addWidget(label, row, 0);
        grid->addWidget(value, row, 1);
        return value;
    };
    lCurrentTrack = pair(0, "Label1", QStringLiteral("Current track:"), "lCurrentTrack");
    lOutputFormat = pair(1, "Label2", QStringLiteral("Output format:"), "lOutputFormat");
    lSelectedTracks = pair(2, "Label3", QStringLiteral("Selected tracks:"), "lSelectedTracks");
    lCompleted = pair(3, "Label4", QStringLiteral("Completed:"), "lCompleted");
    layout->addWidget(info);
    auto *group = new QGroupBox(this);
    group->setObjectName(QStringLiteral("GroupBox1"));
    auto *groupLayout = new QVBoxLayout(group);
    lProgressHint = new QLabel(group);
    lProgressHint->setObjectName(QStringLiteral("lProgressHint"));
    ProgressBar2 = new QProgressBar(group);
    ProgressBar2->setObjectName(QStringLiteral("ProgressBar2"));
    ProgressBar2->setRange(0, 100);
    ProgressBar2Throttle = new TGaugeThrottle(ProgressBar2);
    ProgressBar2->setToolTip(QStringLiteral("Initializing..."));
    groupLayout->addWidget(lProgressHint);
    groupLayout->addWidget(ProgressBar2);
    layout->addWidget(group);
    Encodings = new TEncodingLines(this);
    layout->addWidget(Encodings);
    bStop = new QPushButton(QStringLiteral("Stop"), this);
    bStop->setObjectName(QStringLiteral("bStop"));
    layout->addWidget(bStop, 0, Qt::AlignRight);
    connect(bStop, &QPushButton::clicked, this, [this] { m_job->Stop(); });
    m_job = makeJob(*this);
}

TfrmCDRip::~TfrmCDRip()
{
    m_job.reset();
}

void TfrmCDRip::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_started) {
        m_started = true;
        QMetaObject::invokeMethod(
            this, [this] { m_job->Start(); }, Qt::QueuedConnection);
    } else if (m_pendingResult) {
        done(m_pendingResult);
    }
}

void TfrmCDRip::Begin(int tracks, int32_t format)
{
    lOutputFormat->setText(OutputFormatName(format));
    lSelectedTracks->setText(QString::number(tracks));
    lCompleted->setText(QStringLiteral("0"));
    setHint(QStringLiteral("Initializing..."));
}

void TfrmCDRip::Stage(TExtractStage stage, int number, int, const QString &base)
{
    switch (stage) {
    case TExtractStage::Reading:
        lCurrentTrack->setText(base);
        if (number > 1) {
            setHint(QStringLiteral("Extracting..."));
            lCompleted->setText(QString::number(number - 1));
        }
        break;
    case TExtractStage::Normalizing:
        setHint(QStringLiteral("Normalizing..."));
        break;
    case TExtractStage::Encoding:
        setHint(QStringLiteral("Encoding..."));
        break;
    case TExtractStage::Verifying:
        setHint(QStringLiteral("Asking AccurateRip..."));
        break;
    case TExtractStage::WritingLog:
        setHint(QStringLiteral("Writing the rip log..."));
        break;
    }
}

void TfrmCDRip::Progress(const TProcessInfo &info)
{
    if (info.Percent >= 0 && info.Percent <= 100)
        ProgressBar2Throttle->Set(info.Percent);
}

void TfrmCDRip::setHint(const QString &text)
{
    lProgressHint->setText(text);
    ProgressBar2->setToolTip(text);
}

void TfrmCDRip::ShowError(const QString &text)
{
    QMessageBox::critical(this, QStringLiteral("Sondrel"), text);
}

void TfrmCDRip::ShowVerification(const TRipSession &session)
{
    ShowRipResults(this, session);
}

void TfrmCDRip::SetEncoding(int slot, const QString &caption, int percent)
{
    Encodings->Set(slot, caption, percent);
}

void TfrmCDRip::EndEncoding(int slot)
{
    Encodings->End(slot);
}

void TfrmCDRip::Finish(int result)
{
    if (isVisible())
        done(result);
    else
        m_pendingResult = result;
}

void TfrmCDRip::reject()
{
    m_job->Stop();
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ripform.h"

#include "jobs/paralleljob.h"
#include "jobs/ripreport.h"
#include "shell/settings.h"
#include "ui/applylanguage.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

TRipForm::TRipForm(QWidget *owner, JobKind kind, TCdHandle value, const QStringList &files,
                   const QString &outputFolder, TMp3EncodeProcess &mp3, TWMAEncodeProcess &wma)
    : TRipForm(owner, [&, this](TRipJobPresenter &presenter) {
          const TOptionsSetting settings = JobSettings(AppSettings, outputFolder);
          if (kind == JobKind::ExtractTracks)
              return MakeExtractJob(TReadSource{value, nullptr}, files, settings, m_extractView, mp3, wma);
          return MakeRipJob(kind, files, settings, presenter, mp3, wma);
      })
{
}

TRipForm::TRipForm(QWidget *owner,
                   const std::function<std::unique_ptr<TJobRun>(TExtractView &)> &makeExtraction)
    : TRipForm(owner, [&, this](TRipJobPresenter &) { return makeExtraction(m_extractView); })
{
}

TRipForm::TRipForm(QWidget *owner, const std::function<std::unique_ptr<TJobRun>(TRipJobPresenter &)> &makeJob)
    : QDialog(owner)
{
    setObjectName(QStringLiteral("RipForm"));
    setModal(true);
    resize(420, 190);
    auto *layout = new QVBoxLayout(this);
    GroupBox1 = new QGroupBox(QStringLiteral("Extracting"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    auto *grid = new QGridLayout(GroupBox1);
    const auto label = [this](const char *name, const QString &text) {
        auto *l = new QLabel(text, GroupBox1);
        l->setObjectName(QLatin1String(name));
        return l;
    };
    Image1 = label("Image1", QString());
    Image1->setPixmap(style()->standardIcon(QStyle::SP_DriveCDIcon).pixmap(32, 32));
    Label10 = label("Label10", QStringLiteral("Time elapsed:"));
    Label20 = label("Label20", QStringLiteral("Time estimated:"));
    Label1 = label("Label1", QString());
    KeepUntranslated(Label1);
    Label2 = label("Label2", QString());
    KeepUntranslated(Label2);
    Label3 = label("Label3", QStringLiteral("Initializing..."));
    FlatGauge1 = new QProgressBar(GroupBox1);
    FlatGauge1->setObjectName(QStringLiteral("FlatGauge1"));
    FlatGauge1->setRange(0, 100);
    FlatGauge1->setTextVisible(false);
    FlatGaugeThrottle = new TGaugeThrottle(FlatGauge1);
    grid->addWidget(Image1, 0, 0, 2, 1);
    grid->addWidget(Label10, 0, 1);
    grid->addWidget(Label1, 0, 2);
    grid->addWidget(Label20, 1, 1);
    grid->addWidget(Label2, 1, 2);
    grid->addWidget(FlatGauge1, 2, 0, 1, 3);
    grid->addWidget(Label3, 2, 0, 1, 3, Qt::AlignCenter);
    layout->addWidget(GroupBox1);
    Encodings = new TEncodingLines(this);
    layout->addWidget(Encodings);
    btStop = new QPushButton(QStringLiteral("Stop"), this);
    btStop->setObjectName(QStringLiteral("btStop"));
    layout->addWidget(btStop, 0, Qt::AlignRight);
    connect(btStop, &QPushButton::clicked, this, &TRipForm::btStopClick);

    if (owner) {
        const QRect main = owner->frameGeometry();
        move(main.left() + (main.width() - width()) / 2, main.top() + (main.height() - height()) / 2);
    }
    m_job = makeJob(*this);
}

TRipForm::~TRipForm()
{
    m_job.reset();
}

void TRipForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!IsEnglish(AppSettings.Lan))
        ApplyLanguage(this, AppSettings.Lan);
    if (!m_started) {
        m_started = true;
        // The first step starts once the window is up, so that a job that ends at once can close it.
        QMetaObject::invokeMethod(
            this, [this] { m_job->Start(); }, Qt::QueuedConnection);
    } else if (m_pendingResult) {
        done(m_pendingResult);
    }
}

void TRipForm::SetCaption(const QString &text)
{
    setWindowTitle(text);
}

void TRipForm::SetStage(const QString &text)
{
    GroupBox1->setTitle(text);
}

void TRipForm::SetElapsed(const QString &text)
{
    Label1->setText(text);
}

void TRipForm::SetEstimated(const QString &text)
{
    Label2->setText(text);
}

void TRipForm::SetInitializing(const QString &text, bool visible)
{
    if (!text.isEmpty())
        Label3->setText(text);
    Label3->setVisible(visible);
}

void TRipForm::SetGauge(int percent, bool showText)
{
    FlatGaugeThrottle->Set(percent);
    if (FlatGauge1->isTextVisible() != showText)
        FlatGauge1->setTextVisible(showText);
}

void TRipForm::ShowError(const QString &text)
{
    QMessageBox::critical(this, QStringLiteral("Sondrel"), text);
}

void TRipForm::ShowWarning(const QString &text)
{
    QMessageBox::warning(this, QStringLiteral("Sondrel"), text);
}

void TRipForm::Finish(int result)
{
    if (isVisible())
        done(result);
    else
        m_pendingResult = result;
}

void ShowRipResults(QWidget *parent, const TRipSession &session)
{
    const QString text = VerificationLines(session).join(QLatin1Char('\n'));
    const bool bad = std::any_of(session.Tracks.begin(), session.Tracks.end(), [](const TTrackRip &t) {
        return t.Failed() || (t.InDatabase && !t.Accurate);
    });
    if (bad)
        QMessageBox::warning(parent, QStringLiteral("Sondrel"), text);
    else
        QMessageBox::information(parent, QStringLiteral("Sondrel"), text);
}

TGaugeThrottle::TGaugeThrottle(QProgressBar *bar) : QObject(bar), m_bar(bar)
{
    m_later.setSingleShot(true);
    connect(&m_later, &QTimer::timeout, this, [this] { show(m_pending); });
}

void TGaugeThrottle::Set(int value)
{
    constexpr qint64 interval = 100; // ms
    if (value == m_bar->minimum() || value == m_bar->maximum() || !m_shown.isValid() ||
        m_shown.elapsed() >= interval) {
        show(value);
        return;
    }
    m_pending = value;
    if (!m_later.isActive())
        m_later.start(int(interval - m_shown.elapsed()));
}

void TGaugeThrottle::show(int value)
{
    m_later.stop();
    m_shown.start();
    m_bar->setValue(value);
}

TEncodingLines::TEncodingLines(QWidget *parent) : QWidget(parent), m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(0, 0, 0, 0);
}

void TEncodingLines::Set(int slot, const QString &caption, int percent)
{
    while (int(Lines.size()) <= slot) {
        Line line;
        line.Caption = new QLabel(this);
        line.Caption->setObjectName(QStringLiteral("lEncoding%1").arg(Lines.size() + 1));
        KeepUntranslated(line.Caption);
        line.Gauge = new QProgressBar(this);
        line.Gauge->setObjectName(QStringLiteral("gEncoding%1").arg(Lines.size() + 1));
        line.Gauge->setRange(0, 100);
        line.Throttle = new TGaugeThrottle(line.Gauge);
        m_layout->addWidget(line.Caption);
        m_layout->addWidget(line.Gauge);
        Lines.push_back(line);
    }
    const Line &line = Lines[size_t(slot)];
    if (line.Caption->text() != caption)
        line.Caption->setText(caption);
    line.Throttle->Set(std::clamp(percent, 0, 100));
    line.Caption->show();
    line.Gauge->show();
}

void TEncodingLines::End(int slot)
{
    if (slot >= 0 && slot < int(Lines.size())) {
        Lines[size_t(slot)].Caption->hide();
        Lines[size_t(slot)].Gauge->hide();
    }
}

void TRipForm::SetEncoding(int slot, const QString &caption, int percent)
{
    Encodings->Set(slot, caption, percent);
}

void TRipForm::EndEncoding(int slot)
{
    Encodings->End(slot);
}

void TRipForm::ShowVerification(const TRipSession &session)
{
    ShowRipResults(this, session);
}

void TRipForm::ReadPathFailed()
{
    // The next start reads through the other path; the window saves the setting as usual.
    AppSettings.CommonOptions.IsCDHandleZero = !AppSettings.CommonOptions.IsCDHandleZero;
}

void TRipForm::btStopClick()
{
    m_job->Stop();
}

void TRipForm::reject()
{
    // Escape and the window's close button stop the job like the Stop button.
    if (!m_job->Finished())
        m_job->Stop();
    else
        QDialog::reject();
}

void TRipForm::closeEvent(QCloseEvent *event)
{
    m_job->CleanUp();
    QDialog::closeEvent(event);
}

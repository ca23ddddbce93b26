// SPDX-License-Identifier: GPL-3.0-or-later
#include "oggplayerform.h"

#include "shell/helpers.h"
#include "shell/settings.h"
#include "shell/synchronize.h"
#include "toolbuttons.h"
#include "ui/applylanguage.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

TfrmOggPlayer::TfrmOggPlayer(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmOggPlayer"));
    setWindowTitle(QStringLiteral("Ogg Player"));
    VorbisIn1.Loop = false;
    VorbisIn1.EndSample = -1;
    StereoBalance1.SetInput(&VorbisIn1);
    StereoBalance1.SetBalance(0.5f);
    DXAudioOut1.SetInput(&StereoBalance1);
    DXAudioOut1.DeviceNumber = 0;
    DXAudioOut1.Latency = 80;
    DXAudioOut1.PrefetchData = true;
    DXAudioOut1.PollingInterval = 200;
    DXAudioOut1.FramesInBuffer = 65536;
    DXAudioOut1.SpeedFactor = 1.0f;
    DXAudioOut1.OnProgress = [this](TAuOutput *) { showFilePosition(); };
    DXAudioOut1.OnDone = [this](TAuOutput *) { AudioOut1Done(); };
    // No sound device, or one that fails: said, and the window stays usable.
    DXAudioOut1.OnThreadException = [this](TAuOutput *sink) {
        QMessageBox::information(this, QStringLiteral("Sondrel"), sink->ExceptionMessage());
    };

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(infoPanel());
    ScrollBar1 = new QScrollBar(Qt::Horizontal, this);
    ScrollBar1->setObjectName(QStringLiteral("ScrollBar1"));
    ScrollBar1->setRange(0, 100);
    ScrollBar1->setEnabled(false);
    layout->addWidget(ScrollBar1);
    auto *buttons = new QHBoxLayout;
    BitBtn1 = AddToolButton(this, buttons, "BitBtn1", QStringLiteral("Play"));
    BitBtn1->setToolTip(QStringLiteral("Press to open and play ogg file."));
    BitBtn2 = AddToolButton(this, buttons, "BitBtn2", QStringLiteral("Pause"));
    bStop = AddToolButton(this, buttons, "bStop", QStringLiteral("Stop"));
    TrackBar1 = new QSlider(Qt::Horizontal, this);
    TrackBar1->setObjectName(QStringLiteral("TrackBar1"));
    TrackBar1->setRange(0, 10);
    TrackBar1->setValue(5);
    buttons->addWidget(TrackBar1);
    bClose = AddToolButton(this, buttons, "bClose", QStringLiteral("Close"));
    layout->addLayout(buttons);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setFixedHeight(90);
    layout->addWidget(Memo1);
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(500);

    connect(BitBtn1, &QPushButton::clicked, this, &TfrmOggPlayer::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TfrmOggPlayer::BitBtn2Click);
    connect(bStop, &QPushButton::clicked, this, &TfrmOggPlayer::bStopClick);
    connect(bClose, &QPushButton::clicked, this, &TfrmOggPlayer::bCloseClick);
    // One seek where the bar is let go, and one for each page click or key; none while it is dragged.
    connect(ScrollBar1, &QScrollBar::sliderReleased, this, [this] { ScrollBar1Scroll(ScrollBar1->value()); });
    connect(ScrollBar1, &QScrollBar::valueChanged, this, [this](int value) {
        if (!m_settingBar && !ScrollBar1->isSliderDown() && ScrollBar1->isEnabled())
            ScrollBar1Scroll(value);
    });
    connect(TrackBar1, &QSlider::valueChanged, this, &TfrmOggPlayer::TrackBar1Change);
    connect(Timer2, &QTimer::timeout, this, &TfrmOggPlayer::Timer2Timer);
    setFixedSize(sizeHint().expandedTo(QSize(380, 0)));
}

// The file's name, rate and times.
QWidget *TfrmOggPlayer::infoPanel()
{
    auto *panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setToolTip(QStringLiteral("Press 'Play' button to open and play ogg file."));
    auto *grid = new QGridLayout(panel);
    const auto label = [panel](const char *name, const QString &text) {
        auto *l = new QLabel(text, panel);
        l->setObjectName(QLatin1String(name));
        return l;
    };
    lFileName = label("lFileName", QStringLiteral("OGG"));
    KeepUntranslated(lFileName);
    lSampleRate = label("lSampleRate", QStringLiteral("bps"));
    KeepUntranslated(lSampleRate);
    lCurrentTime = label("lCurrentTime", QStringLiteral("0:00"));
    KeepUntranslated(lCurrentTime);
    Label1 = label("Label1", QStringLiteral("/"));
    KeepUntranslated(Label1);
    lTotalTime = label("lTotalTime", QStringLiteral("0:00"));
    KeepUntranslated(lTotalTime);
    grid->addWidget(lFileName, 0, 0, 1, 3);
    grid->addWidget(lSampleRate, 1, 0);
    auto *times = new QHBoxLayout;
    times->addWidget(lCurrentTime);
    times->addWidget(Label1);
    times->addWidget(lTotalTime);
    times->addStretch();
    grid->addLayout(times, 1, 1, 1, 2);
    return panel;
}

TfrmOggPlayer::~TfrmOggPlayer()
{
    DXAudioOut1.Stop(false);
}

void TfrmOggPlayer::showEvent(QShowEvent *event)
{
    if (!IsEnglish(AppSettings.Lan))
        ApplyLanguage(this, AppSettings.Lan);
    QDialog::showEvent(event);
}

void TfrmOggPlayer::BitBtn1Click()
{
    const QString path = QFileDialog::getOpenFileName(this, QString(), QString(),
                                                      QStringLiteral("Sound file(*.ogg);; Any file(*.*)"));
    if (!path.isEmpty())
        PlayFile(path);
}

void TfrmOggPlayer::PlayFile(const QString &path)
{
    try {
        VorbisIn1.SetFileName(path);
        if (!path.right(4).toUpper().endsWith(QStringLiteral(".OGG")) || !VorbisIn1.TryOpen()) {
            QMessageBox::information(this, QString(), QStringLiteral("Ogg file is not valid."));
            return;
        }
        BitBtn1->setEnabled(false);
        const QString name = QFileInfo(path).fileName();
        lFileName->setText(name.left(name.size() - 4));
        DXAudioOut1.Run();
        Timer2->start();
        ElapsedMs = 0;
        lSampleRate->setText(QString::number(VorbisIn1.GetSampleRate()) + QStringLiteral(" bps"));
        const int total = VorbisIn1.GetTotalTime();
        lTotalTime->setText(QStringLiteral("%1:%2").arg(total / 60).arg(total % 60, 2, 10, QLatin1Char('0')));
        ScrollBar1->setEnabled(true);
        Memo1->clear();
        const TVorbisTags &tags = VorbisIn1.VorbisComments();
        const std::pair<const char *, QString> lines[] = {
            {"Artist: ", tags.Artist()}, {"Album: ", tags.Album()}, {"Title: ", tags.Title()},
            {"Date: ", tags.Date()},     {"Genre: ", tags.Genre()}, {"Track: ", tags.Track()}};
        for (const auto &[caption, value] : lines) {
            if (!value.isEmpty())
                Memo1->appendPlainText(QLatin1String(caption) + value);
        }
    } catch (...) {
        Memo1->appendPlainText(CurrentExceptionText()); // why the file shows nothing
    }
}

void TfrmOggPlayer::AudioOut1Done()
{
    BitBtn1->setEnabled(true);
    ScrollBar1->setEnabled(false);
    Timer2->stop();
}

void TfrmOggPlayer::Timer2Timer()
{
    if (ElapsedMs >= VorbisIn1.GetTotalTime() * 1000)
        return;
    ElapsedMs += 500;
    showFilePosition();
    lCurrentTime->setText(QString::number(ElapsedMs / 60000) + QLatin1Char(':') +
                          TwoDigits(ElapsedMs / 1000 % 60));
}

int TfrmOggPlayer::FilePercent()
{
    const int64_t size = VorbisIn1.Size;
    return size > 0 ? int(std::clamp<int64_t>(VorbisIn1.Position * 100 / size, 0, 100)) : 0;
}

void TfrmOggPlayer::showFilePosition()
{
    if (ScrollBar1->isSliderDown())
        return; // the user holds it
    m_settingBar = true;
    ScrollBar1->setValue(FilePercent());
    m_settingBar = false;
}

void TfrmOggPlayer::ScrollBar1Scroll(int position)
{
    // From where the reading is in the file, not from what the device has played (the output's own count,
    // which a jump does not move).
    const int64_t size = VorbisIn1.Size;
    const int here = size > 0 ? int(VorbisIn1.Position * 1000 / size) : 0;
    DXAudioOut1.Jump(position * 10 - here);
    ElapsedMs = VorbisIn1.GetTotalTime() * position * 10;
    showFilePosition();
}

void TfrmOggPlayer::BitBtn2Click()
{
    if (!DXAudioOut1.Busy)
        return; // nothing plays: nothing to pause or resume, and the time stays
    if (DXAudioOut1.Status() != 0) {
        DXAudioOut1.Resume();
        Timer2->start();
    } else {
        DXAudioOut1.Pause();
        Timer2->stop();
    }
}

void TfrmOggPlayer::bStopClick()
{
    if (DXAudioOut1.Status() == 1)
        DXAudioOut1.Resume();
    DXAudioOut1.Stop(true);
    Timer2->stop();
}

void TfrmOggPlayer::TrackBar1Change(int position)
{
    StereoBalance1.SetBalance(float(position) / 10.0f);
}

void TfrmOggPlayer::bCloseClick()
{
    bStopClick();
    Closing = true;
    // The output winds up within one block; its done event may still be queued behind this call.
    WaitRunningSynchronize([this] { return DXAudioOut1.Status() == 2 || !DXAudioOut1.Busy; },
                           std::chrono::milliseconds(10000));
    QMetaObject::invokeMethod(
        this, [this] { done(QDialog::Rejected); }, Qt::QueuedConnection);
}

void TfrmOggPlayer::closeEvent(QCloseEvent *event)
{
    if (!Closing) {
        event->ignore();
        bCloseClick();
        return;
    }
    QDialog::closeEvent(event);
}

void TfrmOggPlayer::reject()
{
    if (!Closing) {
        bCloseClick();
        return;
    }
    QDialog::reject();
}

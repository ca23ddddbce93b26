// SPDX-License-Identifier: GPL-3.0-or-later
#include "recordform.h"

#include "shell/folders.h"
#include "shell/helpers.h"
#include "shell/localizedtext.h"
#include "shell/settings.h"
#include "toolbuttons.h"
#include "ui/applylanguage.h"

#include <QAction>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const char *const idleText = "-----------";

// The enabled buttons of each set, in the order of TMPBtnType.
constexpr bool buttonSets[][6] = {
    // Play   Pause  Stop   Next   Prev   Record
    {false, false, false, false, false, false}, // none
    {false, false, true, false, false, false},  // recording
    {false, true, true, true, true, false},     // playing
    {true, false, false, true, true, true},     // idle
    {true, false, false, false, true, true},    // at end
    {true, false, false, true, false, true},    // at start
    {false, false, false, false, false, true},  // new
};

} // namespace

TfrmRecord::TfrmRecord(TRecordHost *host, QWidget *parent) : QDialog(parent), m_host(host)
{
    setObjectName(QStringLiteral("frmRecord"));
    setWindowTitle(LocalizedText("RES_TitleStr", "Record"));
    UnnamedFile = DataFolder() + QStringLiteral("MyNoName.wav");
    WorkingCopy = DataFolder() + QStringLiteral("MyTemp.wav");
    setUpPlayback();
    auto *layout = new QVBoxLayout(this);
    createStartMenu(layout);
    createPlayer(layout);
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(500);
    TimerRecord = new QTimer(this);
    TimerRecord->setObjectName(QStringLiteral("TimerRecord"));
    TimerRecord->setInterval(100);
    connect(Timer1, &QTimer::timeout, this, &TfrmRecord::Timer1Timer);
    connect(TimerRecord, &QTimer::timeout, this, &TfrmRecord::TimerRecordTimer);
    connect(TrackBar1, &QSlider::valueChanged, this, &TfrmRecord::TrackBar1Change);
    connect(miNew, &QAction::triggered, this, &TfrmRecord::miNewClick);
    connect(miOpen, &QAction::triggered, this, &TfrmRecord::miOpenClick);
    connect(actSave, &QAction::triggered, this, &TfrmRecord::actSaveExecute);
    connect(actSaveAs, &QAction::triggered, this, &TfrmRecord::actSaveAsExecute);
    connect(actUndo, &QAction::triggered, this, &TfrmRecord::actUndoExecute);
    connect(miRecordOptionSet, &QAction::triggered, this, &TfrmRecord::miRecordOptionSetClick);
    connect(pmExit, &QAction::triggered, this, &QWidget::close);

    // Opening the window: the MP3 tick from the settings, no current file.
    miSaveMp3->setChecked(AppSettings.RecordOptions.SaveMp3);
    SetButtons(bsNone);
    setMinimumWidth(460);
}

void TfrmRecord::setUpPlayback()
{
    AudioOut1.SetInput(&WaveIn1);
    AudioOut1.Latency = 100;
    // A playback device that fails, or none at all: said, and the recorder goes back to idle.
    AudioOut1.OnThreadException = [this](TAuOutput *sink) {
        Timer1->stop();
        m_paused = false;
        if (Buttons == bsPlaying)
            SetButtons(bsIdle);
        SetState(QString::fromLatin1(idleText));
        message(sink->ExceptionMessage(), QMessageBox::Critical);
    };
    // A recording that ends by itself (the device went away, the disk is full) keeps what came.
    connect(&Recorder, &TSoundRecorder::Failed, this, [this](const QString &reason) {
        if (!Recorder.Recording())
            return;
        MediaPlayer1Click(btStop);
        failed("RES_Save_Error", "Error while saving sound file!", reason);
    });

    AskOpenFileName = [this] {
        return QFileDialog::getOpenFileName(this, QStringLiteral("Please select a sound file to open"),
                                            DataFolder(),
                                            QStringLiteral("Sound file(*.wav);;All files(*.*)"));
    };
    AskSaveFileName = [this] {
        return QFileDialog::getSaveFileName(this, QString(), DataFolder(),
                                            QStringLiteral("Sound file(*.wav);;All files(*.*)"), nullptr,
                                            QFileDialog::DontConfirmOverwrite);
    };
    AskNewFormat = [this](int &rate, int &bits, int &channels) {
        TfrmNewRecordFile dialog(this);
        if (dialog.exec() != QDialog::Accepted)
            return false;
        rate = dialog.SampleRate();
        bits = dialog.BitsPerSample();
        channels = dialog.Channels();
        return true;
    };
}

void TfrmRecord::createStartMenu(QVBoxLayout *layout)
{
    auto *top = new QHBoxLayout;
    AfStartButton1 = new QToolButton(this);
    AfStartButton1->setObjectName(QStringLiteral("AfStartButton1"));
    AfStartButton1->setText(QStringLiteral("Start"));
    AfStartButton1->setPopupMode(QToolButton::InstantPopup);
    StartMenu = new QMenu(this);
    StartMenu->setObjectName(QStringLiteral("StartMenu"));
    const auto action = [this](const char *name, const QString &caption) {
        auto *a = new QAction(caption, this);
        a->setObjectName(QLatin1String(name));
        StartMenu->addAction(a);
        return a;
    };
    miNew = action("miNew", QStringLiteral("&New..."));
    miOpen = action("miOpen", QStringLiteral("&Open..."));
    actSave = action("miSave", QStringLiteral("&Save"));
    actSaveAs = action("miSaveAs", QStringLiteral("Save &As..."));
    actUndo = action("miUndo", QStringLiteral("&Undo"));
    StartMenu->addSeparator();
    miRecordOptionSet = action("miRecordOptionSet", QStringLiteral("&Recording Control..."));
    miSaveMp3 = action("miSaveMp3", QStringLiteral("&MP3 format"));
    miSaveMp3->setCheckable(true);
    StartMenu->addSeparator();
    pmExit = action("pmExit", QStringLiteral("&Exit"));
    AfStartButton1->setMenu(StartMenu);
    top->addWidget(AfStartButton1);
    panRecordTime = new QLabel(QStringLiteral("00:00:00.0"), this);
    panRecordTime->setObjectName(QStringLiteral("panRecordTime"));
    KeepUntranslated(panRecordTime);
    panRecordTime->setToolTip(QStringLiteral("The time length of current recording"));
    panRecordTime->setFrameShape(QFrame::Panel);
    panRecordTime->setFrameShadow(QFrame::Sunken);
    top->addWidget(panRecordTime);
    top->addStretch();
    layout->addLayout(top);
}

void TfrmRecord::createPlayer(QVBoxLayout *layout)
{
    auto *player = new QHBoxLayout;
    static const char *const names[6][2] = {{"btPlay", "Play"},     {"btPause", "Pause"},
                                            {"btStop", "Stop"},     {"btNext", "Next"},
                                            {"btPrev", "Previous"}, {"btRecord", "Record"}};
    for (int i = 0; i < 6; ++i) {
        MediaButtons[i] = AddToolButton(this, player, names[i][0], QString::fromLatin1(names[i][1]));
        connect(MediaButtons[i], &QPushButton::clicked, this,
                [this, i] { MediaPlayer1Click(static_cast<TMPBtnType>(i)); });
    }
    layout->addLayout(player);
    TrackBar1 = new QSlider(Qt::Horizontal, this);
    TrackBar1->setObjectName(QStringLiteral("TrackBar1"));
    TrackBar1->setRange(0, 400);
    TrackBar1->setTickInterval(40);
    TrackBar1->setTickPosition(QSlider::TicksBelow);
    layout->addWidget(TrackBar1);
    auto *labels = new QHBoxLayout;
    const auto label = [this, labels](const char *name, const QString &caption) {
        auto *l = new QLabel(caption, this);
        l->setObjectName(QLatin1String(name));
        labels->addWidget(l);
        return l;
    };
    lbState = label("lbState", QString::fromLatin1(idleText));
    KeepUntranslated(lbState);
    labels->addStretch();
    lbPosition = label("lbPosition", QStringLiteral("0.00Sec"));
    KeepUntranslated(lbPosition);
    QLabel *slash = label("lbSlash", QStringLiteral("/"));
    KeepUntranslated(slash);
    lbLength = label("lbLength", QStringLiteral("0.00Sec"));
    KeepUntranslated(lbLength);
    layout->addLayout(labels);
}

TfrmRecord::~TfrmRecord()
{
    // Closing has asked about the file already; a window that was never closed just lets go of its files.
    CloseDevice();
    if (m_closed)
        return;
    QFile::remove(WorkingCopy);
}

void TfrmRecord::showEvent(QShowEvent *event)
{
    if (!IsEnglish(AppSettings.Lan))
        ApplyLanguage(this, AppSettings.Lan);
    QDialog::showEvent(event);
}

void TfrmRecord::message(const QString &text, int icon)
{
    QMessageBox box(static_cast<QMessageBox::Icon>(icon), QStringLiteral("Sondrel"), text, QMessageBox::Ok,
                    this);
    box.exec();
}

void TfrmRecord::failed(const char *key, const char *english, const QString &reason)
{
    message(LocalizedText(key, english) + QStringLiteral("\n") + reason, QMessageBox::Critical);
}

bool TfrmRecord::question(const QString &text)
{
    return QMessageBox::question(this, QStringLiteral("Sondrel"), text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

void TfrmRecord::SetButtons(TButtonSet set)
{
    Buttons = set;
    for (int i = 0; i < 6; ++i)
        MediaButtons[i]->setEnabled(buttonSets[set][i]);
    UpdateActions();
}

void TfrmRecord::SetState(const QString &text)
{
    lbState->setText(text);
    UpdateActions();
}

void TfrmRecord::UpdateActions()
{
    // Save and Save As go with the Record button; Undo needs a modified named file that is not recording.
    const bool canRecord = MediaButtons[btRecord]->isEnabled();
    actSave->setEnabled(canRecord);
    actSaveAs->setEnabled(canRecord);
    actUndo->setEnabled(Modified && lbState->text() != LocalizedText("RES_RecordingStr", "Recording...") &&
                        !CurrentFile.isEmpty() && CurrentFile != UnnamedFile);
}

void TfrmRecord::SetCaption(const QString &name)
{
    setWindowTitle(LocalizedText("RES_TitleStr", "Record") + QStringLiteral("(") + name +
                   QStringLiteral(")"));
}

QString TfrmRecord::DeviceFile() const
{
    return CurrentFile == UnnamedFile ? UnnamedFile : WorkingCopy;
}

int64_t TfrmRecord::SliderTime() const
{
    return Length() * TrackBar1->value() / 400;
}

void TfrmRecord::StopPlayback()
{
    Timer1->stop();
    m_paused = false;
    AudioOut1.Stop(false);
}

void TfrmRecord::CloseDevice()
{
    StopPlayback();
    WaveIn1.SetFileName(QString());
    Recorder.Close();
}

bool TfrmRecord::OpenDevice(const QString &path)
{
    CloseDevice();
    if (const auto set = Recorder.SetFile(path); !set) {
        failed("RES_MCI_Init_Fail", "Error while initializing MCI device!", set.Error());
        return false;
    }
    return true;
}

void TfrmRecord::miNewClick()
{
    if (!SaveQuestion(true))
        return;
    int rate = 44100;
    int bits = 16;
    int channels = 2;
    if (!AskNewFormat(rate, bits, channels))
        return;
    CurrentFile = UnnamedFile;
    CloseDevice();
    if (const auto written = TSoundRecorder::WriteEmptyWav(UnnamedFile, channels, bits, rate); written) {
        if (OpenDevice(UnnamedFile))
            SetButtons(bsNew);
        else
            SetButtons(bsNone);
    } else {
        SetButtons(bsNone);
        failed("RES_MCI_Init_Fail", "Error while initializing MCI device!", written.Error());
    }
    panRecordTime->setText(QStringLiteral("00:00:00.0"));
    lbLength->setText(QStringLiteral("0.00 Sec"));
    lbPosition->setText(QStringLiteral("0.00 Sec"));
    SetCaption(LocalizedText("RES_NoNameStr", "NoName"));
    TrackBar1->setValue(0);
    Converted = false;
}

void TfrmRecord::miOpenClick()
{
    if (!SaveQuestion(true))
        return;
    for (;;) {
        const QString path = AskOpenFileName();
        if (path.isEmpty() || path == CurrentFile)
            return;
        if (!QFileInfo(path).isFile()) {
            message(LocalizedText("RES_Check_FileName", "Please check the filename correct or not") +
                        QStringLiteral("\r\nCould not be found\uFF01\r\n") + path,
                    QMessageBox::Warning);
            continue;
        }
        CurrentFile = path;
        SetCaption(path);
        TrackBar1->setValue(0);
        Converted = false;
        LoadNamedFile(path);
        return;
    }
}

void TfrmRecord::LoadNamedFile(const QString &path)
{
    CloseDevice();
    CurrentFile = path;
    QString error;
    if (!CopyFileAtomically(path, WorkingCopy, &error)) {
        SetButtons(bsNone);
        failed("RES_MCI_Init_Fail", "Error while initializing MCI device!", error);
        return;
    }
    if (!OpenDevice(WorkingCopy)) {
        SetButtons(bsNone);
        return;
    }
    SetButtons(bsAtStart);
    lbLength->setText(TSoundRecorder::TimeText(Length()));
    SetCaption(path);
}

void TfrmRecord::MediaPlayer1Click(TMPBtnType button)
{
    switch (button) {
    case btPlay:
        play();
        break;
    case btPause:
        pauseOrResume();
        break;
    case btStop:
        stop();
        break;
    case btNext:
        StopPlayback();
        TrackBar1->setValue(400);
        SetButtons(bsAtEnd);
        SetState(QString::fromLatin1(idleText));
        break;
    case btPrev:
        StopPlayback();
        TrackBar1->setValue(0);
        SetButtons(bsAtStart);
        SetState(QString::fromLatin1(idleText));
        break;
    case btRecord:
        record();
        break;
    }
}

void TfrmRecord::play()
{
    if (TrackBar1->value() == 400)
        TrackBar1->setValue(0);
    if (!Timer1->isActive())
        PlayCounter = SliderTime();
    SetState(QStringLiteral("Playing..."));
    SetButtons(bsPlaying);
    Timer1->start();
    AudioOut1.Stop(false);
    WaveIn1.SetFileName(DeviceFile());
    if (WaveIn1.TryOpen())
        WaveIn1.Seek(PlayCounter * WaveIn1.GetSampleRate() / 1000);
    AudioOut1.Run();
}

void TfrmRecord::pauseOrResume()
{
    // Pause holds playback and its clock; pressed again it goes on from there.
    if (m_paused) {
        AudioOut1.Resume();
        Timer1->start();
    } else {
        AudioOut1.Pause();
        Timer1->stop();
    }
    m_paused = !m_paused;
}

void TfrmRecord::stop()
{
    TrackBar1->setValue(0);
    StopPlayback();
    const bool recording = Recorder.Recording();
    int64_t more = 0;
    if (TimerRecord->isActive()) {
        // The recording runs on to the next whole second of what the clock showed.
        if (LastRecordMs > 100)
            more = 1000 - LastRecordMs;
    }
    const TResult<> saved = recording ? Recorder.Stop(more) : TResult<>();
    if (TimerRecord->isActive()) {
        TimerRecordTimer();
        TimerRecord->stop();
    }
    SetButtons(bsIdle);
    SetState(QString::fromLatin1(idleText));
    if (recording) {
        TrackBar1->setValue(400);
        lbLength->setText(TSoundRecorder::TimeText(Length()));
        SetState(QStringLiteral("Record over!"));
        if (!saved)
            failed("RES_Save_Error", "Error while saving sound file!", saved.Error());
    }
}

void TfrmRecord::record()
{
    if (const auto started = Recorder.Start(CaptureDevice, SliderTime()); !started) {
        failed("RES_MCI_Init_Fail", "Error while initializing MCI device!", started.Error());
        return;
    }
    LastRecordMs = 0;
    TimerRecord->start();
    Modified = true;
    SetButtons(bsRecording);
    SetState(LocalizedText("RES_RecordingStr", "Recording..."));
}

void TfrmRecord::Timer1Timer()
{
    PlayCounter += 500;
    if (PlayCounter < Length()) {
        TrackBar1->setValue(int(PlayCounter * 400 / Length()));
        return;
    }
    TrackBar1->setValue(400);
    Timer1->stop();
    SetButtons(bsAtEnd);
    SetState(QString::fromLatin1(idleText));
}

void TfrmRecord::TimerRecordTimer()
{
    // The audio recorded so far, not the time since Record: the device takes a moment to deliver its first
    // sound, and the display would run ahead of what the file will hold.
    const int64_t elapsed = Recorder.RecordedMs();
    LastRecordMs = int(elapsed % 1000);
    panRecordTime->setText(QStringLiteral("%1:%2:%3.%4")
                               .arg(elapsed / 3600000 % 100, 2, 10, QLatin1Char('0'))
                               .arg(elapsed / 60000 % 60, 2, 10, QLatin1Char('0'))
                               .arg(elapsed / 1000 % 60, 2, 10, QLatin1Char('0'))
                               .arg(LastRecordMs / 100));
}

void TfrmRecord::TrackBar1Change(int position)
{
    if (!Recorder.FileName().isEmpty() && Length() > 0)
        lbPosition->setText(TSoundRecorder::TimeText(Length() * position / 400));
}

void TfrmRecord::miRecordOptionSetClick()
{
    // The desktop mixer's input devices, when there is one; otherwise nothing happens.
    const QString mixer = VolumeControlProgram();
    if (!mixer.isEmpty())
        QProcess::startDetached(mixer, {QStringLiteral("--tab=4")});
}

void TfrmRecord::FormClose()
{
    if (m_closed)
        return;
    m_closed = true;
    AppSettings.RecordOptions.SaveMp3 = miSaveMp3->isChecked();
    Timer1->stop();
    SaveQuestion(true);
    CloseDevice();
    QFile::remove(WorkingCopy);
}

void TfrmRecord::done(int result)
{
    FormClose();
    QDialog::done(result);
}

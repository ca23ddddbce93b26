// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/dxaudioout.h"
#include "jobs/soundrecorder.h"
#include "jobs/wavein.h"

#include <QDialog>
#include <QString>
#include <functional>

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QRadioButton;
class QSlider;
class QTimer;
class QToolButton;
class QVBoxLayout;

// What the recorder needs from the main window: whether a drive is open (the MP3 step insists on it) and the
// job window that converts the saved recording to MP3 (job kind 4).
class TRecordHost {
public:
    virtual ~TRecordHost() = default;
    virtual bool HasDriveHandle() const = 0;
    virtual void ConvertRecording(const QString &wavFile) = 0;
};

// "New sound file": the rate, sample width and channels of a new recording.
class TfrmNewRecordFile final : public QDialog {
    Q_OBJECT
public:
    explicit TfrmNewRecordFile(QWidget *parent = nullptr);

    int SampleRate() const;
    int BitsPerSample() const;
    int Channels() const;

    QComboBox *cbBitSamples;
    QRadioButton *rb8Bit;
    QRadioButton *rb16Bit;
    QRadioButton *rbMono;
    QRadioButton *rbStereo;
    QPushButton *btOK;
    QPushButton *btCancel;

protected:
    void showEvent(QShowEvent *event) override;
};

// The sound recorder: records from the capture device into a WAV file, inserting at the slider's position,
// plays it back, saves it (and converts it to MP3 when asked). A named file is worked on in a copy,
// MyTemp.wav, which Save copies back; a new recording is the file MyNoName.wav until it is saved under a
// name. Both live in the per-user data folder. The player buttons follow fixed sets (SetButtons).
class TfrmRecord final : public QDialog {
    Q_OBJECT
public:
    enum TMPBtnType { btPlay, btPause, btStop, btNext, btPrev, btRecord };
    enum TButtonSet { bsNone, bsRecording, bsPlaying, bsIdle, bsAtEnd, bsAtStart, bsNew };

    explicit TfrmRecord(TRecordHost *host, QWidget *parent = nullptr);
    ~TfrmRecord() override;

    void miNewClick();
    void miOpenClick();
    void actSaveExecute();
    void actSaveAsExecute();
    void actUndoExecute();
    void miRecordOptionSetClick();
    void MediaPlayer1Click(TMPBtnType button);
    void TrackBar1Change(int position);
    void Timer1Timer();
    void TimerRecordTimer();
    // Loads a named file (copied to the working copy) as Open does after its dialog.
    void LoadNamedFile(const QString &path);
    // Asks whether to save a modified file (asking) or saves (an explicit Save); false when cancelled or
    // failed.
    bool SaveQuestion(bool asking);

    // The files: the current one ("" for none), the unnamed new recording and the working copy.
    QString CurrentFile;
    QString UnnamedFile;
    QString WorkingCopy;
    bool Modified = false;
    bool Converted = false;
    TButtonSet Buttons = bsNone;
    // The capture device (ALSA name) and the playback device (index of TDXAudioOut's list).
    QString CaptureDevice = QStringLiteral("default");

    // The file dialogs; tests answer them instead of a person.
    std::function<QString()> AskOpenFileName;
    std::function<QString()> AskSaveFileName;
    // The new-file dialog: true with the format on OK.
    std::function<bool(int &rate, int &bits, int &channels)> AskNewFormat;

    TSoundRecorder Recorder;
    TWaveIn WaveIn1;
    TDXAudioOut AudioOut1;

    QToolButton *AfStartButton1;
    QMenu *StartMenu;
    QAction *miNew;
    QAction *miOpen;
    QAction *actSave;
    QAction *actSaveAs;
    QAction *actUndo;
    QAction *miRecordOptionSet;
    QAction *miSaveMp3;
    QAction *pmExit;
    QPushButton *MediaButtons[6];
    QSlider *TrackBar1;
    QLabel *lbState;
    QLabel *lbPosition;
    QLabel *lbLength;
    QLabel *panRecordTime;
    QTimer *Timer1;
    QTimer *TimerRecord;

    int64_t PlayCounter = 0;
    int LastRecordMs = 0; // the millisecond part the recording time last showed

protected:
    void showEvent(QShowEvent *event) override;
    // Every way of closing (Exit, the window's close box, Escape) ends here.
    void done(int result) override;

private:
    // The window as it opens: playback and the questions it asks, the Start menu, the player.
    void setUpPlayback();
    void createStartMenu(QVBoxLayout *layout);
    void createPlayer(QVBoxLayout *layout);
    // The player buttons.
    void play();
    void pauseOrResume();
    void stop();
    void record();
    void SetButtons(TButtonSet set);
    void SetState(const QString &text);
    void UpdateActions();
    void CloseDevice();
    bool OpenDevice(const QString &path);
    void SetCaption(const QString &name);
    QString DeviceFile() const;
    int64_t Length() const { return Recorder.LengthMs(); }
    int64_t SliderTime() const;
    void StopPlayback();
    bool SaveUnnamed();
    QString ChooseSaveTarget();
    void ConvertToMp3();
    void FormClose();
    void message(const QString &text, int icon);
    // The message of a failure: the Part's text of the key, then the file and the system's reason.
    void failed(const char *key, const char *english, const QString &reason);
    bool question(const QString &text);

    TRecordHost *m_host;
    bool m_paused = false;
    bool m_closed = false;
};

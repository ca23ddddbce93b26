// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QProcess;

#include "shell/messages.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <vector>

// A private home for one test: XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_RUNTIME_DIR point into a fresh
// temporary folder, the program folder is redirected there too, and AppSettings starts from its defaults.
// Everything is put back when the object goes.
class TestHome final {
public:
    TestHome();
    ~TestHome();
    TestHome(const TestHome &) = delete;
    TestHome &operator=(const TestHome &) = delete;

    QString root() const { return m_dir.path(); }
    QString configHome() const { return m_dir.path() + QStringLiteral("/config"); }
    QString dataHome() const { return m_dir.path() + QStringLiteral("/data"); }
    QString runtimeDir() const { return m_dir.path() + QStringLiteral("/run"); }
    QString programFolder() const { return m_dir.path() + QStringLiteral("/program/"); }
    QString settingsFile() const { return configHome() + QStringLiteral("/Ombrel/Sondrel/options.ini"); }
    QString discInfoFile() const { return dataHome() + QStringLiteral("/Ombrel/Sondrel/cdinfo.dat"); }

private:
    QTemporaryDir m_dir;
    QByteArray m_savedConfig, m_savedData, m_savedRuntime;
};

QByteArray ReadFileBytes(const QString &path);
QString ReadFileText(const QString &path);
bool WriteFileText(const QString &path, const QString &text);
// Whether the path is a working file of the target (hidden beside it, named after it and a run); and those
// that are there now.
bool IsWorkingFileOf(const QString &path, const QString &target);
QStringList WorkingFilesThere(const QString &target);
// Whether a working file of the target holds something yet (its writing is under way).
bool GrowingWorkingFile(const QString &target);

// A window stand-in that keeps every message posted or sent to it, progress notices included.
class MessageCollector final : public QObject {
public:
    struct Received {
        int message = 0;
        intptr_t wParam = 0;
        intptr_t lParam = 0;
        bool hasInfo = false;
        TProcessInfo info;
    };
    std::vector<Received> received;
    // The notices with this Percent value.
    std::vector<TProcessInfo> notices(int percent) const;
    std::vector<TProcessInfo> progress() const; // Percent 0 to 100

protected:
    bool event(QEvent *e) override;
};

// Closes every modal dialog that opens while it lives (message boxes, questions), recording their texts, so
// GUI tests never hang on one. Message boxes are answered with the button given (Yes, OK by default).
class ModalCloser final : public QObject {
public:
    explicit ModalCloser(int answer = 0);
    QStringList texts; // "title|text" of each dialog closed
    int answer;

private:
    void check();
};

// The path of a program built by the project (sondrel, sondrel-mkdisc, ...).
QString BuiltProgram(const QString &name);

// Runs a program to its end (bounded); the exit code, or -1 when it could not run or did not finish.
int RunProgram(const QString &program, const QStringList &arguments, QByteArray *output = nullptr,
               int timeoutMs = 120000);

// A handle on the first drive of the drive list (with real drives off: the first disc image), or 0.
uint32_t OpenFirstDriveHandle();

// One block of an AccurateRip database answer for the disc: per track its confidence and checksum (the
// 450-frame checksum left 0).
struct TAccurateRipDisc;
QByteArray AccurateRipAnswerBlock(const TAccurateRipDisc &disc,
                                  const std::vector<std::pair<int, uint32_t>> &tracks);

// Writes a disc image with sondrel-mkdisc: MakeDisc(dir + "/disc.cue", {"750,tone", "data:300"}).
bool MakeDisc(const QString &cuePath, const QStringList &arguments);

// Runs the event loop until the condition holds or the bound runs out; true when it held.
bool WaitFor(const std::function<bool()> &condition, int timeoutMs = 10000);
// Sends the signal to a running child process; false (and nothing sent) when it has ended already. (Never
// kill(0): a finished QProcess's id is 0, which would be the whole test's process group.)
bool SignalProcess(const QProcess &process, int signal);

// GoogleTest prints texts as text.
#include <ostream>
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

// An ALSA playback device for one test, "sondrel_gate", whose sound the test receives and holds back: what
// is played goes through a pipe that is read only as far as the test allows (allow), or freely while
// flowing() says so. Declared in the test home's ALSA configuration, so it must be made after the TestHome
// and before the process first uses ALSA (each test runs in a process of its own).
class GatedSoundDevice final {
public:
    GatedSoundDevice();
    ~GatedSoundDevice();
    GatedSoundDevice(const GatedSoundDevice &) = delete;
    GatedSoundDevice &operator=(const GatedSoundDevice &) = delete;

    // Its number in the output's device list.
    static int index();
    // Lets this many more bytes through; a negative count opens the gate for good.
    void allow(int64_t bytes);
    // Read freely while this holds (asked from the reading thread).
    void setFlowing(std::function<bool()> condition);
    int64_t received() const;
    QByteArray data() const;
    // How often the device has closed the sound it was given, everything sent having been read.
    int closes() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// A PulseAudio server of the test's own with one null sink, reached through ALSA's "pulse" device (the
// plugin of libasound2-plugins): unlike ALSA's "null" device it plays in real time, as a sound card does.
// Needs a TestHome; available() is false where pulseaudio is not installed or does not start.
class PulseNullSink final {
public:
    PulseNullSink();
    ~PulseNullSink();
    PulseNullSink(const PulseNullSink &) = delete;
    PulseNullSink &operator=(const PulseNullSink &) = delete;
    bool available() const { return m_up; }
    // Records what the sink plays from now on (16-bit stereo at 44,100 Hz) ...
    void record();
    // ... until this, which gives it.
    QByteArray recorded();
    // Whether the server still answers (a client can ask it for its state).
    bool answers() const;
    // Whether the server still runs, and the end of its log: for a failure's message.
    QString report() const;
    // A fifth of a second of tone as an Ogg Vorbis file in the folder (made by sox and oggenc); its path,
    // empty when it could not be made.
    static QString ShortToneOgg(const QString &folder);
    // The sounds in the samples: runs louder than `level` (of 32,767) after at least `gapFrames` quieter.
    static int soundsIn(const QByteArray &samples, int level, int gapFrames);

private:
    struct State;
    std::unique_ptr<State> m_state;
    bool m_up = false;
};

// Points ALSA's "default" device, in the test home's configuration, at a sound card that does not exist: the
// machine as it is with no sound hardware at all. Needs a TestHome.
void MakeNoSoundCard();

// A file system of a few KiB (tmpfs) mounted on a folder for one test, to be filled up; unmounted when the
// object goes. Mounting needs root, which the project's machines and CI have; without it available() is
// false and the test skips.
class TinyFileSystem final {
public:
    TinyFileSystem(const QString &folder, int kib = 64);
    ~TinyFileSystem();
    TinyFileSystem(const TinyFileSystem &) = delete;
    TinyFileSystem &operator=(const TinyFileSystem &) = delete;
    bool available() const { return m_mounted; }
    // Writes a filler file until the file system says it is full.
    void fill();

private:
    QString m_folder;
    bool m_mounted = false;
};

#include <gtest/gtest.h>

// A test in a home of its own whose drives are the disc images it makes in `images` (real drives are left
// out), with an empty folder `out` for what it writes.
class DiscImageTest : public ::testing::Test {
protected:
    DiscImageTest();
    ~DiscImageTest() override;
    TestHome home;
    QString images; // DataFolder() + "Disc images/"
    QString out;    // home.root() + "/out"
};

// Shell lines for stand-in encoders (scripts whose arguments are lame's or WM8EUTIL's).
namespace StandInEncoder {
// Writes a short file that passes for audio of its extension into the last argument (lame's output file).
extern const QString WritesLastArgument;
// The same into the value of -output (WM8EUTIL's).
extern const QString WritesOutputOption;
// Writes half a file there first, as an encoder does that fails on the way.
extern const QString WritesHalfLastArgument;
extern const QString WritesHalfOutputOption;
} // namespace StandInEncoder

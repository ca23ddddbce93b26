#pragma once

#include <QDateTime>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <sys/types.h>

class TUserPrompt;
struct TProcessInfo;

// An error of the process layer: a fixed phrase followed by the system's error number.
class EProcessError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Splits a command line into arguments by its own quoting: blanks separate arguments, double quotes group
// (and are not part of the argument). Nothing is escaped.
QStringList SplitCommandLine(const QString &commandLine);

// The shared machinery of the MP3 and WMA encoder processes: a child process whose standard streams are
// pipes, watched by a thread that peeks the pipes and waits (100 ms at most when idle) for the child's end.
// The thread only watches: reading and parsing the child's output, and the completion, run on the
// user-interface thread through synchronised calls. Reports go to Window as WM_PROCESSINFO messages.
//
// One object serves one file at a time. Start, Stop and destruction happen on the user-interface thread.
class TEncoderProcess {
public:
    virtual ~TEncoderProcess();
    TEncoderProcess(const TEncoderProcess &) = delete;
    TEncoderProcess &operator=(const TEncoderProcess &) = delete;

    // Returns at once; reports follow. Raises EProcessError when a pipe or the process cannot be made.
    virtual void Start() = 0;
    // Sets up one job's file (active, reporting to the window) and starts it.
    void StartFile(const QString &input, const QString &output, QObject *window, uint8_t jobKind,
                   bool encode = true);
    // Ends the child (when Active) without a completion report.
    void Stop(uint32_t exitCode);

    bool IsRunning() const;
    // The command line of the last start, as built (what is shown and logged).
    const QString &CommandLine() const { return m_commandLine; }

    int32_t PercentColumn = 0;
    QDateTime StartTime;
    QPointer<QObject> Window;
    QString InputFile;
    QString OutputFile;
    bool Active = false;
    bool Encode = true;
    uint8_t JobKind = 0;
    // Answers the overwrite question and shows notices; without one, an existing file is not overwritten.
    TUserPrompt *Prompt = nullptr;

protected:
    TEncoderProcess() = default;

    // Lets the thread of an earlier run go on alone; it reports nothing more.
    void forgetRun();
    // The overwrite question of a start: true to go on. Otherwise the completion report was given.
    bool confirmOverwrite(bool ask);
    // Pipes, process, watching thread; the first argument of the command line is the executable's path.
    void launch(const QString &commandLine, const QString &executable, const QString &creationError);
    // All the child's output of one read, on the user-interface thread.
    virtual void ParseOutput(const QString &text) = 0;
    virtual void ReportDone(int32_t resultCode) = 0;
    void ProcessFinished();

    static QStringList splitLines(const QString &text);
    static QString secondsText(int64_t seconds);

    QString m_commandLine;

private:
    struct Run;
    friend struct EncoderWatch;
    void readPipe(int which);
    void watch(const std::shared_ptr<Run> &run);

    std::shared_ptr<Run> m_run; // the run being watched; shared with its thread
};

// lame: encodes WAV to MP3 or decodes MP3 to WAV.
class TMp3EncodeProcess final : public TEncoderProcess {
public:
    TMp3EncodeProcess() = default;
    ~TMp3EncodeProcess() override;

    void Start() override;

    // The command line from the MP3 options of the settings.
    static QString BuildCommandLine(bool encode, const QString &input, const QString &output);
    // The lame program: in the program folder, else on the search path; empty when there is none.
    static QString Executable();

    void ParseEncodeOutput(const QString &text);
    void ParseDecodeOutput(const QString &text);

protected:
    void ParseOutput(const QString &text) override;
    void ReportDone(int32_t resultCode) override;

private:
    void post(const TProcessInfo &info);
};

struct TWmaProfile {
    const char *text;  // as the options dialog shows it
    const char *name;  // passed after -a_setting
    int32_t sizeRatio; // WAV size / WMA size × 1000
};
extern const TWmaProfile WmaProfiles[33];

// WM8EUTIL: encodes WAV to WMA. Its completion reports are sent, not posted: the window has handled one
// when the call that produced it returns.
class TWMAEncodeProcess final : public TEncoderProcess {
public:
    TWMAEncodeProcess() = default;
    ~TWMAEncodeProcess() override;

    void Start() override;

    // The command line from the WMA settings; a profile index outside 0 to 32 is first set to 8 in the
    // settings themselves.
    static QString BuildCommandLine(const QString &executable, const QString &input, const QString &output);
    // The first of the program folder, its system32 and its system folder that holds WM8EUTIL; empty if none.
    static QString Executable();

protected:
    void ParseOutput(const QString &text) override;
    void ReportDone(int32_t resultCode) override;
};

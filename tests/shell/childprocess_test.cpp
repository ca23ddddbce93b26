// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/childprocess.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <csignal>
#include <gtest/gtest.h>

namespace {

class ChildProcessTest : public ::testing::Test {
protected:
    TestHome home;
    TChildProcess child;
    QStringList out, err;
    int exitCode = -2, signal = -2, finishes = 0;

    ChildProcessTest()
    {
        child.OnLines = [this](TChildProcess::Stream stream, const QStringList &lines) {
            (stream == TChildProcess::StandardOutput ? out : err) << lines;
        };
        child.OnFinished = [this](int code, int sig) {
            exitCode = code;
            signal = sig;
            ++finishes;
        };
    }

    QString script(const QString &name, const QString &body)
    {
        const QString path = home.root() + "/" + name;
        WriteFileText(path, "#!/bin/sh\n" + body);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        return path;
    }
};

TEST_F(ChildProcessTest, EveryValueIsOneArgumentAsItIs)
{
    const QString record = home.root() + "/argv";
    const QString program = script("record", "for a; do printf '%s\\0' \"$a\"; done > '" + record + "'\n");
    const QStringList values{"say \"hi\".wav",
                             "$(touch " + home.root() + "/pwned)",
                             "`id`",
                             "-rf",
                             " lead",
                             "a  b",
                             "x\" -output \"/some/file",
                             "",
                             "新しい \\ 'quote'"};
    ASSERT_EQ(child.Start(program, values), 0);
    ASSERT_TRUE(WaitFor([&] { return finishes == 1; }));
    EXPECT_EQ(exitCode, 0);
    const QByteArray recorded = ReadFileBytes(record);
    QStringList args;
    for (const QByteArray &a : recorded.split('\0'))
        args << QString::fromUtf8(a);
    args.removeLast(); // after the last NUL
    EXPECT_EQ(args, values);
    EXPECT_FALSE(QFileInfo::exists(home.root() + "/pwned"));
}

TEST_F(ChildProcessTest, LinesAreWholeAcrossReadsAndBeforeTheEnd)
{
    const QString flag = home.root() + "/flag";
    // The child writes half a line, waits until the test has seen the first line, then ends it; its last
    // line has no line end at all.
    const QString program =
        script("lines", "printf 'first\\r\\npar'\n"
                        "while [ ! -e '" +
                            flag +
                            "' ]; do sleep 0.01; done\n"
                            "printf 'tial\\rthird\\n\\nlast'\nprintf 'oops\\n' >&2\nexit 3\n");
    ASSERT_EQ(child.Start(program, {}), 0);
    ASSERT_TRUE(WaitFor([&] { return !out.isEmpty(); }));
    EXPECT_EQ(out, QStringList{"first"});
    WriteFileText(flag, "");
    ASSERT_TRUE(WaitFor([&] { return finishes == 1; }));
    EXPECT_EQ(out, QStringList({"first", "partial", "third", "", "last"}));
    EXPECT_EQ(err, QStringList{"oops"});
    EXPECT_EQ(exitCode, 3);
    EXPECT_EQ(signal, 0);
    EXPECT_EQ(child.LastErrorLine(), "oops");
    EXPECT_FALSE(child.IsRunning());
    EXPECT_EQ(ChildEndText("lame", 3, 0), "lame ended with exit status 3");
}

// Reading in batches loses nothing and does not hold the end up: every line, in order, then the end.
TEST_F(ChildProcessTest, BatchedReadsLoseNothing)
{
    child.BatchMilliseconds = 20;
    ASSERT_EQ(
        child.Start(script("many", "i=0\nwhile [ $i -lt 20000 ]; do echo \"Frame# $i\"; i=$((i+1)); done\n"),
                    {}),
        0);
    ASSERT_TRUE(WaitFor([&] { return finishes == 1; }, 60000));
    ASSERT_EQ(out.size(), 20000);
    for (int i = 0; i < 20000; i += 997)
        EXPECT_EQ(out[i], QString("Frame# %1").arg(i));
    EXPECT_EQ(exitCode, 0);
}

TEST_F(ChildProcessTest, DeathBySignalAndKill)
{
    ASSERT_EQ(child.Start(script("killed", "echo going\nkill -9 $$\n"), {}), 0);
    ASSERT_TRUE(WaitFor([&] { return finishes == 1; }));
    EXPECT_EQ(exitCode, -1);
    EXPECT_EQ(signal, SIGKILL);
    EXPECT_EQ(child.LastErrorLine(), "going"); // nothing on standard error: the last line of the output
    EXPECT_TRUE(ChildEndText("WM8EUTIL", -1, SIGKILL).startsWith("WM8EUTIL was killed by signal 9"));

    // Kill ends a running child at once, reaps it, and reports nothing.
    const QString pidFile = home.root() + "/pid";
    ASSERT_EQ(child.Start(script("long", "echo $$ > '" + pidFile + "'\nexec sleep 600\n"), {}), 0);
    ASSERT_TRUE(WaitFor([&] { return QFileInfo(pidFile).size() > 0; }));
    const pid_t pid = ReadFileText(pidFile).trimmed().toInt();
    child.Kill();
    EXPECT_FALSE(child.IsRunning());
    EXPECT_NE(::kill(pid, 0), 0); // reaped: not even a zombie is left
    QCoreApplication::processEvents();
    EXPECT_EQ(finishes, 1);
}

TEST_F(ChildProcessTest, StartFailuresGiveTheSystemsError)
{
    EXPECT_EQ(child.Start(home.root() + "/missing", {}), ENOENT);
    EXPECT_EQ(child.FailedStep, "spawn");
    const QString notExecutable = home.root() + "/plain";
    WriteFileText(notExecutable, "text");
    EXPECT_EQ(child.Start(notExecutable, {}), EACCES);
    EXPECT_FALSE(child.IsRunning());
    EXPECT_EQ(PathArgument("-o.wav"), "./-o.wav");
    EXPECT_EQ(PathArgument("/a/-o.wav"), "/a/-o.wav");
}

TEST_F(ChildProcessTest, AHandlerMayStartTheNextChild)
{
    // The way an encoder moves on: the completion handler starts the next file on the same object.
    const QString program = script("count", "echo run $1\n");
    int runs = 0;
    child.OnFinished = [&](int, int) {
        if (++runs < 3) {
            ASSERT_EQ(child.Start(program, {QString::number(runs + 1)}), 0);
        }
    };
    ASSERT_EQ(child.Start(program, {"1"}), 0);
    ASSERT_TRUE(WaitFor([&] { return runs == 3; }));
    EXPECT_EQ(out, QStringList({"run 1", "run 2", "run 3"}));
}

} // namespace

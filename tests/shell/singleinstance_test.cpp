// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/mainform.h"
#include "testsupport.h"
#include "ui/singleinstance.h"

#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QString program = BuiltProgram("sondrel");

class SingleInstanceTest : public ::testing::Test {
protected:
    TestHome home;

    // Starts the real program; the environment carries the test's private runtime folder.
    std::unique_ptr<QProcess> start()
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(program, {});
        return process;
    }

    static bool finished(QProcess &process, int timeoutMs = 20000)
    {
        return WaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs);
    }

    static bool listening()
    {
        QLocalSocket probe;
        probe.connectToServer(SingleInstance::socketPath());
        return probe.waitForConnected(200);
    }

    static void stop(QProcess &process)
    {
        process.kill();
        process.waitForFinished(10000);
    }
};

TEST_F(SingleInstanceTest, SocketIsPerUser)
{
    EXPECT_EQ(SingleInstance::socketPath(), home.runtimeDir() + "/Sondrel Made by Ombrel Software");
}

TEST_F(SingleInstanceTest, SecondStartBringsTheRunningWindowForward)
{
    ModalCloser closer; // the window may tell that there is no drive
    TMainForm form;
    SingleInstance instance;
    instance.setReceiver(&form);
    ASSERT_TRUE(instance.listen());
    form.show();
    form.setWindowState(Qt::WindowMinimized);
    ASSERT_TRUE(form.isMinimized());

    auto second = start();
    ASSERT_TRUE(finished(*second));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    ASSERT_TRUE(WaitFor([&] { return !form.isMinimized(); }));
    EXPECT_TRUE(form.isVisible());
}

TEST_F(SingleInstanceTest, TwoRealProcesses)
{
    auto first = start();
    ASSERT_TRUE(WaitFor([] { return listening(); }, 20000));
    auto second = start();
    ASSERT_TRUE(finished(*second));
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_EQ(first->state(), QProcess::Running);
    stop(*first);
}

TEST_F(SingleInstanceTest, StaleSocketDoesNotBlockTheNextStart)
{
    // A socket file nobody listens on, as a crashed run leaves it.
    const QByteArray path = QFile::encodeName(SingleInstance::socketPath());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
    ::close(fd);
    ASSERT_TRUE(QFileInfo::exists(SingleInstance::socketPath()));
    EXPECT_FALSE(listening());

    auto first = start();
    ASSERT_TRUE(WaitFor([] { return listening(); }, 20000));
    EXPECT_TRUE(SingleInstance::notifyRunningInstance());
    EXPECT_EQ(first->state(), QProcess::Running);
    stop(*first);
}

TEST_F(SingleInstanceTest, NoRunningInstance)
{
    EXPECT_FALSE(SingleInstance::notifyRunningInstance(500));
}

// Without a runtime folder the socket lives in a folder only this user can enter; a folder of that name
// that someone else made (or opened to others) is not used at all, and the program then runs on its own.
TEST_F(SingleInstanceTest, WithoutARuntimeFolderOnlyAPrivateFolderServes)
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray tmp = qgetenv("TMPDIR");
    qunsetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", QFile::encodeName(home.root()));
    const QString folder = home.root() + QString("/sondrel-%1").arg(::getuid());
    EXPECT_EQ(SingleInstance::socketPath(), folder + "/Sondrel Made by Ombrel Software");
    EXPECT_EQ(QFileInfo(folder).permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::ExeOther), 0);
    ::chmod(QFile::encodeName(folder).constData(), 0777);
    EXPECT_EQ(SingleInstance::socketPath(), QString());
    EXPECT_FALSE(SingleInstance::notifyRunningInstance(200));
    SingleInstance instance;
    EXPECT_TRUE(instance.listen());
    qputenv("XDG_RUNTIME_DIR", runtime);
    qputenv("TMPDIR", tmp);
}

// A listener of another user on our socket's name is not a running instance of ours.
TEST_F(SingleInstanceTest, AnotherUsersListenerIsIgnored)
{
    if (::getuid() != 0)
        GTEST_SKIP() << "needs root to listen as another user";
    QProcess other;
    other.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    other.start("python3", {"-c",
                            "import os, socket, sys\n"
                            "s = socket.socket(socket.AF_UNIX)\n"
                            "s.bind(sys.argv[1])\n"
                            "os.setgid(65534); os.setuid(65534)\n" // the peer is who listens
                            "s.listen(1); print('ready', flush=True)\n"
                            "while True:\n"
                            "    c, _ = s.accept(); c.recv(100); c.sendall(b'ok\\n'); c.close()\n",
                            SingleInstance::socketPath()});
    ASSERT_TRUE(other.waitForReadyRead(20000));
    EXPECT_FALSE(SingleInstance::notifyRunningInstance(2000)); // so the program opens its own window
    other.kill();
    other.waitForFinished();
}

} // namespace

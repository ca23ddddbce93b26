#include "mainwindow/mainform.h"
#include "shell/singleinstance.h"
#include "testsupport.h"

#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <gtest/gtest.h>
#include <sys/socket.h>
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

} // namespace

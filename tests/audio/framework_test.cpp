// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/auexception.h"
#include "audio/aufilestream.h"
#include "audio/authread.h"
#include "audio/stereobalance.h"
#include "memoryaudio.h"
#include "shell/helpers.h"
#include "shell/synchronize.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Spins on the user-interface thread without handling events, so that events pile up meanwhile.
bool SpinWithoutEvents(const std::function<bool()> &condition, std::chrono::milliseconds bound = 10s)
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}

struct Recorder {
    std::vector<std::string> events;
    int progress = 0;
    int done = 0;
    int exceptions = 0;
    bool offMainThread = false;
    QString messageAtException;
    QString messageAtDone;

    void attach(TAuOutput &sink)
    {
        const auto onMain = [this] {
            if (QThread::currentThread() != QCoreApplication::instance()->thread())
                offMainThread = true;
        };
        sink.OnProgress = [this, onMain](TAuOutput *) {
            onMain();
            ++progress;
            events.push_back("progress");
        };
        sink.OnDone = [this, onMain](TAuOutput *s) {
            onMain();
            ++done;
            messageAtDone = s->ExceptionMessage();
            events.push_back("done");
        };
        sink.OnThreadException = [this, onMain](TAuOutput *s) {
            onMain();
            ++exceptions;
            messageAtException = s->ExceptionMessage();
            events.push_back("exception");
        };
    }
};

QByteArray Ramp(int frames)
{
    return MakePcm(frames, 2, 16, [](int i, int c) { return ((i * 7 + c * 3) % 2000 - 1000) / 32768.0; });
}

TEST(AudioFramework, ProgressWithUnknownAndEmptyInput)
{
    MemorySink sink;
    EXPECT_EQ(sink.Progress(), 0);
    ChunkedSource source(100);
    sink.SetInput(&source);
    source.Size = 0;
    EXPECT_EQ(sink.Progress(), 0);
    source.Size = -1;
    EXPECT_EQ(sink.Progress(), -1);
    source.Size = 1000;
    source.Position = 333;
    EXPECT_EQ(sink.Progress(), 33);
    EXPECT_EQ(sink.Status(), 2);
}

TEST(AudioFramework, StreamedSourceIsCutAtItsSize)
{
    ChunkedSource source(600);
    source.Size = 1000;
    source.Init();
    const auto get = [&] {
        uint8_t *buffer = nullptr;
        uint32_t bytes = 4096;
        source.GetData(buffer, bytes);
        return bytes;
    };
    EXPECT_EQ(get(), 600u);
    EXPECT_EQ(get(), 400u);
    EXPECT_EQ(get(), 0u);
    EXPECT_EQ(get(), 0u);
    EXPECT_EQ(source.Position, 1000);
    source.Flush();
}

TEST(AudioFramework, LoopingNeverEnds)
{
    ChunkedSource source(600);
    source.Size = 1000;
    source.Loop = true;
    source.Init();
    uint64_t total = 0;
    for (int i = 0; i < 50; ++i) {
        uint8_t *buffer = nullptr;
        uint32_t bytes = 4096;
        source.GetData(buffer, bytes);
        ASSERT_GT(bytes, 0u) << "call " << i;
        total += bytes;
    }
    EXPECT_EQ(total, 25u * 1000u);
    EXPECT_EQ(source.seeks, 25);
    source.Flush();
}

TEST(AudioFramework, PrefetchedAndSilentBytesComeFirst)
{
    const QByteArray pcm = Ramp(1000);
    MemoryFileIn source(pcm, 16, 2, 44100);
    source.Init();
    source.Prefetch(1000);
    EXPECT_EQ(source.Position, 0);
    QByteArray read(4000, '\0');
    bool end = false;
    EXPECT_EQ(source.ReadFully(reinterpret_cast<uint8_t *>(read.data()), 4000, &end), 4000u);
    EXPECT_FALSE(end);
    EXPECT_EQ(read, pcm);
    EXPECT_EQ(source.Position, 4000);
    EXPECT_EQ(source.ReadFully(reinterpret_cast<uint8_t *>(read.data()), 10, &end), 0u);
    EXPECT_TRUE(end);
    source.Flush();

    source.Prebuffer.resize(64);
    source.Init();
    source.FillWithSilence();
    EXPECT_EQ(source.ReadFully(reinterpret_cast<uint8_t *>(read.data()), 80, &end), 80u);
    EXPECT_EQ(read.left(64), QByteArray(64, '\0'));
    EXPECT_EQ(read.mid(64, 16), pcm.left(16));
    source.Flush();
}

TEST(AudioFramework, SeekOnAnIdleFileSourceStartsTheNextRunThere)
{
    const QByteArray pcm = Ramp(100);
    MemoryFileIn source(pcm, 16, 2, 44100);
    EXPECT_TRUE(source.Seek(40));
    EXPECT_EQ(source.StartSample, 40);
    MemorySink sink;
    sink.SetInput(&source);
    Recorder recorder;
    recorder.attach(sink);
    sink.Run();
    ASSERT_TRUE(WaitFor([&] { return recorder.done == 1; }));
    EXPECT_EQ(sink.data(), pcm.mid(40 * 4));
    EXPECT_FALSE(source.Seek(101));
}

TEST(AudioFramework, RunCompletesWithProgressThenDoneOnTheMainThread)
{
    const QByteArray pcm = Ramp(20000);
    MemoryFileIn source(pcm, 16, 2, 44100);
    MemorySink sink;
    sink.blockSize = 4000;
    sink.SetInput(&source);
    Recorder recorder;
    recorder.attach(sink);
    sink.Run();
    ASSERT_TRUE(WaitFor([&] { return recorder.done == 1; }));
    EXPECT_EQ(sink.data(), pcm);
    EXPECT_GT(recorder.progress, 0);
    EXPECT_EQ(recorder.events.back(), "done");
    EXPECT_FALSE(recorder.offMainThread);
    EXPECT_FALSE(sink.Busy);
    EXPECT_EQ(sink.Status(), 2);
    EXPECT_EQ(sink.dones, 1);

    // A second run over the same chain starts from the beginning again.
    sink.Run();
    ASSERT_TRUE(WaitFor([&] { return recorder.done == 2; }));
    EXPECT_EQ(sink.data(), pcm);
}

TEST(AudioFramework, RunTwiceAndRunWithoutInput)
{
    MemorySink lonely;
    try {
        lonely.Run();
        FAIL() << "no exception";
    } catch (const EAuException &e) {
        EXPECT_EQ(e.message(), "Input is not assigned");
    }
    EXPECT_FALSE(lonely.Busy);

    ChunkedSource endless(4096);
    endless.Size = -1;
    MemorySink sink;
    sink.SetInput(&endless);
    sink.Run();
    try {
        sink.Run();
        FAIL() << "no exception";
    } catch (const EAuException &e) {
        EXPECT_EQ(e.message(), "Component is Busy");
    }
    sink.Stop(false);
    EXPECT_FALSE(sink.Busy);
}

TEST(AudioFramework, SynchronousStopDeliversNothingMore)
{
    const QByteArray pcm = Ramp(100000);
    MemoryFileIn source(pcm, 16, 2, 44100);
    MemorySink sink;
    sink.blockSize = 400; // 1000 blocks: the progress changes at every tenth
    sink.SetInput(&source);
    Recorder recorder;
    recorder.attach(sink);
    sink.Run();
    // The dispatcher waits for this thread with the first progress event while the rest pile up.
    ASSERT_TRUE(SpinWithoutEvents([&] { return sink.blocks > 300; }));
    sink.Stop(false);
    EXPECT_FALSE(sink.Busy);
    EXPECT_EQ(recorder.progress, 0);
    QCoreApplication::processEvents();
    CheckSynchronize();
    EXPECT_EQ(recorder.progress, 0);
    EXPECT_EQ(recorder.done, 0);
    EXPECT_EQ(sink.Status(), 2);
}

TEST(AudioFramework, AsynchronousStopGivesExactlyOneDone)
{
    ChunkedSource endless(4096);
    endless.Size = -1;
    MemorySink sink;
    sink.SetInput(&endless);
    Recorder recorder;
    recorder.attach(sink);
    sink.Run();
    ASSERT_TRUE(WaitFor([&] { return sink.blocks > 5; }));
    sink.Stop(true);
    ASSERT_TRUE(WaitFor([&] { return recorder.done == 1; }));
    EXPECT_FALSE(sink.Busy);
    EXPECT_FALSE(sink.Stopped);
    // Run once more and stop it the same way: again one done, so nothing was left over.
    sink.Run();
    ASSERT_TRUE(WaitFor([&] { return sink.Busy && sink.blocks > 10; }));
    sink.Stop(true);
    ASSERT_TRUE(WaitFor([&] { return recorder.done == 2; }));
    EXPECT_EQ(recorder.events.back(), "done");
}

TEST(AudioFramework, ExceptionInARunIsReportedThenTheRunEnds)
{
    const QByteArray pcm = Ramp(50000);
    MemoryFileIn source(pcm, 16, 2, 44100);
    MemorySink sink;
    sink.blockSize = 1000;
    sink.SetInput(&source);
    Recorder recorder;
    recorder.attach(sink);
    sink.onBlock = [&] {
        if (sink.blocks == 3)
            throw EAuException("Disk full");
    };
    sink.Run();
    ASSERT_TRUE(WaitFor([&] { return recorder.done == 1; }));
    EXPECT_EQ(recorder.exceptions, 1);
    EXPECT_EQ(recorder.messageAtException, "Disk full");
    EXPECT_EQ(recorder.messageAtDone, "Disk full");
    const auto exception = std::find(recorder.events.begin(), recorder.events.end(), "exception");
    ASSERT_NE(exception, recorder.events.end());
    EXPECT_EQ(recorder.events.back(), "done");
    EXPECT_EQ(sink.ExceptionMessage(), "Disk full");
    EXPECT_EQ(sink.dones, 1); // wound up as usual
    EXPECT_FALSE(source.Busy);

    sink.onBlock = nullptr;
    sink.Run();
    EXPECT_EQ(sink.ExceptionMessage(), "");
    ASSERT_TRUE(WaitFor([&] { return recorder.done == 2; }));
    EXPECT_EQ(sink.data(), pcm);

    // The end of a run fails (its last write): said, not taken for done.
    sink.onDone = [] { throw EAuException("No space left on device"); };
    sink.Run();
    ASSERT_TRUE(WaitFor([&] { return recorder.done == 3; }));
    EXPECT_EQ(recorder.exceptions, 2);
    EXPECT_EQ(recorder.messageAtDone, "No space left on device");
}

TEST(AudioFramework, SynchronousStopWhileTheWorkerWaitsForTheMainThread)
{
    ChunkedSource endless(4096);
    endless.Size = -1;
    MemorySink sink;
    sink.SetInput(&endless);
    std::atomic<int> calls{0};
    std::atomic<bool> waiting{false};
    sink.onBlock = [&] {
        waiting = true;
        Synchronize([&] { ++calls; });
    };
    sink.Run();
    ASSERT_TRUE(SpinWithoutEvents([&] { return waiting.load(); }));
    // The worker now waits in Synchronize for this thread; the stop must run that call, not hang.
    sink.Stop(false);
    EXPECT_FALSE(sink.Busy);
    EXPECT_GE(calls, 1);
}

TEST(AudioFramework, PauseAndResume)
{
    ChunkedSource endless(4096);
    endless.Size = -1;
    MemorySink sink;
    sink.SetInput(&endless);
    EXPECT_NO_THROW(sink.Pause()); // idle: nothing happens
    sink.Run();
    ASSERT_TRUE(WaitFor([&] { return sink.blocks > 2; }));
    sink.Pause();
    EXPECT_EQ(sink.Status(), 1);
    const int blocks = sink.blocks;
    EXPECT_EQ(sink.blocks, blocks);
    sink.Resume();
    EXPECT_EQ(sink.Status(), 0);
    ASSERT_TRUE(WaitFor([&] { return sink.blocks > blocks + 2; }));
    sink.Pause();
    sink.Stop(false); // a paused run can be stopped
    EXPECT_EQ(sink.Status(), 2);

    MemorySink noInput;
    try {
        noInput.Pause();
        FAIL() << "no exception";
    } catch (const EAuException &e) {
        EXPECT_EQ(e.message(), "Input is not assigned.");
    }
}

TEST(AudioFramework, ChangingTheInputOfARunningSink)
{
    ChunkedSource first(4096);
    first.Size = -1;
    const QByteArray pcm = Ramp(3000);
    MemoryFileIn second(pcm, 16, 2, 44100);
    MemorySink sink;
    sink.SetInput(&first);
    Recorder recorder;
    recorder.attach(sink);
    sink.Run();
    ASSERT_TRUE(WaitFor([&] { return sink.blocks > 2; }));
    sink.SetInput(&second);
    ASSERT_TRUE(WaitFor([&] { return recorder.done == 1; }));
    EXPECT_EQ(sink.data(), pcm);
    EXPECT_FALSE(first.Busy);
}

TEST(AudioFramework, DestroyedInputIsForgotten)
{
    TStereoBalance balance;
    MemorySink sink;
    {
        ChunkedSource source(16);
        balance.SetInput(&source);
        sink.SetInput(&source);
        EXPECT_EQ(balance.Input(), &source);
    }
    EXPECT_EQ(balance.Input(), nullptr);
    EXPECT_EQ(sink.Input(), nullptr);
    balance.SetInput(&balance);
    EXPECT_EQ(balance.Input(), nullptr);
}

TEST(AudioFramework, FileSourceStates)
{
    MemoryFileIn source(Ramp(10), 16, 2, 44100);
    source.SetFileName(QString());
    try {
        source.Init();
        FAIL() << "no exception";
    } catch (const EAuException &e) {
        EXPECT_EQ(e.message(), "The file name is not assigned");
    }
    source.SetFileName("memory");
    source.Init();
    try {
        source.Init();
        FAIL() << "no exception";
    } catch (const EAuException &e) {
        EXPECT_EQ(e.message(), "The component is Busy");
    }
    EXPECT_EQ(source.GetTotalSamples(), 10);
    EXPECT_TRUE(source.TryOpen());
    source.Reset();
    EXPECT_FALSE(source.Busy);
    EXPECT_EQ(source.OpenCount, 0);
}

class FileStreamTest : public ::testing::Test {
protected:
    TestHome home;
    QString path = home.root() + "/stream.bin";
};

TEST_F(FileStreamTest, CreateLocksTheFileForItself)
{
    {
        TAuFileStream writer(path, TAuFileStream::fmCreate);
        EXPECT_EQ(writer.write("abc"), 3);
        writer.flush();
        EXPECT_TRUE(FileInUse(path));
        try {
            TAuFileStream other(path, TAuFileStream::fmOpenRead | TAuFileStream::fmShareDenyWrite);
            FAIL() << "opened a file someone writes";
        } catch (const EAuException &e) {
            EXPECT_EQ(e.message(), "The file is being used by another process");
        }
        // Creating it anew meanwhile must not empty it.
        EXPECT_THROW(TAuFileStream(path, TAuFileStream::fmCreate), EAuException);
        EXPECT_EQ(ReadFileBytes(path), "abc");
    }
    EXPECT_FALSE(FileInUse(path));
}

TEST_F(FileStreamTest, ReadersShareWritersDoNot)
{
    WriteFileText(path, "data");
    TAuFileStream a(path, TAuFileStream::fmOpenRead | TAuFileStream::fmShareDenyWrite);
    TAuFileStream b(path, TAuFileStream::fmOpenRead | TAuFileStream::fmShareDenyWrite);
    EXPECT_EQ(b.readAll(), "data");
    EXPECT_THROW(TAuFileStream(path, TAuFileStream::fmOpenReadWrite | TAuFileStream::fmShareExclusive),
                 EAuException);
    TAuFileStream c(path, TAuFileStream::fmOpenRead | TAuFileStream::fmShareDenyNone);
    EXPECT_EQ(c.readAll(), "data");
}

TEST_F(FileStreamTest, FailedOpenGivesTheSystemsText)
{
    try {
        TAuFileStream missing(home.root() + "/missing.wav", TAuFileStream::fmOpenRead);
        FAIL() << "opened a missing file";
    } catch (const EAuException &e) {
        EXPECT_EQ(e.message(), "No such file or directory");
    }
    try {
        TAuFileStream nowhere(home.root() + "/no/such/folder.wav", TAuFileStream::fmCreate);
        FAIL() << "created a file in a missing folder";
    } catch (const EAuException &e) {
        EXPECT_EQ(e.message(), "No such file or directory");
    }
}

} // namespace

// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/encoderprocess.h"
#include "ui/createm3uform.h"
#include "ui/id3editform.h"
#include "ui/oggplayerform.h"
#include "ui/optionsetform.h"
#include "ui/recordform.h"
#include "ui/resampleform.h"
#include "ui/ripform.h"
#include "mainwindow/mainform.h"
#include "shell/folders.h"
#include "shell/settings.h"
#include "ui/singleinstance.h"
#include "shell/termination.h"

#include <QApplication>
#include <QFile>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// For scripts and packagers, answered without a display: usage, the version, and the manual that Help opens
// (found relative to the program). -1 when the arguments ask for the window.
int answerWithoutDisplay(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("usage: sondrel [--version | --help | --manual-path]\n\n"
                        "Opens the Sondrel window: rip audio CDs, convert, tag, play and record sound.\n"
                        "  --version      the version and the licence\n"
                        "  --manual-path  where the manual that Help opens is\n"
                        "sondrel-cli does the same work from the command line (sondrel-cli --help).\n");
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("sondrel %s\n%s\n", SONDREL_VERSION, SONDREL_LICENCE_TEXT);
            return 0;
        }
        if (std::strcmp(argv[i], "--manual-path") == 0) {
            const QCoreApplication core(argc, argv);
            std::printf(
                "%s\n",
                QFile::encodeName(ShippedFilePath(QStringLiteral("sondrel-manual.html"))).constData());
            return 0;
        }
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (const int code = answerWithoutDisplay(argc, argv); code >= 0)
        return code;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sondrel"));
    QApplication::setApplicationVersion(QStringLiteral(SONDREL_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.ombrel.Sondrel"));

    if (SingleInstance::notifyRunningInstance())
        return 0;

    SingleInstance instance;
    TMainForm mainForm;
    instance.setReceiver(&mainForm);

    // A termination signal or the end of the desktop session closes the main window the normal way, so the
    // titles and the settings are saved.
    OnTerminationSignal(&mainForm, [&mainForm] { mainForm.close(); });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &mainForm,
                     [&mainForm] { mainForm.FormClose(); });
    instance.listen();

    mainForm.show();
    // For the documentation: SONDREL_SCREENSHOT=FILE.png saves a picture of the window once it is up, then
    // ends.
    // SONDREL_SCREENSHOT_WINDOW names a tool window (createm3u, id3edit, resample, record, oggplayer,
    // options, rip) to picture instead.
    TMp3EncodeProcess screenshotMp3;
    TWMAEncodeProcess screenshotWma;
    const QString screenshot = qEnvironmentVariable("SONDREL_SCREENSHOT");
    std::unique_ptr<QWidget> tool;
    const QString window = qEnvironmentVariable("SONDREL_SCREENSHOT_WINDOW");
    if (window == QLatin1String("createm3u")) {
        auto *m3u = new TfrmCreateM3U(&mainForm);
        m3u->AddFiles({QStringLiteral("/music/Band - Album/01 Opening.mp3"),
                       QStringLiteral("/music/Band - Album/02 Second.mp3")});
        tool.reset(m3u);
    } else if (window == QLatin1String("id3edit")) {
        tool = std::make_unique<TfrmID3Edit>(&mainForm);
    } else if (window == QLatin1String("resample")) {
        tool = std::make_unique<TfrmResample>(&mainForm);
    } else if (window == QLatin1String("record")) {
        tool = std::make_unique<TfrmRecord>(&mainForm, &mainForm);
    } else if (window == QLatin1String("oggplayer")) {
        tool = std::make_unique<TfrmOggPlayer>(&mainForm);
    } else if (window == QLatin1String("options")) {
        tool = std::make_unique<TOptionSetForm>(mainForm, &mainForm);
    } else if (window == QLatin1String("rip")) { // the job window, a rip of the disc under way
        tool = std::make_unique<TRipForm>(&mainForm, JobKind::ExtractTracks, mainForm.Session.DriveHandle,
                                          mainForm.JobList(), AppSettings.CommonOptions.OutputFolder,
                                          screenshotMp3, screenshotWma);
    }
    if (!screenshot.isEmpty()) {
        if (tool)
            tool->show();
        QWidget *shown = tool ? tool.get() : static_cast<QWidget *>(&mainForm);
        QTimer::singleShot(1500, &mainForm, [&mainForm, shown, screenshot] {
            shown->grab().save(screenshot);
            mainForm.close();
        });
    }
    return app.exec();
}

// SPDX-License-Identifier: GPL-3.0-or-later
// The program's window ripping a whole disc: the main window opened on the first drive or disc image, every
// track checked, Extract pressed and the job window run to its end. Prints the seconds the rip took, the
// longest time the window's thread went without handling its events (a timer asks for a tick every
// millisecond), in milliseconds, and the milliseconds from the window's making to its disc shown. Settings
// come from the usual folders; a message box that opens is answered with its default button and said on
// standard error.
//   bench_window
#include "mainwindow/mainform.h"
#include "stallclock.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QElapsedTimer opening;
    opening.start();
    TMainForm form;
    form.show();
    form.FormActivate();
    const qint64 toDisc = opening.elapsed();
    const TStallClock stalls([] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            std::fprintf(stderr, "%s\n", qPrintable(box->text()));
            QAbstractButton *button = box->defaultButton();
            if (!button)
                button = box->buttons().value(0);
            if (button)
                button->click();
        }
    });
    form.ActionExtractExecute();
    std::printf("%.3f %lld %lld\n", double(stalls.Elapsed()) / 1000.0,
                static_cast<long long>(stalls.Longest()), static_cast<long long>(toDisc));
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "nodevicehint.h"

#include "ui/applylanguage.h"
#include "shell/folders.h"
#include "shell/settings.h"

#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

TfrmNoDeviceHint::TfrmNoDeviceHint(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmNoDeviceHint"));
    setWindowTitle(QStringLiteral("Sondrel"));
    auto *layout = new QVBoxLayout(this);
    const auto line = [this, layout](const char *name, const QString &text) {
        // The lines are the sentences as they run on: each stays one line, the window as wide as they need.
        auto *label = new QLabel(text, this);
        label->setObjectName(QLatin1String(name));
        layout->addWidget(label);
        return label;
    };
    line("Label1",
         QStringLiteral("The Software couldn't find CD devices.Please check the following problems:"));
    line("Label2",
         QStringLiteral("1.CD devices are locked by another application.Such as a CD player or a "));
    line("Label3", QStringLiteral("multimedia player or other CD ripper software."));
    line("Label4",
         QStringLiteral("2.Your right permissions: your user must be allowed to read the CD device "));
    line("Label5",
         QStringLiteral("(on most systems: a member of the cdrom group; log in again after joining it)."));
    line("Label6",
         QStringLiteral(
             "3.No drive at all: a disc image (CUE/BIN, TOC or NRG) in the \"Disc images\" folder"));
    QLabel *link = line(
        "Label7", QStringLiteral("serves as a drive too. <a href=\"https://www.gnu.org/software/libcdio/\">"
                                 "About CD access on this system</a>"));
    link->setTextFormat(Qt::RichText);
    connect(link, &QLabel::linkActivated, this,
            [](const QString &url) { QDesktopServices::openUrl(QUrl(url)); });
    // Where that folder is, to open.
    const QString images = QDir::toNativeSeparators(DataFolder() + QStringLiteral("Disc images"));
    QLabel *folder =
        line("lImagesFolder", QStringLiteral("<a href=\"%1\">%2</a>")
                                  .arg(QUrl::fromLocalFile(images).toString(), images.toHtmlEscaped()));
    KeepUntranslated(folder);
    folder->setTextFormat(Qt::RichText);
    folder->setTextInteractionFlags(Qt::TextBrowserInteraction);
    connect(folder, &QLabel::linkActivated, this, [images](const QString &) {
        QDir().mkpath(images);
        QDesktopServices::openUrl(QUrl::fromLocalFile(images));
    });
    auto *close = new QPushButton(QStringLiteral("&Close"), this);
    close->setObjectName(QStringLiteral("btClose"));
    layout->addWidget(close, 0, Qt::AlignRight);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

void TfrmNoDeviceHint::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!IsEnglish(AppSettings.Lan))
        ApplyLanguage(this, AppSettings.Lan);
}

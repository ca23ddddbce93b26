// SPDX-License-Identifier: GPL-3.0-or-later
#include "about.h"

#include "ui/applylanguage.h"
#include "shell/settings.h"

#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

TfrmAbout::TfrmAbout(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Sondrel"));
    auto *layout = new QVBoxLayout(this);
    auto *icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_DriveCDIcon).pixmap(48, 48));
    layout->addWidget(icon, 0, Qt::AlignCenter);
    auto *name = new QLabel(QStringLiteral("<b>Sondrel " SONDREL_VERSION "</b>"), this);
    name->setObjectName(QStringLiteral("lbProduct"));
    KeepUntranslated(name);
    layout->addWidget(name, 0, Qt::AlignCenter);
    auto *what = new QLabel(QStringLiteral("CD ripper and audio toolbox"), this);
    what->setObjectName(QStringLiteral("lbDescription"));
    layout->addWidget(what, 0, Qt::AlignCenter);
    auto *licence = new QLabel(QStringLiteral(SONDREL_LICENCE_TEXT), this);
    licence->setObjectName(QStringLiteral("lbLicence"));
    KeepUntranslated(licence);
    licence->setWordWrap(true);
    layout->addWidget(licence, 0, Qt::AlignCenter);
    auto *ok = new QPushButton(QStringLiteral("&OK"), this);
    ok->setObjectName(QStringLiteral("btOK"));
    layout->addWidget(ok, 0, Qt::AlignCenter);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

void TfrmAbout::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!IsEnglish(AppSettings.Lan))
        ApplyLanguage(this, AppSettings.Lan);
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "edittrackname.h"

#include "ui/applylanguage.h"
#include "shell/settings.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TfrmEditTrackName::TfrmEditTrackName(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmEditTrackName"));
    setWindowTitle(QStringLiteral("Rename Track Title"));
    auto *layout = new QVBoxLayout(this);
    auto *group = new QGroupBox(QStringLiteral("Please enter the new track title"), this);
    group->setObjectName(QStringLiteral("GroupBox1"));
    auto *groupLayout = new QVBoxLayout(group);
    eName = new QLineEdit(group);
    eName->setObjectName(QStringLiteral("eName"));
    groupLayout->addWidget(eName);
    layout->addWidget(group);
    auto *buttons = new QHBoxLayout;
    btOK = new QPushButton(QStringLiteral("&OK"), this);
    btOK->setObjectName(QStringLiteral("btOK"));
    btOK->setDefault(true);
    btCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    btCancel->setObjectName(QStringLiteral("btCancel"));
    buttons->addStretch();
    buttons->addWidget(btOK);
    buttons->addWidget(btCancel);
    layout->addLayout(buttons);
    connect(btOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(eName, &QLineEdit::textChanged, this,
            [this](const QString &t) { btOK->setEnabled(!t.isEmpty()); });
    connect(eName, &QLineEdit::returnPressed, this, [this] {
        if (btOK->isEnabled())
            accept();
    });
}

void TfrmEditTrackName::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    btOK->setEnabled(!eName->text().isEmpty());
    eName->selectAll();
    eName->setFocus();
    if (!IsEnglish(AppSettings.Lan))
        ApplyLanguage(this, AppSettings.Lan);
}

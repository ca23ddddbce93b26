// SPDX-License-Identifier: GPL-3.0-or-later
#include "createm3uform.h"

#include "jobs/m3uplaylist.h"
#include "shell/helpers.h"
#include "shell/localizedtext.h"
#include "shell/settings.h"
#include "shell/userprompt.h"
#include "toolbuttons.h"
#include "ui/applylanguage.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const QString productName = QStringLiteral("Sondrel");

} // namespace

TfrmCreateM3U::TfrmCreateM3U(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmCreateM3U"));
    setWindowTitle(QStringLiteral("Create Playlist"));
    resize(560, 380);
    auto *layout = new QHBoxLayout(this);
    auto *left = new QVBoxLayout;
    lvMain = new QTreeWidget(this);
    lvMain->setObjectName(QStringLiteral("lvMain"));
    lvMain->setRootIsDecorated(false);
    lvMain->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvMain->setSelectionMode(QAbstractItemView::SingleSelection);
    lvMain->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvMain->setSortingEnabled(false);
    lvMain->setHeaderLabels({QStringLiteral("Filename"), QStringLiteral("Path")});
    lvMain->header()->setStretchLastSection(true);
    lvMain->setColumnWidth(0, 200);
    left->addWidget(lvMain);
    auto *mode = new QGroupBox(this);
    mode->setObjectName(QStringLiteral("GroupBox1"));
    auto *modeLayout = new QHBoxLayout(mode);
    RadioButton1 = new QRadioButton(QStringLiteral("Use absolute path"), mode);
    RadioButton1->setObjectName(QStringLiteral("RadioButton1"));
    RadioButton1->setChecked(true);
    RadioButton2 = new QRadioButton(QStringLiteral("Use relative path"), mode);
    RadioButton2->setObjectName(QStringLiteral("RadioButton2"));
    modeLayout->addWidget(RadioButton1);
    modeLayout->addWidget(RadioButton2);
    left->addWidget(mode);
    layout->addLayout(left, 1);

    auto *buttons = new QVBoxLayout;
    const auto button = [this, buttons](const char *name, const QString &text) {
        return AddToolButton(this, buttons, name, text);
    };
    bAddtoList = button("bAddtoList", QStringLiteral("Add Files"));
    bDeleteItem = button("bDeleteItem", QStringLiteral("Delete Item"));
    bUpItem = button("bUpItem", QStringLiteral("Up Item"));
    bDownItem = button("bDownItem", QStringLiteral("Down Item"));
    buttons->addSpacing(16);
    bCreatePlaylist = button("bCreatePlaylist", QStringLiteral("Create Playlist"));
    bOpenFolder = button("bOpenFolder", QStringLiteral("Open Folder"));
    buttons->addStretch();
    bClose = button("bClose", QStringLiteral("Close"));
    layout->addLayout(buttons);

    connect(bAddtoList, &QPushButton::clicked, this, &TfrmCreateM3U::bAddtoListClick);
    connect(bDeleteItem, &QPushButton::clicked, this, &TfrmCreateM3U::bDeleteItemClick);
    connect(bUpItem, &QPushButton::clicked, this, &TfrmCreateM3U::bUpItemClick);
    connect(bDownItem, &QPushButton::clicked, this, &TfrmCreateM3U::bDownItemClick);
    connect(bCreatePlaylist, &QPushButton::clicked, this, &TfrmCreateM3U::bCreatePlaylistClick);
    connect(bOpenFolder, &QPushButton::clicked, this, &TfrmCreateM3U::bOpenFolderClick);
    connect(bClose, &QPushButton::clicked, this, &QDialog::reject); // modal result Cancel
}

void TfrmCreateM3U::showEvent(QShowEvent *event)
{
    if (!IsEnglish(AppSettings.Lan))
        ApplyLanguage(this, AppSettings.Lan);
    QDialog::showEvent(event);
}

QStringList TfrmCreateM3U::Files() const
{
    QStringList files;
    for (int i = 0; i < lvMain->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *row = lvMain->topLevelItem(i);
        files << row->text(1) + row->text(0);
    }
    return files;
}

void TfrmCreateM3U::AddFiles(const QStringList &files)
{
    for (const QString &file : files) {
        const QFileInfo info(file);
        auto *row = new QTreeWidgetItem(lvMain);
        row->setText(0, info.fileName());
        row->setText(1, WithTrailingBackslash(info.absolutePath()));
    }
}

void TfrmCreateM3U::bAddtoListClick()
{
    AddFiles(QFileDialog::getOpenFileNames(this, QString(), QString(),
                                           QStringLiteral("MP3 file(*.mp3);; Any file(*.*)")));
}

void TfrmCreateM3U::bDeleteItemClick()
{
    QTreeWidgetItem *row = lvMain->currentItem();
    if (!row || !row->isSelected())
        return;
    const int index = lvMain->indexOfTopLevelItem(row);
    delete row;
    const int count = lvMain->topLevelItemCount();
    if (count == 0)
        return;
    // The row now at the same place, or the first when the last was deleted.
    lvMain->setCurrentItem(lvMain->topLevelItem(index < count ? index : 0));
}

void TfrmCreateM3U::swapRows(int a, int b)
{
    QTreeWidgetItem *first = lvMain->topLevelItem(a);
    QTreeWidgetItem *second = lvMain->topLevelItem(b);
    for (int column = 0; column < 2; ++column) {
        const QString text = first->text(column);
        first->setText(column, second->text(column));
        second->setText(column, text);
    }
    lvMain->setCurrentItem(second);
}

void TfrmCreateM3U::bUpItemClick()
{
    QTreeWidgetItem *row = lvMain->currentItem();
    const int index = row && row->isSelected() ? lvMain->indexOfTopLevelItem(row) : -1;
    if (index > 0)
        swapRows(index, index - 1);
}

void TfrmCreateM3U::bDownItemClick()
{
    QTreeWidgetItem *row = lvMain->currentItem();
    const int index = row && row->isSelected() ? lvMain->indexOfTopLevelItem(row) : -1;
    if (index >= 0 && index < lvMain->topLevelItemCount() - 1)
        swapRows(index, index + 1);
}

bool TfrmCreateM3U::CreatePlaylistAt(const QString &fileName)
{
    const QString path = M3uPlaylistName(fileName);
    if (QFileInfo::exists(path) &&
        QMessageBox::question(this, productName, ReplaceQuestion(path), QMessageBox::Yes | QMessageBox::No) !=
            QMessageBox::Yes)
        return false;
    m_playlistFolder = WithTrailingBackslash(QFileInfo(path).absolutePath());
    if (const auto written = WriteM3u(path, M3uLines(Files(), path, RadioButton2->isChecked())); !written) {
        QMessageBox::critical(this, productName, written.Error());
        return false;
    }
    return true;
}

void TfrmCreateM3U::bCreatePlaylistClick()
{
    // "The same drive": the same file system here.
    if (!M3uSameFileSystem(Files())) {
        QMessageBox::information(this, productName,
                                 QStringLiteral("The files in the list should be on the same drive."));
        return;
    }
    const QString name = QFileDialog::getSaveFileName(this, QStringLiteral("Save As"), QString(),
                                                      QStringLiteral("M3U Files (*.m3u)"), nullptr,
                                                      QFileDialog::DontConfirmOverwrite);
    if (!name.isEmpty())
        CreatePlaylistAt(name);
}

void TfrmCreateM3U::bOpenFolderClick()
{
    if (!m_playlistFolder.isEmpty() && QFileInfo(m_playlistFolder).isDir()) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(m_playlistFolder));
        return;
    }
    QMessageBox::critical(this, productName, QStringLiteral("Directory_Not_Exist,") + m_playlistFolder);
}

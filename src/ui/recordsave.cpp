// SPDX-License-Identifier: GPL-3.0-or-later
// The sound recorder window: saving the recording (under its name or another, as WAV and MP3), and undo.
#include "recordform.h"
#include "shell/folders.h"
#include "shell/helpers.h"
#include "shell/localizedtext.h"
#include "shell/settings.h"
#include "shell/userprompt.h"
#include "toolbuttons.h"
#include "ui/applylanguage.h"

#include <QAction>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

bool TfrmRecord::SaveQuestion(bool asking)
{
    if (CurrentFile.isEmpty())
        return true;
    if (MediaButtons[btStop]->isEnabled())
        MediaPlayer1Click(btStop);
    const bool unnamed = CurrentFile == UnnamedFile;
    if (!Modified && !(unnamed && !asking))
        return true;
    if (Modified && asking) {
        const QString name = unnamed ? LocalizedText("RES_NoNameStr", "NoName") : CurrentFile;
        const auto answer =
            QMessageBox::information(this, QStringLiteral("Sondrel"),
                                     name + LocalizedText("RES_Have_Modify", " has been modified,Save it?"),
                                     QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        if (answer != QMessageBox::Yes && answer != QMessageBox::No)
            return false;
        if (answer == QMessageBox::No) {
            Modified = false;
            UpdateActions();
            return true;
        }
    }
    if (unnamed)
        return SaveUnnamed();
    QString error;
    if (!CopyFileAtomically(WorkingCopy, CurrentFile, &error)) {
        failed("RES_Save_Fail", "Error when saving WAV file,please check if the file is being uesd.", error);
        return false;
    }
    ConvertToMp3();
    Modified = false;
    UpdateActions();
    return true;
}

QString TfrmRecord::ChooseSaveTarget()
{
    QString target = AskSaveFileName();
    if (target.isEmpty())
        return QString();
    if (QFileInfo(target).suffix().isEmpty())
        target += QStringLiteral(".wav");
    if (QFileInfo(target).suffix().toLower() != QStringLiteral("wav")) {
        message(LocalizedText("RES_Wav_File", "The save file should be WAV!"), QMessageBox::Information);
        return QString();
    }
    if (QFileInfo::exists(target) && !question(ReplaceQuestion(target)))
        return QString();
    return target;
}

bool TfrmRecord::SaveUnnamed()
{
    const QString target = ChooseSaveTarget();
    if (target.isEmpty())
        return false;
    // An old file under the name is replaced by the move itself, so it stays when the move fails.
    CloseDevice();
    QFile::remove(WorkingCopy);
    QString error;
    if (!MoveFile(UnnamedFile, target, &error)) {
        // The recording stays the unnamed file, still open.
        OpenDevice(UnnamedFile);
        failed("RES_Save_Fail", "Error when saving WAV file,please check if the file is being uesd.", error);
        return false;
    }
    LoadNamedFile(target);
    ConvertToMp3();
    Modified = false;
    UpdateActions();
    return true;
}

void TfrmRecord::actSaveExecute()
{
    SaveQuestion(false);
}

void TfrmRecord::actSaveAsExecute()
{
    if (CurrentFile.isEmpty())
        return;
    if (MediaButtons[btStop]->isEnabled())
        MediaPlayer1Click(btStop);
    const QString target = ChooseSaveTarget();
    if (target.isEmpty())
        return;
    const bool unnamed = CurrentFile == UnnamedFile;
    CloseDevice();
    QString error;
    const bool saved =
        unnamed ? MoveFile(UnnamedFile, target, &error) : CopyFileAtomically(WorkingCopy, target, &error);
    if (!saved) {
        OpenDevice(DeviceFile());
        failed("RES_Save_Fail", "Error when saving WAV file,please check if the file is being uesd.", error);
        return;
    }
    CurrentFile = target;
    ConvertToMp3();
    LoadNamedFile(target);
}

void TfrmRecord::actUndoExecute()
{
    if (!question(LocalizedText("RES_Discard_Modify", "Discard the modification since last save file.")))
        return;
    LoadNamedFile(CurrentFile);
    lbPosition->setText(lbLength->text());
}

void TfrmRecord::ConvertToMp3()
{
    if (!miSaveMp3->isChecked() || CurrentFile.isEmpty())
        return;
    if (!m_host || !m_host->HasDriveHandle()) {
        message(LocalizedText("RES_Get_CDHandle", "Please access CD devices rightly above all!"),
                QMessageBox::Information);
        // Closed once the save in progress has finished.
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    }
    const QFileInfo info(CurrentFile);
    const QString target = info.dir().filePath(info.completeBaseName() + QStringLiteral(".mp3"));
    if (!Converted && QFileInfo::exists(target) && !question(ReplaceQuestion(target)))
        return;
    if (QFileInfo::exists(target) && FileInUse(target)) {
        message(target + LocalizedText("RES_File_Cannot_Create", " maybe be used!"), QMessageBox::Critical);
        return;
    }
    Converted = true;
    AppSettings.CommonOptions.OutputFormat = 0;
    m_host->ConvertRecording(CurrentFile);
}

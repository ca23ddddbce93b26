// SPDX-License-Identifier: GPL-3.0-or-later
#include "id3editform.h"

#include "shell/genres.h"
#include "shell/localizedtext.h"
#include "shell/outputformats.h"
#include "shell/settings.h"
#include "toolbuttons.h"
#include "ui/applylanguage.h"

#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace {

const QString productName = QStringLiteral("Sondrel");
QString mp3Filter()
{
    return QStringLiteral("Audio files (%1 *.oga);;All files (*)").arg(OutputFormatPatterns());
}

// Texts of a tag field as the box shows them: up to the first NUL of the fixed-size field.
QString fieldText(const QString &text)
{
    const qsizetype nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}

} // namespace

TfrmID3Edit::TfrmID3Edit(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmID3Edit"));
    setWindowTitle(plainCaption());
    auto *layout = new QHBoxLayout(this);
    GroupBox1 = new QGroupBox(QStringLiteral("ID3 Tag"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    auto *form = new QFormLayout(GroupBox1);
    const auto edit = [this](const char *name, int length) {
        auto *e = new QLineEdit(GroupBox1);
        e->setObjectName(QLatin1String(name));
        e->setMaxLength(length);
        return e;
    };
    ID3title = edit("ID3title", 30);
    ID3artist = edit("ID3artist", 30);
    ID3album = edit("ID3album", 30);
    ID3comment = edit("ID3comment", 30);
    ID3year = edit("ID3year", 4);
    ID3track = edit("ID3track", 2);
    // Digits only; everything else typed is dropped.
    ID3track->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), ID3track));
    ID3genre = new QComboBox(GroupBox1);
    ID3genre->setObjectName(QStringLiteral("ID3genre"));
    KeepUntranslated(ID3genre);
    ID3genre->addItem(QString());
    ID3genre->addItems(GenreNames());
    form->addRow(QStringLiteral("Title:"), ID3title);
    form->addRow(QStringLiteral("Artist:"), ID3artist);
    form->addRow(QStringLiteral("Album:"), ID3album);
    form->addRow(QStringLiteral("Comment:"), ID3comment);
    form->addRow(QStringLiteral("Year:"), ID3year);
    form->addRow(QStringLiteral("Track #:"), ID3track);
    form->addRow(QStringLiteral("Genre:"), ID3genre);
    layout->addWidget(GroupBox1, 1);

    auto *buttons = new QVBoxLayout;
    const auto button = [this, buttons](const char *name, const QString &text) {
        return AddToolButton(this, buttons, name, text);
    };
    bLoadTag = button("bLoadTag", QStringLiteral("&Load Tag..."));
    bSaveTag = button("bSaveTag", QStringLiteral("&Save Tag"));
    bSaveAS = button("bSaveAS", QStringLiteral("&Save As..."));
    bRemoveTag = button("bRemoveTag", QStringLiteral("&Remove Tag"));
    buttons->addStretch();
    bClose = button("bClose", QStringLiteral("&Close"));
    layout->addLayout(buttons);

    aSaveTag = new QAction(QStringLiteral("&Save Tag"), this);
    aSaveTag->setObjectName(QStringLiteral("aSaveTag"));
    aRemoveTag = new QAction(QStringLiteral("&Remove Tag"), this);
    aRemoveTag->setObjectName(QStringLiteral("aRemoveTag"));
    connect(aSaveTag, &QAction::triggered, this, &TfrmID3Edit::aSaveTagExecute);
    connect(aRemoveTag, &QAction::triggered, this, &TfrmID3Edit::aRemoveTagExecute);
    connect(bSaveTag, &QPushButton::clicked, aSaveTag, &QAction::trigger);
    connect(bRemoveTag, &QPushButton::clicked, aRemoveTag, &QAction::trigger);
    connect(aSaveTag, &QAction::changed, this, [this] { bSaveTag->setEnabled(aSaveTag->isEnabled()); });
    connect(aRemoveTag, &QAction::changed, this, [this] { bRemoveTag->setEnabled(aRemoveTag->isEnabled()); });
    connect(bLoadTag, &QPushButton::clicked, this, &TfrmID3Edit::bLoadTagClick);
    connect(bSaveAS, &QPushButton::clicked, this, &TfrmID3Edit::bSaveASClick);
    connect(bClose, &QPushButton::clicked, this, &QDialog::reject);
    // The actions follow the caption, the mark of a loaded file.
    connect(this, &QWidget::windowTitleChanged, this, &TfrmID3Edit::aSaveTagUpdate);
    aSaveTagUpdate();
    NameRowLabels(this);
    // Not resizable, and always as large as its words need, in whichever language they come.
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString TfrmID3Edit::plainCaption() const
{
    return LocalizedText(QStringLiteral("RES_ID3Edit_Caption"), QStringLiteral("ID3 Tag Edit"));
}

void TfrmID3Edit::showEvent(QShowEvent *event)
{
    if (!IsEnglish(AppSettings.Lan))
        ApplyLanguage(this, AppSettings.Lan);
    QDialog::showEvent(event);
}

void TfrmID3Edit::aSaveTagUpdate()
{
    const bool loaded = windowTitle() != plainCaption();
    aSaveTag->setEnabled(loaded);
    aRemoveTag->setEnabled(loaded);
}

void TfrmID3Edit::setLoaded(const QString &path)
{
    const QString kind = m_format == TFileFormat::Mp3
                             ? QString()
                             : QStringLiteral(" (") + TagFormatName(m_format) + QLatin1Char(')');
    setWindowTitle(path + kind + QStringLiteral(": ") + plainCaption());
}

void TfrmID3Edit::limitFields(TFileFormat format)
{
    const bool mp3 = format == TFileFormat::Mp3;
    for (QLineEdit *e : {ID3title, ID3artist, ID3album, ID3comment})
        e->setMaxLength(mp3 ? 30 : 32767);
    ID3year->setMaxLength(mp3 ? 4 : 32);
    ID3track->setMaxLength(mp3 ? 2 : 3);
}

void TfrmID3Edit::clearFields()
{
    for (QLineEdit *e : {ID3title, ID3artist, ID3album, ID3year, ID3comment})
        e->clear();
    ID3genre->setCurrentIndex(-1);
    ID3track->setText(QStringLiteral("0"));
    m_shown = shownFields();
}

QStringList TfrmID3Edit::shownFields() const
{
    return {ID3title->text(),
            ID3artist->text(),
            ID3album->text(),
            ID3comment->text(),
            ID3year->text(),
            ID3track->text(),
            QString::number(ID3genre->currentIndex())};
}

void TfrmID3Edit::LoadTagFrom(const QString &path)
{
    TFileTags tags;
    QString error;
    if (!ReadFileTags(path, tags, &error)) {
        // A file that is not there, or no audio file: said, and nothing loaded.
        QMessageBox::information(this, productName, error);
        return;
    }
    m_format = tags.Format;
    limitFields(m_format);
    Tag.ReadTag(path); // the Part's own reading of the version 1 tag, which remembers the file
    ID3title->setText(fieldText(tags.Title));
    ID3artist->setText(fieldText(tags.Artist));
    ID3album->setText(fieldText(tags.Album));
    ID3year->setText(fieldText(tags.Year));
    ID3comment->setText(fieldText(tags.Comment));
    ID3genre->setCurrentIndex(tags.Genre.isEmpty() ? (tags.HasTag() ? 0 : -1) : GenreIndex(tags.Genre) + 1);
    ID3track->setText(QString::number(std::clamp(tags.Track, 0, m_format == TFileFormat::Mp3 ? 99 : 999)));
    m_shown = shownFields();
    // Save Tag then writes a tag even into a file without one.
    Tag.FileName = path;
    setLoaded(path);
}

void TfrmID3Edit::bLoadTagClick()
{
    const QString path = QFileDialog::getOpenFileName(this, QString(), QString(), mp3Filter());
    if (!path.isEmpty())
        LoadTagFrom(path);
}

void TfrmID3Edit::saveFailed(const QString &reason)
{
    const QString text =
        LocalizedText(QStringLiteral("RES_SaveTag_Error"), QStringLiteral("Could not save Tag!"));
    QMessageBox::information(this, productName,
                             reason.isEmpty() ? text : text + QStringLiteral("\n") + reason);
}

bool TfrmID3Edit::writeFields(const QString &path, bool all)
{
    const QStringList now = shownFields();
    const auto changed = [&](int field) { return all || now.value(field) != m_shown.value(field); };
    TTagEdit edit;
    if (changed(0))
        edit.Title = ID3title->text();
    if (changed(1))
        edit.Artist = ID3artist->text();
    if (changed(2))
        edit.Album = ID3album->text();
    if (changed(3))
        edit.Comment = ID3comment->text();
    if (changed(4))
        edit.Year = ID3year->text();
    if (changed(5))
        edit.Track = ID3track->text().toInt();
    if (changed(6))
        edit.Genre = GenreName(std::max(ID3genre->currentIndex(), 0));
    if (edit.Empty())
        return true;
    QString error;
    if (!EditFileTags(path, edit, &error)) {
        saveFailed(error);
        return false;
    }
    m_shown = now;
    return true;
}

void TfrmID3Edit::aSaveTagExecute()
{
    // A file without any tag gets every field; otherwise only what was changed.
    TFileTags tags;
    ReadFileTags(Tag.FileName, tags);
    writeFields(Tag.FileName, !tags.HasTag());
}

bool TfrmID3Edit::SaveTagAs(const QString &path)
{
    if (!writeFields(path, true))
        return false;
    m_format = TagFormatOf(path);
    limitFields(m_format);
    Tag.FileName = path;
    setLoaded(path);
    return true;
}

void TfrmID3Edit::bSaveASClick()
{
    const QString path = QFileDialog::getOpenFileName(this, QString(), QString(), mp3Filter());
    if (!path.isEmpty())
        SaveTagAs(path);
}

void TfrmID3Edit::aRemoveTagExecute()
{
    if (QMessageBox::question(this, productName,
                              LocalizedText(QStringLiteral("RES_Ask_RemoveTag"),
                                            QStringLiteral("Do you want to remove these tags?")),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return;
    QString error;
    if (!RemoveFileTags(Tag.FileName, &error))
        QMessageBox::information(this, productName, error);
    clearFields();
}

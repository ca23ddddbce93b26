#include "id3editform.h"

#include "shell/applylanguage.h"
#include "shell/genres.h"
#include "shell/localizedtext.h"
#include "shell/settings.h"
#include "tags/id3v2tag.h"
#include "toolbuttons.h"

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
const QString mp3Filter = QStringLiteral("Index files (*.mp3)");

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
    // The version 2 tag holds whole texts; the version 1 tag keeps their first 30 bytes.
    ID3title = edit("ID3title", 255);
    ID3artist = edit("ID3artist", 255);
    ID3album = edit("ID3album", 255);
    ID3comment = edit("ID3comment", 255);
    ID3year = edit("ID3year", 4);
    ID3track = edit("ID3track", 2);
    // Digits only; everything else typed is dropped.
    ID3track->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,2}")), ID3track));
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
    setFixedSize(sizeHint());
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
    setWindowTitle(path + QStringLiteral(": ") + plainCaption());
}

void TfrmID3Edit::clearFields()
{
    for (QLineEdit *e : {ID3title, ID3artist, ID3album, ID3year, ID3comment})
        e->clear();
    ID3genre->setCurrentIndex(-1);
    ID3track->setText(QStringLiteral("0"));
}

void TfrmID3Edit::LoadTagFrom(const QString &path)
{
    if (Tag.ReadTag(path) < 256) {
        ID3title->setText(fieldText(Tag.Title));
        ID3artist->setText(fieldText(Tag.Artist));
        ID3album->setText(fieldText(Tag.Album));
        ID3year->setText(fieldText(Tag.Year));
        ID3comment->setText(fieldText(Tag.Comment));
        ID3genre->setCurrentIndex(Tid3tag::Id3ToGenre(Tag.Genre));
        ID3track->setText(QString::number(Tag.Track));
    } else {
        clearFields();
    }
    // The version 2 tag, when there is one, says more and wins.
    m_v2 = TTrackTags();
    if (ReadId3v2Tag(path, m_v2)) {
        ID3title->setText(m_v2.Title);
        ID3artist->setText(m_v2.Artist);
        ID3album->setText(m_v2.Album);
        ID3year->setText(m_v2.Year.left(4));
        ID3comment->setText(m_v2.Comment);
        ID3genre->setCurrentIndex(m_v2.Genre.isEmpty() ? 0 : GenreIndex(m_v2.Genre) + 1);
        ID3track->setText(QString::number(std::clamp(m_v2.Track, 0, 99)));
    }
    // ReadTag remembers the file even without a tag: Save Tag then appends one.
    Tag.FileName = path;
    setLoaded(path);
}

void TfrmID3Edit::bLoadTagClick()
{
    const QString path = QFileDialog::getOpenFileName(this, QString(), QString(), mp3Filter);
    if (!path.isEmpty())
        LoadTagFrom(path);
}

void TfrmID3Edit::fieldsToTag()
{
    Tag.SetTitle(ID3title->text());
    Tag.SetArtist(ID3artist->text());
    Tag.SetAlbum(ID3album->text());
    Tag.SetYear(ID3year->text());
    Tag.SetComment(ID3comment->text());
    const int genre = ID3genre->currentIndex();
    Tag.Genre = genre < 0 ? uint8_t(255) : Tid3tag::GenreToId3(uint8_t(genre));
    if (!ID3track->text().isEmpty())
        Tag.SetTrack(uint8_t(ID3track->text().toInt()));
}

void TfrmID3Edit::saveFailed(const QString &reason)
{
    const QString text =
        LocalizedText(QStringLiteral("RES_SaveTag_Error"), QStringLiteral("Could not save Tag!"));
    QMessageBox::information(this, productName,
                             reason.isEmpty() ? text : text + QStringLiteral("\n") + reason);
}

bool TfrmID3Edit::writeVersion2(const QString &path)
{
    // The fields over what the version 2 tag held (its album artist and track total stay).
    TTrackTags tags = m_v2;
    tags.Title = ID3title->text();
    tags.Artist = ID3artist->text();
    tags.Album = ID3album->text();
    tags.Year = ID3year->text();
    tags.Comment = ID3comment->text();
    const int genre = ID3genre->currentIndex();
    tags.Genre = GenreName(genre);
    tags.Track = ID3track->text().toInt();
    QString error;
    if (!WriteId3v2Tag(path, tags, &error)) {
        saveFailed(error);
        return false;
    }
    m_v2 = tags;
    return true;
}

void TfrmID3Edit::aSaveTagExecute()
{
    fieldsToTag();
    if (Tag.WriteTag(QStringLiteral("=")) >= 256) {
        saveFailed();
        return;
    }
    writeVersion2(Tag.FileName);
}

bool TfrmID3Edit::SaveTagAs(const QString &path)
{
    fieldsToTag();
    if (Tag.WriteTag(path) >= 256) {
        saveFailed();
        return false;
    }
    if (!writeVersion2(path))
        return false;
    Tag.FileName = path;
    setLoaded(path);
    return true;
}

void TfrmID3Edit::bSaveASClick()
{
    const QString path = QFileDialog::getOpenFileName(this, QString(), QString(), mp3Filter);
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
    Tag.RemoveTag();
    QString error;
    if (!RemoveId3v2Tag(Tag.FileName, &error))
        QMessageBox::information(this, productName, error);
    m_v2 = TTrackTags();
    clearFields();
}

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tags/filetags.h"
#include "tags/id3tag.h"

#include <QDialog>
#include <QString>

class QAction;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;

// The tag editor: loads the tags of an audio file (any the tag layer reads: TFileFormat), edits their
// seven fields, and saves them back, into another file, or removes them. For an MP3 file the boxes hold what
// its ID3 version 1 tag can (30 characters), and the version 2.4 tag is written beside it; other kinds get
// their own tags, texts whole. Saving changes only the fields the user changed: everything else in the file
// stays. The caption says which file is loaded ("PATH: ID3 Tag Edit", with the kind for other than MP3);
// Save Tag and Remove Tag are enabled only then.
class TfrmID3Edit final : public QDialog {
    Q_OBJECT
public:
    explicit TfrmID3Edit(QWidget *parent = nullptr);

    // The file-choosing steps of the buttons, after their dialogs.
    void LoadTagFrom(const QString &path);
    bool SaveTagAs(const QString &path);

    void bLoadTagClick();
    void aSaveTagExecute();
    void bSaveASClick();
    void aRemoveTagExecute();
    // Enables Save Tag and Remove Tag exactly when a file is loaded.
    void aSaveTagUpdate();

    QGroupBox *GroupBox1;
    QLineEdit *ID3title;
    QLineEdit *ID3artist;
    QLineEdit *ID3album;
    QLineEdit *ID3comment;
    QLineEdit *ID3year;
    QLineEdit *ID3track;
    QComboBox *ID3genre;
    QPushButton *bLoadTag;
    QPushButton *bSaveTag;
    QPushButton *bSaveAS;
    QPushButton *bRemoveTag;
    QPushButton *bClose;
    QAction *aSaveTag;
    QAction *aRemoveTag;

    Tid3tag Tag;

protected:
    void showEvent(QShowEvent *event) override;

private:
    QString plainCaption() const;
    void setLoaded(const QString &path);
    void clearFields();
    void saveFailed(const QString &reason = QString());
    // The boxes' texts, to tell which the user changed.
    QStringList shownFields() const;
    // Writes the fields into the file (only those changed since loading, unless `all`); says so and returns
    // false when it cannot.
    bool writeFields(const QString &path, bool all);
    // The boxes take what the file's kind holds: 30 characters (and a 4-digit year) of an MP3's ID3 version
    // 1 tag, whole texts elsewhere.
    void limitFields(TFileFormat format);

    TFileFormat m_format = TFileFormat::Mp3;
    QStringList m_shown; // shownFields() as loaded or last saved
};

#pragma once

#include "tags/id3tag.h"
#include "tags/tracktags.h"

#include <QDialog>
#include <QString>

class QAction;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;

// The ID3 tag editor: loads the version 1 tag of an MP3 file, edits its seven fields, and saves it back,
// into another MP3 file, or removes it. One Tid3tag does the file work for as long as the dialog lives. The
// caption says which file is loaded ("PATH: ID3 Tag Edit"); Save Tag and Remove Tag are enabled only then.
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
    void fieldsToTag();
    void clearFields();
    void saveFailed(const QString &reason = QString());
    // Writes the fields as the file's version 2 tag; says so and returns false when it cannot.
    bool writeVersion2(const QString &path);

    TTrackTags m_v2; // the version 2 tag as loaded or last saved
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

// Asks for a new track title. OK is enabled only while the title is not empty; Enter acts as OK.
class TfrmEditTrackName final : public QDialog {
    Q_OBJECT
public:
    explicit TfrmEditTrackName(QWidget *parent = nullptr);

    QLineEdit *eName;
    QPushButton *btOK;
    QPushButton *btCancel;

protected:
    void showEvent(QShowEvent *event) override;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

// Tells the user why no CD drive can be used, with the causes that apply on this system.
class TfrmNoDeviceHint final : public QDialog {
    Q_OBJECT
public:
    explicit TfrmNoDeviceHint(QWidget *parent = nullptr);

protected:
    void showEvent(QShowEvent *event) override;
};

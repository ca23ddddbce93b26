#pragma once

#include <QMainWindow>

// The program's main window. It lives for the whole run; settings are loaded when it is created and saved
// when it closes.
class TMainForm final : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainForm(QWidget *parent = nullptr);

    // Shows the window, restores it when minimised and brings it to the front (a second start asked).
    void RestoreInstance();

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
};

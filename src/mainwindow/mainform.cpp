#include "mainform.h"

#include "shell/applylanguage.h"
#include "shell/messages.h"
#include "shell/settings.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

TMainForm::TMainForm(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Sondrel 5.6"));
    LoadOptions();
    resize(551, 500);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    if (!IsEnglish(AppSettings.Lan))
        ApplyLanguage(this, AppSettings.Lan);
}

void TMainForm::RestoreInstance()
{
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

bool TMainForm::event(QEvent *event)
{
    if (TMessageEvent::messageOf(event) == WM_RESTORE_INSTANCE) {
        RestoreInstance();
        return true;
    }
    return QMainWindow::event(event);
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    SaveOptions();
    event->accept();
}

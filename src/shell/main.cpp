#include "mainwindow/mainform.h"
#include "shell/singleinstance.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sondrel"));
    QApplication::setApplicationVersion(QStringLiteral("5.6"));

    if (SingleInstance::notifyRunningInstance())
        return 0;

    SingleInstance instance;
    TMainForm mainForm;
    instance.setReceiver(&mainForm);
    instance.listen();
    mainForm.show();
    return app.exec();
}

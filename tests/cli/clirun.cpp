// SPDX-License-Identifier: GPL-3.0-or-later
#include "clirun.h"

#include "testsupport.h"

#include <QJsonDocument>
#include <QProcess>

CliRun runCli(const QStringList &arguments, const QString &program, int timeoutMs)
{
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    // No test reaches the internet: a rip looks its disc up only where a test points it (--lookup), and asks
    // the CUETools database only where a test gives one (--ctdb-server).
    QStringList args = arguments;
    if (args.value(0) == QLatin1String("rip") && !args.contains(QLatin1String("--lookup")))
        args << QStringLiteral("--lookup") << QStringLiteral("cache");
    if (args.value(0) == QLatin1String("rip") && !args.contains(QLatin1String("--ctdb-server")))
        args << QStringLiteral("--ctdb-server") << QString();
    process.start(program.isEmpty() ? BuiltProgram("sondrel-cli") : program, args);
    CliRun run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QJsonObject JudgedTags(const QString &file)
{
    static const QString judge = QStringLiteral(SONDREL_SOURCE_DIR "/tests/judges/tag_judge.py");
    QByteArray output;
    if (RunProgram("/usr/bin/python3", {judge, file}, &output) != 0)
        return QJsonObject{{"error", QString::fromUtf8(output)}};
    return QJsonDocument::fromJson(output).object();
}

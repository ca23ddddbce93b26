// SPDX-License-Identifier: GPL-3.0-or-later
#include "commands.h"
#include "shell/helpers.h"
#include "tags/filetags.h"

#include <QJsonArray>
#include <QJsonObject>
#include <optional>

namespace {

class TTagCommand final : public TCommand {
public:
    QString Name() const override { return QStringLiteral("tag"); }
    QList<TOptionSpec> Options() const override
    {
        return {{QStringLiteral("--json")},
                {QStringLiteral("--title"), QStringLiteral("T")},
                {QStringLiteral("--artist"), QStringLiteral("A")},
                {QStringLiteral("--album-artist"), QStringLiteral("A")},
                {QStringLiteral("--album"), QStringLiteral("B")},
                {QStringLiteral("--year"), QStringLiteral("Y")},
                {QStringLiteral("--comment"), QStringLiteral("C")},
                {QStringLiteral("--track"), QStringLiteral("N")},
                {QStringLiteral("--genre"), QStringLiteral("NAME|NUMBER")}};
    }
    QList<TCommandForm> Forms() const override
    {
        return {{QStringLiteral("show FILE..."),
                 {QStringLiteral("--json")},
                 QStringLiteral("the tags' fields (--json: a JSON object, a list of them for\n"
                                "several files; with several, each file's fields follow a\n"
                                "\"file:\" line)")},
                {QStringLiteral("set FILE"),
                 {QStringLiteral("--title"), QStringLiteral("--artist"), QStringLiteral("--album-artist"),
                  QStringLiteral("--album"), QStringLiteral("--year"), QStringLiteral("--comment"),
                  QStringLiteral("--track"), QStringLiteral("--genre")},
                 QStringLiteral("sets those fields, keeping the others")},
                {QStringLiteral("remove FILE"),
                 {},
                 QStringLiteral("removes the tags; an MP3 keeps both ID3 tags in step (version 2\n"
                                "shown when there is one; version 1 keeps the first 30 bytes)")}};
    }
    int Run(const TArguments &args, TTerminal &terminal) override;

private:
    // The fields of each file as "name: value" lines, or JSON objects whose keys are the names with "_"
    // for blanks (a list of them for several files).
    static int show(const QStringList &files, bool json, TTerminal &terminal);
    // One file's fields; nullopt (told) when the file cannot be read.
    static std::optional<QJsonObject> fieldsOf(const QString &file, bool print, TTerminal &terminal);
    static int set(const QString &file, const TArguments &args, TTerminal &terminal);
};

int TTagCommand::Run(const TArguments &args, TTerminal &terminal)
{
    const QString action = args.rest().value(0);
    if (action == QLatin1String("show") && args.rest().size() >= 2)
        return show(args.rest().mid(1), args.flag("--json"), terminal);
    if (args.rest().size() != 2)
        throw UsageError{QStringLiteral("tag needs show (with files), or set or remove and one file")};
    const QString file = args.rest().at(1);
    if (action != QLatin1String("set") && action != QLatin1String("remove"))
        throw UsageError{QStringLiteral("unknown tag action ") + action};
    QString error;
    if (action == QLatin1String("remove")) {
        if (!RemoveFileTags(file, &error)) {
            terminal.Failure(error);
            return 1;
        }
        return 0;
    }
    return set(file, args, terminal);
}

int TTagCommand::show(const QStringList &files, bool json, TTerminal &terminal)
{
    QJsonArray list;
    int code = 0;
    for (const QString &file : files) {
        if (!json && files.size() > 1)
            PrintLine((file == files.first() ? QString() : QStringLiteral("\n")) + QStringLiteral("file: ") +
                      WithoutControlChars(file));
        if (const auto object = fieldsOf(file, !json, terminal))
            list.append(*object);
        else
            code = 1;
    }
    if (json && files.size() == 1 && !list.isEmpty())
        PrintJson(list.first());
    else if (json && files.size() > 1)
        PrintJson(list);
    return code;
}

std::optional<QJsonObject> TTagCommand::fieldsOf(const QString &file, bool print, TTerminal &terminal)
{
    QString error;
    TFileTags tags;
    if (!ReadFileTags(file, tags, &error)) {
        terminal.Failure(error);
        return std::nullopt;
    }
    // "name: value" lines, or one JSON object whose keys are the names with "_" for blanks.
    std::vector<std::pair<QString, QString>> fields;
    if (tags.HasTag())
        fields = {{QStringLiteral("tag"), tags.Kind},
                  {QStringLiteral("title"), tags.Title},
                  {QStringLiteral("artist"), tags.Artist},
                  {QStringLiteral("album artist"), tags.AlbumArtist},
                  {QStringLiteral("album"), tags.Album},
                  {QStringLiteral("year"), tags.Year},
                  {QStringLiteral("comment"), tags.Comment},
                  {QStringLiteral("track"), tags.Track <= 0 ? QString()
                                            : tags.TrackTotal > 0
                                                ? QStringLiteral("%1/%2").arg(tags.Track).arg(tags.TrackTotal)
                                                : QString::number(tags.Track)},
                  {QStringLiteral("genre"), tags.Genre}};
    fields.emplace_back(QStringLiteral("format"), TagFormatName(tags.Format));
    // A field with several values: a line each, and a list in JSON.
    const auto valuesOf = [&tags](const QString &name, const QString &value) {
        const auto several = tags.Values.find(name);
        return several != tags.Values.end() ? several->second : QStringList{value};
    };
    QJsonObject object{{QStringLiteral("file"), file}};
    object.insert(QStringLiteral("tag"), QJsonValue::Null);
    for (const auto &[name, value] : fields) {
        const QStringList values = valuesOf(name, value);
        object.insert(QString(name).replace(QLatin1Char(' '), QLatin1Char('_')),
                      values.size() > 1 ? QJsonValue(QJsonArray::fromStringList(values)) : QJsonValue(value));
    }
    if (print && !tags.HasTag())
        PrintLine(file + (tags.Format == TFileFormat::Mp3 ? QStringLiteral(" has no ID3 tag")
                                                          : QStringLiteral(" has no tags")));
    else if (print)
        for (const auto &[name, value] : fields)
            for (const QString &one : valuesOf(name, value))
                PrintLine(name + QStringLiteral(": ") + WithoutControlChars(one));
    return object;
}

int TTagCommand::set(const QString &file, const TArguments &args, TTerminal &terminal)
{
    // Only the fields named change; everything else in the file stays as it was.
    TTagEdit edit;
    const auto take = [&](const char *option, std::optional<QString> &field) {
        if (const auto v = args.value(QLatin1String(option)))
            field = *v;
    };
    take("--title", edit.Title);
    take("--artist", edit.Artist);
    take("--album-artist", edit.AlbumArtist);
    take("--album", edit.Album);
    take("--year", edit.Year);
    take("--comment", edit.Comment);
    take("--genre", edit.Genre);
    if (args.value("--track"))
        edit.Track = args.number("--track", 0, 0, 999);
    if (edit.Genre) {
        bool number = false;
        const int n = edit.Genre->toInt(&number);
        if (number && (n < 0 || n > 255))
            throw UsageError{QStringLiteral("--genre takes a name or a number from 0 to 255")};
    }
    if (edit.Empty())
        throw UsageError{QStringLiteral("tag set needs at least one field to set")};
    QString error;
    if (!EditFileTags(file, edit, &error)) {
        terminal.Failure(error);
        return 1;
    }
    return 0;
}

} // namespace

std::unique_ptr<TCommand> MakeTagCommand()
{
    return std::make_unique<TTagCommand>();
}

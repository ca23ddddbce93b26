// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings.h"

#include "folders.h"
#include "inifile.h"
#include "localizedtext.h"
#include "outputformats.h"

#include <QFileInfo>
#include <QLocale>
#include <algorithm>

TOptionsSetting AppSettings;

namespace {

const QString optionsFileName = QStringLiteral("options.ini");

// Every stored field with its section and key, in the order the file holds them. Load and save both walk
// this one list, so the two can never disagree.
template <typename Record, typename Visitor> void forEachStoredField(Record &s, Visitor &&visit)
{
    const QString common = QStringLiteral("CommonOptions");
    visit(common, QStringLiteral("OutputFolder"), s.CommonOptions.OutputFolder);
    visit(common, QStringLiteral("OutputFormat"), s.CommonOptions.OutputFormat);
    visit(common, QStringLiteral("IsKeepWav"), s.CommonOptions.IsKeepWav);
    visit(common, QStringLiteral("IsCreateM3U"), s.CommonOptions.IsCreateM3U);
    visit(common, QStringLiteral("IsNormalize"), s.CommonOptions.IsNormalize);
    visit(common, QStringLiteral("NormalizePercent"), s.CommonOptions.NormalizePercent);
    visit(common, QStringLiteral("IsCreateAlbumFolder"), s.CommonOptions.IsCreateAlbumFolder);
    visit(common, QStringLiteral("EnableRipTime"), s.CommonOptions.EnableRipTime);
    visit(common, QStringLiteral("RipTime"), s.CommonOptions.RipTime);
    visit(common, QStringLiteral("IsCDHandleZero"), s.CommonOptions.IsCDHandleZero);
    visit(common, QStringLiteral("FileNameTemplate"), s.CommonOptions.FileNameTemplate);
    visit(common, QStringLiteral("ReadOffset"), s.CommonOptions.ReadOffset);
    visit(common, QStringLiteral("TestAndCopy"), s.CommonOptions.TestAndCopy);
    visit(common, QStringLiteral("VerifyAccurateRip"), s.CommonOptions.VerifyAccurateRip);
    visit(common, QStringLiteral("AccurateRipServer"), s.CommonOptions.AccurateRipServer);
    visit(common, QStringLiteral("CtdbServer"), s.CommonOptions.CtdbServer);
    visit(common, QStringLiteral("WriteLog"), s.CommonOptions.WriteLog);
    visit(common, QStringLiteral("WriteCue"), s.CommonOptions.WriteCue);
    visit(common, QStringLiteral("ResampleQuality"), s.CommonOptions.ResampleQuality);
    visit(common, QStringLiteral("EncodersAtOnce"), s.CommonOptions.EncodersAtOnce);
    visit(common, QStringLiteral("ReplayGain"), s.CommonOptions.ReplayGain);
    visit(common, QStringLiteral("OutputFormats"), s.CommonOptions.OutputFormats);
    visit(common, QStringLiteral("Deemphasis"), s.CommonOptions.Deemphasis);
    visit(common, QStringLiteral("TestCopyRetries"), s.CommonOptions.TestCopyRetries);
    visit(common, QStringLiteral("RipHiddenTrack"), s.CommonOptions.RipHiddenTrack);

    const QString mp3 = QStringLiteral("Mp3Options");
    visit(mp3, QStringLiteral("IsSelectVBR"), s.Mp3Options.IsSelectVBR);
    visit(mp3, QStringLiteral("IsVBRHead"), s.Mp3Options.IsVBRHead);
    visit(mp3, QStringLiteral("BitRate"), s.Mp3Options.BitRate);
    visit(mp3, QStringLiteral("MaxBitRate"), s.Mp3Options.MaxBitRate);
    visit(mp3, QStringLiteral("MpegQuality"), s.Mp3Options.MpegQuality);
    visit(mp3, QStringLiteral("VBRQuality"), s.Mp3Options.VBRQuality);
    visit(mp3, QStringLiteral("StereoMode"), s.Mp3Options.StereoMode);

    const QString ogg = QStringLiteral("OggOptions");
    visit(ogg, QStringLiteral("IsUseCompress"), s.OggOptions.IsUseCompress);
    visit(ogg, QStringLiteral("CompressPosition"), s.OggOptions.CompressPosition);
    visit(ogg, QStringLiteral("MaxBitRate"), s.OggOptions.MaxBitRate);
    visit(ogg, QStringLiteral("NomalBitRate"), s.OggOptions.NomalBitRate);
    visit(ogg, QStringLiteral("MinBitRate"), s.OggOptions.MinBitRate);

    visit(QStringLiteral("WMAOptions"), QStringLiteral("BitRate"), s.WMAOptions.BitRate);

    // The writers' settings their formats declare (read only when saving).
    for (const TOutputFormatInfo &format : OutputFormats())
        if (const TFormatSetting *setting = format.Setting)
            visit(QLatin1String(setting->Section), QLatin1String(setting->Key),
                  setting->Value(const_cast<TOptionsSetting &>(static_cast<const TOptionsSetting &>(s))));

    visit(QStringLiteral("CDOptions"), QStringLiteral("Index"), s.CDOptions.Index);
    visit(QStringLiteral("CDOptions"), QStringLiteral("CDDb"), s.CDOptions.CDDb);
    visit(QStringLiteral("CDOptions"), QStringLiteral("DiscCacheSize"), s.CDOptions.DiscCacheSize);

    visit(QStringLiteral("RecordOptions"), QStringLiteral("SaveMp3"), s.RecordOptions.SaveMp3);

    const QString cddb = QStringLiteral("QueryCDDB");
    visit(cddb, QStringLiteral("Server"), s.QueryCDDB.Server);
    visit(cddb, QStringLiteral("Script"), s.QueryCDDB.Script);
    visit(cddb, QStringLiteral("UseProxy"), s.QueryCDDB.UseProxy);
    visit(cddb, QStringLiteral("ProxyAddress"), s.QueryCDDB.ProxyAddress);
    visit(cddb, QStringLiteral("Port"), s.QueryCDDB.Port);
    visit(cddb, QStringLiteral("TagEncoding"), s.QueryCDDB.TagEncoding);
    visit(cddb, QStringLiteral("LookupOrder"), s.QueryCDDB.LookupOrder);
    visit(cddb, QStringLiteral("MusicBrainzServer"), s.QueryCDDB.MusicBrainzServer);
    visit(cddb, QStringLiteral("CoverArtServer"), s.QueryCDDB.CoverArtServer);
    visit(cddb, QStringLiteral("SaveCover"), s.QueryCDDB.SaveCover);
    visit(cddb, QStringLiteral("EmbedCover"), s.QueryCDDB.EmbedCover);

    visit(QStringLiteral("ID3"), QStringLiteral("Use"), s.Use);
    visit(QStringLiteral("Options"), QStringLiteral("Lan"), s.Lan);
}

struct Reader {
    const IniFile &ini;
    void operator()(const QString &section, const QString &key, QString &field) const
    {
        field = ini.readString(section, key, field);
    }
    void operator()(const QString &section, const QString &key, int32_t &field) const
    {
        field = ini.readInteger(section, key, field);
    }
    void operator()(const QString &section, const QString &key, bool &field) const
    {
        field = ini.readBool(section, key, field);
    }
};

struct Writer {
    IniFile &ini;
    void operator()(const QString &section, const QString &key, const QString &field) const
    {
        ini.writeString(section, key, field);
    }
    void operator()(const QString &section, const QString &key, int32_t field) const
    {
        ini.writeInteger(section, key, field);
    }
    void operator()(const QString &section, const QString &key, bool field) const
    {
        ini.writeBool(section, key, field);
    }
};

} // namespace

TOptionsSetting DefaultOptions()
{
    TOptionsSetting defaults;
    defaults.CommonOptions.OutputFolder = DataFolder();
    return defaults;
}

namespace {
QStringList lastLoadWarnings;
} // namespace

QStringList OptionsWarnings()
{
    return lastLoadWarnings;
}

void LoadOptions()
{
    const IniFile ini(SettingsFolder() + optionsFileName);
    TOptionsSetting loaded = DefaultOptions();
    // The very first start speaks the user's language when we ship it.
    if (!QFileInfo::exists(ini.path()))
        loaded.Lan = LanguageOfLocale(QLocale());
    forEachStoredField(loaded, Reader{ini});
    // Values that would make a job produce nothing (or something other than asked) are read as their
    // defaults, each with a warning.
    QStringList warnings;
    const TOptionsSetting defaults = DefaultOptions();
    const auto inRange = [&](const char *key, int32_t &field, int32_t low, int32_t high, int32_t fallback) {
        if (field >= low && field <= high)
            return;
        warnings << QStringLiteral("%1: %2=%3 is out of range (%4 to %5); %6 is used")
                        .arg(ini.path(), QLatin1String(key))
                        .arg(field)
                        .arg(low)
                        .arg(high)
                        .arg(fallback);
        field = fallback;
    };
    TCommonOptions &common = loaded.CommonOptions;
    inRange("OutputFormat", common.OutputFormat, 0, int32_t(OutputFormats().size()) - 1,
            defaults.CommonOptions.OutputFormat);
    inRange("NormalizePercent", common.NormalizePercent, 0, 100, defaults.CommonOptions.NormalizePercent);
    if (common.EnableRipTime && common.RipTime < 1) {
        warnings << QStringLiteral("%1: RipTime=%2 would extract nothing; the whole track is extracted")
                        .arg(ini.path())
                        .arg(common.RipTime);
        common.EnableRipTime = false;
        common.RipTime = defaults.CommonOptions.RipTime;
    }
    inRange("ResampleQuality", common.ResampleQuality, 0, 1, defaults.CommonOptions.ResampleQuality);
    lastLoadWarnings = warnings;
    loaded.OggOptions.CompressPosition = std::clamp(loaded.OggOptions.CompressPosition, 30, 100);
    loaded.CommonOptions.ReadOffset =
        std::clamp(loaded.CommonOptions.ReadOffset, -MaxReadOffset, MaxReadOffset);
    for (const TOutputFormatInfo &format : OutputFormats())
        if (const TFormatSetting *setting = format.Setting)
            setting->Value(loaded) = std::clamp(setting->Value(loaded), setting->Min, setting->Max);
    loaded.CDOptions.DiscCacheSize = std::max(loaded.CDOptions.DiscCacheSize, 1);
    loaded.CommonOptions.EncodersAtOnce = std::clamp(loaded.CommonOptions.EncodersAtOnce, 0, 64);
    loaded.CommonOptions.TestCopyRetries = std::clamp(loaded.CommonOptions.TestCopyRetries, 0, 20);
    if (loaded.CommonOptions.FileNameTemplate.trimmed().isEmpty())
        loaded.CommonOptions.FileNameTemplate = QStringLiteral("%title%");
    // A WMA profile row outside the list is row 8, and is stored so at the next save.
    if (loaded.WMAOptions.BitRate < 0 || loaded.WMAOptions.BitRate > 32)
        loaded.WMAOptions.BitRate = 8;
    loaded.DiscInfo = std::move(AppSettings.DiscInfo);
    AppSettings = std::move(loaded);
}

bool SaveOptions(QString *error)
{
    IniFile ini(SettingsFolder() + optionsFileName);
    forEachStoredField(std::as_const(AppSettings), Writer{ini});
    return ini.save(error);
}

QString DriveOffsetKey(const QString &vendor, const QString &product, const QString &revision)
{
    QString key = QStringList{vendor.trimmed(), product.trimmed(), revision.trimmed()}.join(QLatin1Char(' '));
    for (QChar &c : key)
        if (c.unicode() < 0x20 || c == QLatin1Char('=') || c == QLatin1Char('[') || c == QLatin1Char(']') ||
            c == QLatin1Char(';'))
            c = QLatin1Char('_');
    return key.simplified();
}

std::optional<int> SavedDriveOffset(const QString &driveKey)
{
    const IniFile ini(SettingsFolder() + optionsFileName);
    const QString section = QStringLiteral("DriveOffsets");
    if (driveKey.isEmpty() || !ini.hasKey(section, driveKey))
        return std::nullopt;
    int offset = 0;
    if (!IniFile::parseInteger(ini.readString(section, driveKey, QString()), offset) ||
        offset < -MaxReadOffset || offset > MaxReadOffset)
        return std::nullopt;
    return offset;
}

bool SaveDriveOffset(const QString &driveKey, int offset, QString *error)
{
    IniFile ini(SettingsFolder() + optionsFileName);
    ini.writeInteger(QStringLiteral("DriveOffsets"), driveKey, offset);
    return ini.save(error);
}

bool IsEnglish(const QString &language)
{
    return language.compare(QLatin1String("English"), Qt::CaseInsensitive) == 0;
}

QString OutputFormatName(int32_t format)
{
    const TOutputFormatInfo *info = OutputFormatInfo(format);
    return info ? QLatin1String(info->Name) : QString();
}

QString OutputFormatExtension(int32_t format)
{
    const TOutputFormatInfo *info = OutputFormatInfo(format);
    return info ? QLatin1String(info->Extension) : QString();
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdrom/cddrivelist.h"
#include "mainwindow/about.h"
#include "mainwindow/edittrackname.h"
#include "mainwindow/mainform.h"
#include "mainwindow/nodevicehint.h"
#include "shell/folders.h"
#include "shell/inifile.h"
#include "shell/localizedtext.h"
#include "shell/settings.h"
#include "testsupport.h"
#include "ui/applylanguage.h"
#include "ui/createm3uform.h"
#include "ui/findoffsetform.h"
#include "ui/id3editform.h"
#include "ui/musicbrainzform.h"
#include "ui/oggplayerform.h"
#include "ui/optionsetform.h"
#include "ui/querycddbform.h"
#include "ui/recordform.h"
#include "ui/ripform.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QMap>
#include <QMenu>
#include <QRegularExpression>
#include <QSet>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabBar>
#include <gtest/gtest.h>
#include <memory>

namespace {

const QString languageFolder = QStringLiteral(SONDREL_LANGUAGE_DIR "/");
const QStringList translations = {"German", "French", "Spanish"};

// Words the shipped languages write as English does (the test of untranslated texts lets them be).
// Program names are names everywhere.
const QSet<QString> SharedWords = {"Album",        "Genre",    "Stereo",     "Mono",
                                   "Joint Stereo", "Standard", "Sondrel",    "Start",
                                   "Pause",        "Server",   "Options",    "Options...",
                                   "Actions",      "Catalan",  "RealPlayer", "Windows Media Player"};

QString languageFile(const QString &language)
{
    return languageFolder + "CLan_" + language + ".ini";
}

class LanguageFilesTest : public ::testing::Test {
protected:
    TestHome home;
    ModalCloser closer;
    TMp3EncodeProcess mp3;
    TWMAEncodeProcess wma;

    LanguageFilesTest() { SetRealCdDrivesEnabled(false); }
    ~LanguageFilesTest() override { SetRealCdDrivesEnabled(true); }

    // Every window that takes its texts from the language files, as the program builds it.
    std::vector<std::unique_ptr<QWidget>> translatedWindows(TMainForm &main)
    {
        std::vector<std::unique_ptr<QWidget>> windows;
        windows.emplace_back(new TRipForm(nullptr, JobKind::ExtractTracks, 0, {}, home.root(), mp3, wma));
        windows.emplace_back(new TOptionSetForm(main));
        windows.emplace_back(new TfrmAbout);
        windows.emplace_back(new TfrmRecord(&main));
        windows.emplace_back(new TfrmNewRecordFile);
        windows.emplace_back(new TfrmEditTrackName);
        windows.emplace_back(new TfrmID3Edit);
        windows.emplace_back(new TfrmNoDeviceHint);
        windows.emplace_back(new TfrmQueryCDDB(main));
        windows.emplace_back(new TfrmStopQuery(main));
        windows.emplace_back(new TfrmOggPlayer);
        windows.emplace_back(new TfrmCreateM3U);
        windows.emplace_back(new TFindOffsetForm(-1, QString()));
        windows.emplace_back(new TfrmMusicBrainzQuery(main, TMusicBrainzRequest{}));
        windows.emplace_back(new TfrmChooseRelease({TMusicBrainzRelease{}}));
        return windows;
    }

    QList<LanguageEntry> everyEntry()
    {
        TMainForm main;
        QList<LanguageEntry> entries = LanguageEntries(&main);
        for (const auto &window : translatedWindows(main))
            entries += LanguageEntries(window.get());
        return entries;
    }
};

// The message keys the program's code asks for.
QSet<QString> MessageKeysInTheCode()
{
    QSet<QString> keys;
    static const QRegularExpression key(QStringLiteral("\"(RES_[A-Za-z0-9_]+)\""));
    QDirIterator it(QStringLiteral(SONDREL_SOURCE_DIR "/src"), {"*.cpp", "*.h"}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString text = ReadFileText(it.next());
        for (const auto &match : key.globalMatch(text))
            keys.insert(match.captured(1));
    }
    return keys;
}

TEST_F(LanguageFilesTest, EnglishFileHoldsEveryTextAsTheWindowsShowIt)
{
    const IniFile english(languageFile("English"));
    QString missing;
    for (const LanguageEntry &entry : everyEntry()) {
        if (!english.hasKey(entry.section, entry.key)) {
            missing += "[" + entry.section + "] " + entry.key + "=" + entry.text + "\n";
            continue;
        }
        EXPECT_EQ(LanguageFileText(english, entry.section, entry.key, QString()), entry.text)
            << entry.section.toStdString() << " " << entry.key.toStdString();
    }
    EXPECT_TRUE(missing.isEmpty()) << "missing from CLan_English.ini:\n" << missing.toStdString();

    const QSet<QString> used = MessageKeysInTheCode();
    ASSERT_GT(used.size(), 50);
    for (const QString &key : used)
        EXPECT_TRUE(english.hasKey("ResourceString", key)) << key.toStdString();
    // Nothing the program no longer asks for.
    for (const QString &key : english.keys("ResourceString"))
        EXPECT_TRUE(used.contains(key)) << key.toStdString();
}

// A text a language file cannot reach is a text that stays English.
TEST_F(LanguageFilesTest, EveryCaptionBelongsToANamedComponent)
{
    TMainForm main;
    auto windows = translatedWindows(main);
    windows.emplace_back(&main);
    for (const auto &window : windows) {
        for (QWidget *widget : window->findChildren<QWidget *>()) {
            QString text;
            if (auto *label = qobject_cast<QLabel *>(widget))
                text = label->text();
            else if (auto *button = qobject_cast<QAbstractButton *>(widget))
                text = button->text();
            else if (auto *group = qobject_cast<QGroupBox *>(widget))
                text = group->title();
            if (!text.isEmpty() && !qobject_cast<QTabBar *>(widget->parent())) {
                EXPECT_FALSE(widget->objectName().isEmpty())
                    << window->objectName().toStdString() << ": " << text.toStdString();
            }
        }
    }
    windows.back().release();
}

TEST_F(LanguageFilesTest, EveryTranslationIsComplete)
{
    const IniFile english(languageFile("English"));
    for (const QString &language : translations) {
        SCOPED_TRACE(language.toStdString());
        const IniFile translated(languageFile(language));
        int keys = 0, unchanged = 0;
        for (const QString &section : english.sections()) {
            for (const QString &key : english.keys(section)) {
                SCOPED_TRACE((section + " " + key).toStdString());
                ++keys;
                ASSERT_TRUE(translated.hasKey(section, key));
                const QString source = LanguageFileText(english, section, key, QString());
                const QString text = LanguageFileText(translated, section, key, QString());
                EXPECT_EQ(text.isEmpty(), source.isEmpty());
                unchanged += text == source;
                // Messages are joined to file names and other messages at their spaces.
                EXPECT_EQ(text.startsWith(' '), source.startsWith(' '));
                EXPECT_EQ(text.endsWith(' '), source.endsWith(' '));
                EXPECT_EQ(text.contains('&'), source.contains('&'));
            }
            for (const QString &key : translated.keys(section))
                EXPECT_TRUE(english.hasKey(section, key)) << "not in English: " << key.toStdString();
        }
        EXPECT_EQ(translated.sections().size(), english.sections().size());
        // Names such as "MP3" or "OK" stay as they are; the rest is translated.
        EXPECT_LT(unchanged * 5, keys) << unchanged << " of " << keys << " texts unchanged";
    }
}

// Every window in every shipped language: no text stays as the English one, but for names (of formats,
// programs, units) and the words the languages share with English.
TEST_F(LanguageFilesTest, NoWindowStaysEnglishInAnotherLanguage)
{
    for (const QString &language : translations)
        QFile::copy(languageFile(language), home.programFolder() + "CLan_" + language + ".ini");
    QMap<QString, QString> english;
    for (const LanguageEntry &entry : everyEntry())
        english.insert(entry.section + "/" + entry.key, entry.text);
    static const QRegularExpression word("[a-z]{4,}");
    for (const QString &language : translations) {
        SCOPED_TRACE(language.toStdString());
        TMainForm main;
        auto windows = translatedWindows(main);
        QStringList unchanged;
        const auto walk = [&](QWidget *window) {
            ApplyLanguage(window, language);
            for (const LanguageEntry &entry : LanguageEntries(window)) {
                const QString text = QString(entry.text).remove('&').remove(':').trimmed();
                if (entry.text == english.value(entry.section + "/" + entry.key) &&
                    word.match(text).hasMatch() && !SharedWords.contains(text))
                    unchanged << entry.section + "/" + entry.key + "=" + entry.text;
            }
        };
        walk(&main);
        for (const auto &window : windows)
            walk(window.get());
        EXPECT_TRUE(unchanged.isEmpty()) << unchanged.join("\n").toStdString();
    }
}

TEST_F(LanguageFilesTest, ChoosingGermanThenEnglishRestoresEveryText)
{
    for (const QString &language : translations + QStringList{"English"})
        QFile::copy(languageFile(language), home.programFolder() + "CLan_" + language + ".ini");
    TMainForm form;
    form.show();
    const QList<LanguageEntry> before = LanguageEntries(&form);
    form.LanguageClick("miGerman");
    EXPECT_EQ(form.findChild<QMenu *>("File1")->title(), "&Datei");
    EXPECT_EQ(LocalizedText("RES_Select_Track", "Please select a track at least!"),
              "Bitte wählen Sie mindestens einen Titel aus!");
    form.LanguageClick("miEnglish");
    EXPECT_EQ(AppSettings.Lan, "English");
    const QList<LanguageEntry> after = LanguageEntries(&form);
    ASSERT_EQ(after.size(), before.size());
    for (int i = 0; i < before.size(); ++i)
        EXPECT_EQ(after[i].text, before[i].text) << before[i].key.toStdString();
}

TEST_F(LanguageFilesTest, FirstStartFollowsTheSystemLocaleWhenItsFileExists)
{
    for (const QString &language : translations + QStringList{"English"})
        QFile::copy(languageFile(language), home.programFolder() + "CLan_" + language + ".ini");
    EXPECT_EQ(LanguageOfLocale(QLocale("de_AT")), "German");
    EXPECT_EQ(LanguageOfLocale(QLocale("fr_CA")), "French");
    EXPECT_EQ(LanguageOfLocale(QLocale("es_MX")), "Spanish");
    EXPECT_EQ(LanguageOfLocale(QLocale("en_GB")), "English");
    EXPECT_EQ(LanguageOfLocale(QLocale("pt_BR")), "English"); // no file for it
    EXPECT_EQ(LanguageOfLocale(QLocale::c()), "English");
    QFile::copy(languageFile("German"), home.programFolder() + "CLan_Netherlands.ini");
    EXPECT_EQ(LanguageOfLocale(QLocale("nl_BE")), "Netherlands"); // the menu's name for Dutch

    // Only without options.ini; a stored choice stays.
    QLocale::setDefault(QLocale("fr_FR"));
    LoadOptions();
    EXPECT_EQ(AppSettings.Lan, "French");
    WriteFileText(home.settingsFile(), "[Options]\nLan=English\n");
    LoadOptions();
    EXPECT_EQ(AppSettings.Lan, "English");
    QLocale::setDefault(QLocale::c());
}

TEST_F(LanguageFilesTest, AUserTranslationInTheDataFolderServesTheOtherItem)
{
    TMainForm form;
    form.LanguageClick("miOther");
    EXPECT_EQ(AppSettings.Lan, "English");
    ASSERT_FALSE(closer.texts.filter("CLan_Other.ini and translate its values.").isEmpty());

    QDir().mkpath(DataFolder());
    WriteFileText(DataFolder() + "CLan_Other.ini", "[Menu_MainForm]\nFile1=&Fichier à moi\n");
    form.LanguageClick("miOther");
    EXPECT_EQ(AppSettings.Lan, "Other");
    EXPECT_EQ(form.findChild<QMenu *>("File1")->title(), "&Fichier à moi");
}

} // namespace

namespace {

// The part of a window whose shortcuts work together: its tab page, or the window itself.
const QWidget *shortcutScope(const QWidget *widget)
{
    for (const QWidget *w = widget; w; w = w->parentWidget())
        if (w->parentWidget() && qobject_cast<const QStackedWidget *>(w->parentWidget()))
            return w;
    return widget->window();
}

// Every window shown in every language: no caption, button, list or number box is narrower than its words.
TEST_F(LanguageFilesTest, NoWordsAreCutOff)
{
    for (const QString &language : translations)
        QFile::copy(languageFile(language), home.programFolder() + "CLan_" + language + ".ini");
    for (const QString &language : translations + QStringList{"English"}) {
        TMainForm main;
        AppSettings.Lan = language; // after the main window has read the settings
        auto windows = translatedWindows(main);
        QStringList cut;
        const auto walk = [&](QWidget *window) {
            window->show();
            QApplication::processEvents();
            for (QWidget *w : window->findChildren<QWidget *>()) {
                auto *label = qobject_cast<QLabel *>(w);
                const bool words = (label && !label->wordWrap()) || qobject_cast<QAbstractButton *>(w) ||
                                   qobject_cast<QComboBox *>(w) || qobject_cast<QAbstractSpinBox *>(w);
                if (words && w->isVisible() && w->width() < w->sizeHint().width() - 2)
                    cut << window->objectName() + "/" + w->objectName();
            }
            window->hide();
        };
        walk(&main);
        for (const auto &window : windows)
            walk(window.get());
        EXPECT_TRUE(cut.isEmpty()) << language.toStdString() << ": " << cut.join(", ").toStdString();
    }
    AppSettings.Lan = "English";
}

} // namespace

// In every translation, an Alt+letter belongs to one button of a window (or of a tab page) only.
TEST_F(LanguageFilesTest, ShortcutLettersAreOneButtonsEach)
{
    for (const QString &language : translations)
        QFile::copy(languageFile(language), home.programFolder() + "CLan_" + language + ".ini");
    TMainForm main;
    for (const QString &language : translations) {
        for (const auto &window : translatedWindows(main)) {
            ApplyLanguage(window.get(), language);
            QMap<QPair<const QWidget *, QChar>, QString> taken;
            for (const QAbstractButton *button : window->findChildren<QAbstractButton *>()) {
                const QString text = button->text();
                const qsizetype at = text.indexOf('&');
                if (at < 0 || at + 1 >= text.size() || text[at + 1] == '&')
                    continue;
                const auto key = qMakePair(shortcutScope(button), text[at + 1].toLower());
                EXPECT_FALSE(taken.contains(key))
                    << language.toStdString() << " " << window->objectName().toStdString() << ": "
                    << text.toStdString() << " and " << taken.value(key).toStdString();
                taken.insert(key, text);
            }
        }
    }
}

// The words a spin box shows for its special value are translated too.
TEST_F(LanguageFilesTest, SpinBoxWordsAreTranslated)
{
    QFile::copy(languageFile("German"), home.programFolder() + "CLan_German.ini");
    TMainForm main;
    TOptionSetForm options(main);
    ApplyLanguage(&options, "German");
    EXPECT_EQ(options.seEncoders->specialValueText(), "einer je Prozessorkern");
}

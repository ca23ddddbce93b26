// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's commands described in one table (object name, caption, shortcut, icon, what it runs and
// when it can run), and the menus, tool bar and pop-up menu made from them.
#include "ui/createm3uform.h"
#include "ui/id3editform.h"
#include "ui/oggplayerform.h"
#include "ui/recordform.h"
#include "ui/resampleform.h"
#include "mainform.h"
#include "toolicons.h"
#include "tracklistmodel.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>

struct TMainForm::ActionSpec {
    QAction *TMainForm::*member;
    const char *name;    // the object name the language files use
    const char *caption; // English, with its accelerator
    const char *shortcut;
    const char *icon; // the desktop theme's name, or nullptr
    void (*run)(TMainForm &);
    bool (*enabledWhen)(const TMainForm &); // nullptr: always
};

template <typename Window> void TMainForm::showModal(TMainForm &form)
{
    Window window(&form);
    window.exec();
}

const std::vector<TMainForm::ActionSpec> &TMainForm::actionTable()
{
    using F = TMainForm;
    const auto selected = [](const F &f) { return f.ListView1->selectionModel()->hasSelection(); };
    const auto rows = [](const F &f) { return f.Tracks->rowCount() > 0; };
    static const std::vector<ActionSpec> table = {
        {&F::miWAVtoWAV, "miWAVtoWAV", "WA&V to WAV...", nullptr, nullptr, showModal<TfrmResample>, nullptr},
        {&F::ActionWavToMp3, "ActionWavToMp3", "&WAV to MP3...", "Ctrl+W", "document-save-as",
         [](F &f) { f.ChooseAndConvert(JobKind::WavToMp3); }, nullptr},
        {&F::mnuMp3ToWav, "mnuMp3ToWav", "&MP3 to WAV...", nullptr, nullptr,
         [](F &f) { f.ChooseAndConvert(JobKind::Mp3ToWav); }, nullptr},
        {&F::miWAVtoOGG, "miWAVtoOGG", "WAV to O&GG...", nullptr, nullptr,
         [](F &f) { f.ChooseAndConvert(JobKind::WavToOgg); }, nullptr},
        {&F::miWAVtoWMA, "miWAVtoWMA", "WAV to WM&A...", nullptr, nullptr,
         [](F &f) { f.ChooseAndConvert(JobKind::WavToWma); }, nullptr},
        {&F::miWAVtoFLAC, "miWAVtoFLAC", "WAV to F&LAC...", nullptr, nullptr,
         [](F &f) { f.ChooseAndConvert(JobKind::WavToFlac); }, nullptr},
        {&F::miConvertFiles, "miConvertFiles", "Convert audio files...", nullptr, nullptr,
         [](F &f) { f.ChooseAndConvertAny(); }, nullptr},
        {&F::Openoutputdirectory1, "Openoutputdirectory1", "&Open output directory...", nullptr,
         "folder-open", [](F &f) { f.OpenOutputDirectory(); }, nullptr},
        {&F::bRefresh, "bRefresh", "&Refresh", nullptr, nullptr, [](F &f) { f.bRefreshClick(); }, nullptr},
        {&F::EjectMenu, "EjectMenu", "&Eject CD", "Ctrl+E", nullptr, [](F &f) { f.EjectCD(); }, nullptr},
        {&F::CloseCdRomMenu, "CloseCdRomMenu", "&Close CD", "Ctrl+L", nullptr, [](F &f) { f.CloseCD(); },
         nullptr},
        {&F::ActionExit, "ActionExit", "E&xit", nullptr, "application-exit", [](F &f) { f.close(); },
         nullptr},
        {&F::ActionExtract, "ActionExtract", "E&xtract", "Ctrl+X", "media-optical-audio",
         [](F &f) { f.ActionExtractExecute(); }, [](const F &f) { return f.AnyTrackChecked(); }},
        {&F::ActionSelectAll, "ActionSelectAll", "Select &All", "Ctrl+A", nullptr,
         [](F &f) { f.ActionSelectAllExecute(); }, nullptr},
        {&F::ActionNoSelect, "ActionNoSelect", "Select &None", "Ctrl+N", nullptr,
         [](F &f) { f.ActionNoSelectExecute(); }, nullptr},
        {&F::aEditTrackName, "aEditTrackName", "Rename &Title", "F2", nullptr,
         [](F &f) { f.aEditTrackNameExecute(); }, selected},
        {&F::aPlay, "aPlay", "&Play", "Ctrl+P", nullptr, [](F &f) { f.aPlayExecute(); }, selected},
        {&F::aPause, "aPause", "P&ause", nullptr, nullptr, [](F &f) { f.aPauseExecute(); },
         [](const F &f) { return f.Session.Playing && !f.Session.Paused; }},
        {&F::aStop, "aStop", "&Stop", nullptr, nullptr, [](F &f) { f.aStopExecute(); },
         [](const F &f) { return f.Session.Playing; }},
        {&F::ActionRecord, "ActionRecord", "&Record...", "Ctrl+R", "media-record",
         [](F &f) {
             TfrmRecord window(&f, &f);
             window.exec();
         },
         nullptr},
        {&F::miOGGPlayer, "miOGGPlayer", "&OGG Player...", nullptr, nullptr, showModal<TfrmOggPlayer>,
         nullptr},
        {&F::aCreateM3UPlaylist, "aCreateM3UPlaylist", "Create .m3u Playlist", nullptr, nullptr,
         showModal<TfrmCreateM3U>, nullptr},
        {&F::aID3Edit, "aID3Edit", "&ID3 Tag Edit", nullptr, nullptr, showModal<TfrmID3Edit>, nullptr},
        {&F::aQueryCDDB, "aQueryCDDB", "&Query Freedb", nullptr, nullptr, [](F &f) { f.aQueryCDDBExecute(); },
         rows},
        {&F::aQueryMusicBrainz, "aQueryMusicBrainz", "Query &MusicBrainz", nullptr, nullptr,
         [](F &f) { f.aQueryMusicBrainzExecute(); }, rows},
        {&F::mnuAbout, "mnuAbout", "&About...", nullptr, nullptr, [](F &f) { f.AboutClick(); }, nullptr},
        {&F::ActionOptionSet, "ActionOptionSet", "&Options...", "Ctrl+O", "preferences-system",
         [](F &f) { f.ActionOptionSetExecute(); }, nullptr},
        {&F::VolumeControlMenu, "VolumeControlMenu", "&Volume Control...", "Ctrl+V", nullptr,
         [](F &f) { f.VolumeControl(); }, nullptr},
        {&F::miRealOnePlayer, "miRealOnePlayer", "&RealPlayer", nullptr, nullptr,
         [](F &f) { f.ClearHistory(true); }, nullptr},
        {&F::miWindowsMediaPlayer, "miWindowsMediaPlayer", "&Windows Media Player", nullptr, nullptr,
         [](F &f) { f.ClearHistory(false); }, nullptr},
        {&F::mnuHelp, "mnuHelp", "&Help", "F1", nullptr, [](F &f) { f.HelpClick(); }, nullptr},
        // The project's pages: the one address the build names (SONDREL_HOME_PAGE); without one, no link.
        {&F::miWeb, "miWeb", "Sondrel on the &web", nullptr, nullptr,
         [](F &) { QDesktopServices::openUrl(QUrl(HomePage())); }, nullptr},
    };
    return table;
}

void TMainForm::createActions()
{
    for (const ActionSpec &spec : actionTable()) {
        auto *action = new QAction(QString::fromUtf8(spec.caption), this);
        action->setObjectName(QLatin1String(spec.name));
        if (spec.shortcut)
            action->setShortcut(QKeySequence(QLatin1String(spec.shortcut)));
        // The desktop's icon theme first; our own drawing of the same meaning when the theme has none.
        if (spec.icon)
            action->setIcon(ToolIcon(QLatin1String(spec.icon)));
        connect(action, &QAction::triggered, this, [this, run = spec.run] { run(*this); });
        this->*spec.member = action;
    }
    miWeb->setVisible(!HomePage().isEmpty());
}

void TMainForm::UpdateActions()
{
    if (!Tracks) // the window is going
        return;
    for (const ActionSpec &spec : actionTable())
        if (spec.enabledWhen)
            (this->*spec.member)->setEnabled(spec.enabledWhen(*this));
}

void TMainForm::createMenus()
{
    createActions();
    createMenuBar();
    createToolBar();
    connectTrackList();
    UpdateActions();
}

void TMainForm::createMenuBar()
{
    const auto menu = [this](const char *name, const QString &title) {
        QMenu *m = menuBar()->addMenu(title);
        m->setObjectName(QLatin1String(name));
        return m;
    };
    QMenu *file = menu("File1", QStringLiteral("&File"));
    file->addActions({miWAVtoWAV, ActionWavToMp3, mnuMp3ToWav, miWAVtoOGG, miWAVtoWMA, miWAVtoFLAC,
                      miConvertFiles, Openoutputdirectory1, bRefresh, EjectMenu, CloseCdRomMenu, ActionExit});
    QMenu *actions = menu("Actions1", QStringLiteral("&Actions"));
    actions->addActions({ActionExtract, ActionRecord, aCreateM3UPlaylist, miOGGPlayer, aPlay, aPause, aStop,
                         VolumeControlMenu});
    QMenu *history = actions->addMenu(QStringLiteral("&Clear History"));
    history->setObjectName(QStringLiteral("ClearHistory1"));
    history->addActions({miRealOnePlayer, miWindowsMediaPlayer});
    QMenu *edit = menu("Edit1", QStringLiteral("&Edit"));
    edit->addActions({ActionSelectAll, ActionNoSelect, aQueryCDDB, aQueryMusicBrainz, aEditTrackName,
                      aID3Edit, ActionOptionSet});
    miLanguage = menu("miLanguage", QStringLiteral("Language"));
    createLanguageMenu();
    QMenu *help = menu("Help1", QStringLiteral("&Help"));
    help->addActions({mnuHelp, miWeb, mnuAbout});

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    PopupMenu1->addActions(
        {ActionExtract, ActionSelectAll, ActionNoSelect, aPlay, aPause, aStop, aEditTrackName});
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListView1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { PopupMenu1->popup(ListView1->viewport()->mapToGlobal(at)); });
}

void TMainForm::createLanguageMenu()
{
    static const char *const languages[][2] = {{"miArabic", "&Arabic"},
                                               {"miCatalan", "Catalan"},
                                               {"miChinese", "&Chinese"},
                                               {"miCzech", "C&zech"},
                                               {"miDanish", "&Danish"},
                                               {"miEnglish", "&English"},
                                               {"miFrench", "&French"},
                                               {"miGerman", "&German"},
                                               {"miGreek", "G&reek"},
                                               {"miHebrew", "He&brew"},
                                               {"miHungarian", "&Hungarian"},
                                               {"miItalian", "&Italian"},
                                               {"miKurdish", "&Kurdish"},
                                               {"miLatvian", "&Latvian"},
                                               {"miNetherlands", "&Netherlands"},
                                               {"miPolish", "P&olish"},
                                               {"miPortuguese", "&Portuguese"},
                                               {"miRussian", "&Russian"},
                                               {"miSlovenian", "Slo&venian"},
                                               {"miSpanish", "&Spanish"},
                                               {"miSwedish", "S&wedish"},
                                               {"miTurkish", "&Turkish"},
                                               {"miOther", "Other"}};
    for (const auto &[name, caption] : languages) {
        if (QLatin1String(name) == QLatin1String("miOther"))
            miLanguage->addSeparator();
        QAction *item = miLanguage->addAction(QString::fromUtf8(caption));
        item->setObjectName(QLatin1String(name));
        item->setCheckable(true);
        connect(item, &QAction::triggered, this, [this, item] {
            item->setChecked(!item->isChecked()); // the click decides only when the file is there
            LanguageClick(item->objectName());
        });
    }
}

void TMainForm::createToolBar()
{
    QAction *home = new QAction(ToolIcon(QStringLiteral("go-home")), QStringLiteral("Home"), this);
    home->setObjectName(QStringLiteral("aHome"));
    connect(home, &QAction::triggered, miWeb, &QAction::trigger);
    home->setVisible(miWeb->isVisible());
    // The tool bar shows short captions of the same actions; its buttons are named for the language files.
    const std::pair<QAction *, std::pair<const char *, const char *>> buttons[] = {
        {ActionExtract, {"tbExtract", "Extract"}},
        {ActionWavToMp3, {"tbEncode", "Encode"}},
        {Openoutputdirectory1, {"tbFolder", "Folder"}},
        {ActionRecord, {"tbRecord", "Record"}},
        {ActionOptionSet, {"tbOptions", "Options"}},
        {home, {"tbHome", "Home"}},
        {ActionExit, {"tbExit", "Exit"}}};
    for (const auto &[action, names] : buttons) {
        ToolBar1->addAction(action);
        if (auto *b = qobject_cast<QToolButton *>(ToolBar1->widgetForAction(action))) {
            b->setObjectName(QLatin1String(names.first));
            b->setText(QLatin1String(names.second));
        }
    }
}

void TMainForm::connectTrackList()
{
    // Check marks, a new disc and the selection change what can be done.
    connect(Tracks, &QAbstractItemModel::dataChanged, this, &TMainForm::UpdateActions);
    connect(Tracks, &QAbstractItemModel::modelReset, this, &TMainForm::UpdateActions);
    connect(ListView1->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TMainForm::UpdateActions);
    connect(ListView1, &QTreeView::clicked, this, [this](const QModelIndex &index) {
        // Ctrl+click toggles the check box (a click on the box itself already did).
        if (index.column() != 0 && (QApplication::keyboardModifiers() & Qt::ControlModifier))
            Tracks->setData(Tracks->index(index.row(), 0),
                            Tracks->Checked(index.row()) ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
    });
    connect(ListView1, &QTreeView::doubleClicked, this, [this] { aEditTrackNameExecute(); });
}

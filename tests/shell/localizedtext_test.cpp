// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/localizedtext.h"
#include "shell/settings.h"
#include "testsupport.h"
#include "ui/applylanguage.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace {

class LocalizedTextTest : public ::testing::Test {
protected:
    TestHome home;
    void writeLanguage(const QString &language, const QString &text)
    {
        WriteFileText(home.programFolder() + "CLan_" + language + ".ini", text);
    }
};

TEST_F(LocalizedTextTest, EnglishInAnyCaseReadsNoFile)
{
    writeLanguage("english", "[ResourceString]\nRES_Play=Should not be used\n");
    writeLanguage("English", "[ResourceString]\nRES_Play=Should not be used\n");
    AppSettings.Lan = "english";
    EXPECT_EQ(LocalizedText("RES_Play", "Play "), "Play ");
    AppSettings.Lan = "ENGLISH";
    EXPECT_EQ(LocalizedText("RES_Play", "Play "), "Play ");
}

TEST_F(LocalizedTextTest, MessagesComeFromTheLanguageFile)
{
    writeLanguage("German", "[ResourceString]\nRES_Select_Track=Bitte Titel wählen\n");
    AppSettings.Lan = "German";
    EXPECT_EQ(LocalizedText("RES_Select_Track", "Please select track"),
              QString::fromUtf8("Bitte Titel wählen"));
    // A key missing from the file gives the English text, as does a language without a file.
    EXPECT_EQ(LocalizedText("RES_Play", "Play "), "Play ");
    AppSettings.Lan = "Kurdish";
    EXPECT_EQ(LocalizedText("RES_Select_Track", "Please select track"), "Please select track");
}

TEST_F(LocalizedTextTest, FileIsReadAnewAtEveryCall)
{
    AppSettings.Lan = "French";
    writeLanguage("French", "[ResourceString]\nRES_Play=Jouer \n");
    EXPECT_EQ(LocalizedText("RES_Play", "Play "), "Jouer");
    writeLanguage("French", "[ResourceString]\nRES_Play=Lire\n");
    EXPECT_EQ(LocalizedText("RES_Play", "Play "), "Lire");
    // Quotes keep the spaces a message is joined at; \n breaks a line.
    writeLanguage("French", "[ResourceString]\nRES_Play=\"Lecture \"\nRES_Two=un\\ndeux\nRES_Q=\"\n");
    EXPECT_EQ(LocalizedText("RES_Play", "Play "), "Lecture ");
    EXPECT_EQ(LocalizedText("RES_Two", ""), "un\ndeux");
    EXPECT_EQ(LocalizedText("RES_Q", "x"), "\"");
}

// A window with one component of each kind the language files address.
struct SampleWindow {
    QMainWindow window;
    QLabel *label;
    QPushButton *button;
    QCheckBox *check;
    QGroupBox *group;
    QComboBox *combo;
    QTreeWidget *list;
    QTabWidget *tabs;
    QMenu *fileMenu;
    QAction *open;
    QAction *separator;
    QAction *exit;
    QLabel *unnamed;

    SampleWindow()
    {
        window.setObjectName("SampleForm");
        window.setWindowTitle("Sample");
        auto *central = new QWidget(&window);
        auto *layout = new QVBoxLayout(central);
        window.setCentralWidget(central);
        const auto named = [](QObject *o, const char *name) {
            o->setObjectName(name);
            return o;
        };
        label = static_cast<QLabel *>(named(new QLabel("Label", central), "Label1"));
        button = static_cast<QPushButton *>(named(new QPushButton("Button", central), "btStop"));
        check = static_cast<QCheckBox *>(named(new QCheckBox("Check", central), "cbKeep"));
        group = static_cast<QGroupBox *>(named(new QGroupBox("Group", central), "GroupBox1"));
        combo = static_cast<QComboBox *>(named(new QComboBox(central), "cbStereoMode"));
        combo->addItems({"zero", "one", "two"});
        list = static_cast<QTreeWidget *>(named(new QTreeWidget(central), "ListView1"));
        list->setHeaderLabels({"No.", "Title", "Length(min)", "Size(MB)"});
        tabs = static_cast<QTabWidget *>(named(new QTabWidget(central), "PageControl1"));
        tabs->addTab(new QWidget, "General");
        tabs->addTab(new QWidget, "MP3");
        unnamed = new QLabel("No name", central);
        for (QWidget *w :
             std::initializer_list<QWidget *>{label, button, check, group, combo, list, tabs, unnamed})
            layout->addWidget(w);

        fileMenu = window.menuBar()->addMenu("&File");
        fileMenu->setObjectName("File1");
        open = fileMenu->addAction("&Open");
        open->setObjectName("mnuOpen");
        separator = fileMenu->addSeparator();
        separator->setObjectName("N1");
        exit = fileMenu->addAction("E&xit");
        exit->setObjectName("mnuExit");
        window.statusBar()->setObjectName("StatusBar1");
        window.statusBar()->showMessage("Ready");
    }
};

TEST_F(LocalizedTextTest, ApplyLanguageReplacesEveryKindOfText)
{
    writeLanguage("German",
                  "[SampleForm]\nSampleForm=Beispiel\nLabel1=Etikett\nbtStop=Halt\ncbKeep=Behalten\n"
                  "GroupBox1=Gruppe\ncbStereoMode_Item0=null\ncbStereoMode_Item2=zwei\n"
                  "ListView1_Column0=Nr.\nListView1_Column3=Größe\nPageControl1_Page1=Seite 2\n"
                  "StatusBar1=Bereit\n"
                  "[Menu_SampleForm]\nFile1=&Datei\nmnuOpen=Ö&ffnen\nN1=must not appear\n");
    SampleWindow w;
    w.window.show();
    ApplyLanguage(&w.window, "German");

    EXPECT_EQ(w.window.windowTitle(), "Beispiel");
    EXPECT_EQ(w.label->text(), "Etikett");
    EXPECT_EQ(w.button->text(), "Halt");
    EXPECT_EQ(w.check->text(), "Behalten");
    EXPECT_EQ(w.group->title(), "Gruppe");
    EXPECT_EQ(w.combo->itemText(0), "null");
    EXPECT_EQ(w.combo->itemText(1), "one");
    EXPECT_EQ(w.combo->itemText(2), "zwei");
    EXPECT_EQ(w.list->headerItem()->text(0), "Nr.");
    EXPECT_EQ(w.list->headerItem()->text(1), "Title");
    EXPECT_EQ(w.list->headerItem()->text(3), QString::fromUtf8("Größe"));
    EXPECT_EQ(w.tabs->tabText(0), "General");
    EXPECT_EQ(w.tabs->tabText(1), "Seite 2");
    EXPECT_EQ(w.window.statusBar()->currentMessage(), "Bereit");
    EXPECT_EQ(w.fileMenu->title(), "&Datei");
    EXPECT_EQ(w.open->text(), QString::fromUtf8("Ö&ffnen"));
    EXPECT_EQ(w.exit->text(), "E&xit");
    EXPECT_TRUE(w.separator->isSeparator());
    EXPECT_EQ(w.separator->text(), "");
    EXPECT_EQ(w.unnamed->text(), "No name");
}

TEST_F(LocalizedTextTest, MissingLanguageFileLeavesEverything)
{
    SampleWindow w;
    ApplyLanguage(&w.window, "Turkish");
    EXPECT_EQ(w.window.windowTitle(), "Sample");
    EXPECT_EQ(w.label->text(), "Label");
    EXPECT_EQ(w.combo->itemText(2), "two");
    EXPECT_EQ(w.open->text(), "&Open");
}

TEST_F(LocalizedTextTest, StatusBarPanels)
{
    writeLanguage("Greek", "[SampleForm]\nStatusBar1_Panel1=second\nStatusBar1=simple\n");
    SampleWindow w;
    auto *first = new QLabel("first");
    auto *second = new QLabel("two");
    w.window.statusBar()->addWidget(first);
    w.window.statusBar()->addWidget(second);
    ApplyLanguage(&w.window, "Greek");
    EXPECT_EQ(first->text(), "first");
    EXPECT_EQ(second->text(), "second");
    EXPECT_EQ(w.window.statusBar()->currentMessage(), "Ready");
}

TEST_F(LocalizedTextTest, MissingLanguageFileIsLookedForBesideTheProgram)
{
    const QString path = LanguageFilePath("Nowhere");
    EXPECT_EQ(path, home.programFolder() + "CLan_Nowhere.ini");
}

} // namespace

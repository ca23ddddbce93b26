// SPDX-License-Identifier: GPL-3.0-or-later
#include "applylanguage.h"

#include "shell/inifile.h"
#include "shell/localizedtext.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QMenu>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTranslator>
#include <QTreeWidget>
#include <functional>
#include <memory>

namespace {

const char untranslatedProperty[] = "sondrelUntranslated";

bool IsUntranslated(const QObject *object)
{
    return object->property(untranslatedProperty).toBool();
}

// Walks a window's translatable texts in ownership order; lookup(section, key, current) gives each text's
// replacement.
class TextWalker {
public:
    using Lookup = std::function<QString(const QString &section, const QString &key, const QString &current)>;

    TextWalker(const QString &windowName, Lookup lookup)
        : m_section(windowName), m_menuSection(QStringLiteral("Menu_") + windowName),
          m_lookup(std::move(lookup))
    {
    }

    QString text(const QString &key, const QString &current) const
    {
        return m_lookup(m_section, key, current);
    }
    QString menuText(const QString &key, const QString &current) const
    {
        return m_lookup(m_menuSection, key, current);
    }

    void apply(QObject *object) const
    {
        const QString name = object->objectName();
        // Qt's own parts of a widget (a tab bar's scroll buttons, a tool bar's extension button) are not
        // ours.
        if (name.isEmpty() || name.startsWith(QLatin1String("qt_")) || IsUntranslated(object) ||
            qobject_cast<QTabBar *>(object->parent()))
            return;
        const auto indexed = [&name](const char *what, int j) {
            return name + QLatin1String(what) + QString::number(j);
        };

        if (auto *label = qobject_cast<QLabel *>(object)) {
            label->setText(text(name, label->text()));
        } else if (auto *button = qobject_cast<QAbstractButton *>(object)) {
            button->setText(text(name, button->text()));
        } else if (auto *group = qobject_cast<QGroupBox *>(object)) {
            group->setTitle(text(name, group->title()));
        } else if (auto *spin = qobject_cast<QAbstractSpinBox *>(object)) {
            // The text shown for the special value ("one per processor core").
            // Its smallest size does not grow with the words, so a layout short of room would cut them off.
            if (!spin->specialValueText().isEmpty()) {
                spin->setSpecialValueText(text(name + QLatin1String("_Special"), spin->specialValueText()));
                spin->setMinimumWidth(spin->sizeHint().width());
            }
        } else if (auto *combo = qobject_cast<QComboBox *>(object)) {
            if (combo->isEditable())
                combo->setEditText(text(name + QLatin1String("_Text"), combo->currentText()));
            for (int j = 0; j < combo->count(); ++j)
                combo->setItemText(j, text(indexed("_Item", j), combo->itemText(j)));
            if (combo->count() > 0) // as for spin boxes: the longest item fits
                combo->setMinimumWidth(combo->sizeHint().width());
        } else if (auto *status = qobject_cast<QStatusBar *>(object)) {
            applyStatusBar(status, name);
        } else if (auto *tabs = qobject_cast<QTabWidget *>(object)) {
            for (int j = 0; j < tabs->count(); ++j)
                tabs->setTabText(j, text(indexed("_Page", j), tabs->tabText(j)));
        } else if (auto *view = qobject_cast<QAbstractItemView *>(object)) {
            applyColumns(view, name);
        } else if (auto *menu = qobject_cast<QMenu *>(object)) {
            menu->setTitle(menuText(name, menu->title()));
        } else if (auto *action = qobject_cast<QAction *>(object)) {
            if (!action->isSeparator() && isMenuItem(action))
                action->setText(menuText(name, action->text()));
        }
    }

    void applyAll(QWidget *window) const
    {
        if (!IsUntranslated(window))
            window->setWindowTitle(text(window->objectName(), window->windowTitle()));
        // findChildren walks the ownership tree depth first, in creation order. Menus and their items come
        // first: a tool button showing an item takes the item's new text, and its own key then overrides it.
        const QList<QObject *> components = window->findChildren<QObject *>();
        const auto isMenuPart = [](QObject *o) {
            return qobject_cast<QMenu *>(o) || qobject_cast<QAction *>(o);
        };
        for (QObject *component : components) {
            if (isMenuPart(component))
                apply(component);
        }
        for (QObject *component : components) {
            if (!isMenuPart(component))
                apply(component);
        }
    }

private:
    static bool isMenuItem(const QAction *action)
    {
        const auto owners = action->associatedObjects();
        return std::any_of(owners.begin(), owners.end(),
                           [](QObject *owner) { return qobject_cast<QMenu *>(owner) != nullptr; });
    }

    void applyStatusBar(QStatusBar *status, const QString &name) const
    {
        const QList<QLabel *> panels = status->findChildren<QLabel *>(Qt::FindDirectChildrenOnly);
        if (panels.isEmpty()) {
            status->showMessage(text(name, status->currentMessage()));
            return;
        }
        for (int j = 0; j < panels.size(); ++j)
            panels[j]->setText(text(name + QLatin1String("_Panel") + QString::number(j), panels[j]->text()));
    }

    void applyColumns(QAbstractItemView *view, const QString &name) const
    {
        if (qobject_cast<QHeaderView *>(view))
            return;
        const auto key = [&name](int j) { return name + QLatin1String("_Column") + QString::number(j); };
        if (auto *tree = qobject_cast<QTreeWidget *>(view)) {
            QTreeWidgetItem *header = tree->headerItem();
            for (int j = 0; j < tree->columnCount(); ++j)
                header->setText(j, text(key(j), header->text(j)));
            return;
        }
        if (auto *table = qobject_cast<QTableWidget *>(view)) {
            for (int j = 0; j < table->columnCount(); ++j) {
                if (QTableWidgetItem *item = table->horizontalHeaderItem(j))
                    item->setText(text(key(j), item->text()));
            }
            return;
        }
        QAbstractItemModel *model = view->model();
        if (!model)
            return;
        for (int j = 0; j < model->columnCount(); ++j) {
            const QString current = model->headerData(j, Qt::Horizontal).toString();
            const QString replaced = text(key(j), current);
            if (replaced != current)
                model->setHeaderData(j, Qt::Horizontal, replaced);
        }
    }

    QString m_section;
    QString m_menuSection;
    Lookup m_lookup;
};

} // namespace

void KeepUntranslated(QObject *component)
{
    component->setProperty(untranslatedProperty, true);
}

void NameRowLabels(QWidget *window)
{
    for (QFormLayout *form : window->findChildren<QFormLayout *>()) {
        for (int row = 0; row < form->rowCount(); ++row) {
            QLayoutItem *labelItem = form->itemAt(row, QFormLayout::LabelRole);
            QLayoutItem *fieldItem = form->itemAt(row, QFormLayout::FieldRole);
            auto *label = labelItem ? qobject_cast<QLabel *>(labelItem->widget()) : nullptr;
            QWidget *field = fieldItem ? fieldItem->widget() : nullptr;
            if (label && field && label->objectName().isEmpty() && !field->objectName().isEmpty())
                label->setObjectName(field->objectName() + QLatin1String("_Label"));
        }
    }
}

void ApplyLanguage(QWidget *window, const QString &language)
{
    if (!window)
        return;
    const IniFile ini(LanguageFilePath(language));
    TextWalker(window->objectName(), [&ini](const QString &section, const QString &key,
                                            const QString &current) {
        return LanguageFileText(ini, section, key, current);
    }).applyAll(window);
}

QList<LanguageEntry> LanguageEntries(QWidget *window)
{
    QList<LanguageEntry> entries;
    if (!window)
        return entries;
    TextWalker(window->objectName(), [&entries](const QString &section, const QString &key,
                                                const QString &current) {
        if (!current.isEmpty())
            entries.append({section, key, current});
        return current;
    }).applyAll(window);
    return entries;
}

bool LoadQtTranslations(const QString &language)
{
    static QTranslator *installed = nullptr;
    if (installed) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
        installed = nullptr;
    }
    // The language file's name is the language's English name, as Qt names it too.
    for (int value = QLocale::AnyLanguage + 1; value <= QLocale::LastLanguage; ++value) {
        const auto candidate = QLocale::Language(value);
        if (QLocale::languageToString(candidate).compare(language, Qt::CaseInsensitive) != 0)
            continue;
        if (candidate == QLocale::English)
            return false;
        auto translator = std::make_unique<QTranslator>();
        if (!translator->load(QLocale(candidate), QStringLiteral("qtbase"), QStringLiteral("_"),
                              QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            return false;
        installed = translator.release();
        QCoreApplication::installTranslator(installed);
        return true;
    }
    return false;
}

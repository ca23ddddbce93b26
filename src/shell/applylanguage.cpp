#include "applylanguage.h"

#include "inifile.h"
#include "localizedtext.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTreeWidget>

namespace {

class Translator {
public:
    Translator(const IniFile &ini, const QString &windowName)
        : m_ini(ini), m_section(windowName), m_menuSection(QStringLiteral("Menu_") + windowName)
    {
    }

    QString text(const QString &key, const QString &current) const
    {
        return m_ini.readString(m_section, key, current);
    }
    QString menuText(const QString &key, const QString &current) const
    {
        return m_ini.readString(m_menuSection, key, current);
    }

    void apply(QObject *object) const
    {
        const QString name = object->objectName();
        if (name.isEmpty())
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
        } else if (auto *combo = qobject_cast<QComboBox *>(object)) {
            if (combo->isEditable())
                combo->setEditText(text(name + QLatin1String("_Text"), combo->currentText()));
            for (int j = 0; j < combo->count(); ++j)
                combo->setItemText(j, text(indexed("_Item", j), combo->itemText(j)));
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

    const IniFile &m_ini;
    QString m_section;
    QString m_menuSection;
};

} // namespace

void ApplyLanguage(QWidget *window, const QString &language)
{
    if (!window)
        return;
    const IniFile ini(LanguageFilePath(language));
    const Translator translator(ini, window->objectName());
    window->setWindowTitle(translator.text(window->objectName(), window->windowTitle()));
    // findChildren walks the ownership tree depth first, in creation order.
    const QList<QObject *> components = window->findChildren<QObject *>();
    for (QObject *component : components)
        translator.apply(component);
}

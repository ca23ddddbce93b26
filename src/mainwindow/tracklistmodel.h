// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>

class TDiscModel;

// The main window's track list: the disc's rows (number, title, length, size) with a check mark each, for a
// QTreeView. The titles are the disc's own (TDiscModel): one typed into a row goes into the disc, and one the
// disc gets (a lookup, a rename) shows at once. A new disc checks every row.
class TTrackListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TTrackListModel(TDiscModel &disc, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // The language files rename the columns through this.
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant &value,
                       int role = Qt::EditRole) override;

    bool Checked(int row) const { return m_checked.value(row); }
    bool AnyChecked() const { return m_checked.contains(true); }
    void SetAllChecked(bool checked);
    // After a lookup through the library route the titles are shown left-aligned.
    void SetTitlesLeftAligned();

    // "mm:ss" and the size of the audio in MB with two decimals, as the columns show them.
    static QString LengthText(int minutes, int seconds);
    static QString SizeText(int minutes, int seconds);

private:
    void reset();

    TDiscModel &m_disc;
    QList<bool> m_checked;
    QStringList m_headers;
    bool m_titlesLeft = false;
};

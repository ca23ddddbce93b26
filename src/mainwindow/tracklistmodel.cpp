// SPDX-License-Identifier: GPL-3.0-or-later
#include "tracklistmodel.h"

#include "cdrom/discmodel.h"
#include "shell/helpers.h"

#include <cmath>

namespace {

enum Column { NumberColumn, TitleColumn, LengthColumn, SizeColumn, ColumnCount };

} // namespace

TTrackListModel::TTrackListModel(TDiscModel &disc, QObject *parent)
    : QAbstractTableModel(parent),
      m_disc(disc), m_headers{QStringLiteral("No."), QStringLiteral("Title"), QStringLiteral("Length(min)"),
                              QStringLiteral("Size(MB)")}
{
    connect(&m_disc, &TDiscModel::RowsReset, this, &TTrackListModel::reset);
    connect(&m_disc, &TDiscModel::TitleChanged, this, [this](int row) {
        emit dataChanged(index(row, TitleColumn), index(row, TitleColumn), {Qt::DisplayRole, Qt::EditRole});
    });
    m_checked = QList<bool>(m_disc.RowCount(), true);
}

void TTrackListModel::reset()
{
    beginResetModel();
    m_checked = QList<bool>(m_disc.RowCount(), true);
    endResetModel();
}

int TTrackListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_checked.size());
}

int TTrackListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TTrackListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.row() >= m_disc.RowCount())
        return {};
    const int row = index.row();
    const TDiscTrack &track = m_disc.Track(row);
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        switch (index.column()) {
        case NumberColumn:
            return QString::number(track.Number);
        case TitleColumn:
            return m_disc.Title(row);
        case LengthColumn:
            return LengthText(track.Minutes, track.Seconds);
        default:
            return SizeText(track.Minutes, track.Seconds);
        }
    case Qt::CheckStateRole:
        if (index.column() == NumberColumn)
            return m_checked.at(row) ? Qt::Checked : Qt::Unchecked;
        return {};
    case Qt::TextAlignmentRole:
        if (index.column() == LengthColumn || index.column() == SizeColumn)
            return int(Qt::AlignCenter);
        if (index.column() == TitleColumn && m_titlesLeft)
            return int(Qt::AlignLeft | Qt::AlignVCenter);
        return {};
    default:
        return {};
    }
}

bool TTrackListModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.row() >= rowCount())
        return false;
    if (role == Qt::CheckStateRole && index.column() == NumberColumn) {
        m_checked[index.row()] = value.toInt() == Qt::Checked;
        emit dataChanged(index, index, {Qt::CheckStateRole});
        return true;
    }
    if (role == Qt::EditRole && index.column() == TitleColumn) {
        m_disc.SetTitle(index.row(), value.toString()); // shown back through TitleChanged
        return true;
    }
    return false;
}

Qt::ItemFlags TTrackListModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.column() == NumberColumn)
        flags |= Qt::ItemIsUserCheckable;
    if (index.column() == TitleColumn)
        flags |= Qt::ItemIsEditable;
    return flags;
}

QVariant TTrackListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return m_headers.at(section);
    if (role == Qt::TextAlignmentRole) {
        if (section == LengthColumn || section == SizeColumn)
            return int(Qt::AlignCenter);
        if (section == TitleColumn && m_titlesLeft)
            return int(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return {};
}

bool TTrackListModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant &value, int role)
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount ||
        (role != Qt::EditRole && role != Qt::DisplayRole))
        return false;
    m_headers[section] = value.toString();
    emit headerDataChanged(orientation, section, section);
    return true;
}

void TTrackListModel::SetAllChecked(bool checked)
{
    if (m_checked.isEmpty())
        return;
    m_checked.fill(checked);
    emit dataChanged(index(0, NumberColumn), index(rowCount() - 1, NumberColumn), {Qt::CheckStateRole});
}

void TTrackListModel::SetTitlesLeftAligned()
{
    m_titlesLeft = true;
    emit headerDataChanged(Qt::Horizontal, TitleColumn, TitleColumn);
    if (rowCount() > 0)
        emit dataChanged(index(0, TitleColumn), index(rowCount() - 1, TitleColumn), {Qt::TextAlignmentRole});
}

QString TTrackListModel::LengthText(int minutes, int seconds)
{
    return TwoDigits(minutes) + QLatin1Char(':') + TwoDigits(seconds);
}

QString TTrackListModel::SizeText(int minutes, int seconds)
{
    const double bytes = double(minutes * 60 + seconds) * 176400.0;
    const int64_t h = int64_t(std::nearbyint(bytes / 1048576.0 * 100.0));
    return TwoDigits(int(h / 100)) + QLatin1Char('.') + TwoDigits(int(h % 100));
}

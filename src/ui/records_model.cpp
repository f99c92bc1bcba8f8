#include "ui/records_model.h"

namespace dunmore::ui {

void RecordsModel::setColumns(const QStringList& headings) {
    beginResetModel();
    m_columns = headings;
    m_rows.clear();
    endResetModel();
}

void RecordsModel::setRows(std::vector<QStringList> rows) {
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

void RecordsModel::clear() {
    beginResetModel();
    m_columns.clear();
    m_rows.clear();
    endResetModel();
}

int RecordsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int RecordsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant RecordsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    const QStringList& row = m_rows[static_cast<std::size_t>(index.row())];
    return index.column() < row.size() ? row[index.column()] : QString();
}

QVariant RecordsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Vertical) return section + 1;
    return section >= 0 && section < m_columns.size() ? m_columns[section] : QVariant();
}

}  // namespace dunmore::ui

#pragma once

#include <QAbstractTableModel>
#include <QStringList>

#include <string>
#include <vector>

namespace dunmore::ui {

// The rows of the records list: a heading per column and the value texts of one page
// (or of a table's column grid). The texts are what the engine decoded; data() shows
// them as they are.
class RecordsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    void setColumns(const QStringList& headings);
    // Replaces the rows; the columns stay.
    void setRows(std::vector<QStringList> rows);
    // Removes every row and every column.
    void clear();

    const QStringList& columns() const { return m_columns; }
    const std::vector<QStringList>& rows() const { return m_rows; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QStringList m_columns;
    std::vector<QStringList> m_rows;
};

}  // namespace dunmore::ui

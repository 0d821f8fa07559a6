#pragma once

#include "mainwindow/quicksend.h"

#include <QAbstractTableModel>

// The quick-send list as a table: name and payload are edited in place, the
// two options are check boxes, the last column holds each row's send button.
class QuickSendModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Name, Payload, Hex, NewLine, Send, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool insertRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;
    bool removeRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;
    bool moveRows(const QModelIndex &sourceParent, int sourceRow, int count, const QModelIndex &destinationParent,
                  int destinationChild) override;

    const QuickSendList &rows() const { return list; }
    void setRows(const QuickSendList &rows);
    void appendRows(const QuickSendList &rows);

private:
    QuickSendList list;
};

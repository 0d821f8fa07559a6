#include "mainwindow/quicksendmodel.h"

int QuickSendModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(list.size());
}

int QuickSendModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant QuickSendModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const QuickSend &row = list[index.row()];
    const bool text = role == Qt::DisplayRole || role == Qt::EditRole;
    switch (index.column()) {
    case Name:
        return text ? QVariant(row.name) : QVariant();
    case Payload:
        return text ? QVariant(row.payload) : QVariant();
    case Hex:
        return role == Qt::CheckStateRole ? QVariant(row.hex ? Qt::Checked : Qt::Unchecked) : QVariant();
    case NewLine:
        return role == Qt::CheckStateRole ? QVariant(row.newLine ? Qt::Checked : Qt::Unchecked) : QVariant();
    default:  // the view shows a button here
        return {};
    }
}

bool QuickSendModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return false;
    QuickSend &row = list[index.row()];
    const int column = index.column();
    if (role == Qt::EditRole && (column == Name || column == Payload))
        (column == Name ? row.name : row.payload) = value.toString();
    else if (role == Qt::CheckStateRole && (column == Hex || column == NewLine))
        (column == Hex ? row.hex : row.newLine) = value.value<Qt::CheckState>() == Qt::Checked;
    else
        return false;
    emit dataChanged(index, index, { role });
    return true;
}

QVariant QuickSendModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)  // the first nine rows have their keys
        return section < 9 ? QStringLiteral("Ctrl+%1").arg(section + 1) : QString::number(section + 1);
    static const char *const titles[] = { "名称", "内容", "HEX", "换行", "" };
    return section >= 0 && section < ColumnCount ? QString::fromUtf8(titles[section]) : QString();
}

Qt::ItemFlags QuickSendModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    switch (index.column()) {
    case Name:
    case Payload:
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
    case Hex:
    case NewLine:
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
    default:
        return Qt::ItemIsEnabled;
    }
}

bool QuickSendModel::insertRows(int row, int count, const QModelIndex &parent)
{
    if (parent.isValid() || row < 0 || row > list.size() || count < 1)
        return false;
    beginInsertRows(parent, row, row + count - 1);
    list.insert(row, count, QuickSend());
    endInsertRows();
    return true;
}

bool QuickSendModel::removeRows(int row, int count, const QModelIndex &parent)
{
    if (parent.isValid() || row < 0 || count < 1 || row + count > list.size())
        return false;
    beginRemoveRows(parent, row, row + count - 1);
    list.remove(row, count);
    endRemoveRows();
    return true;
}

bool QuickSendModel::moveRows(const QModelIndex &sourceParent, int sourceRow, int count,
                              const QModelIndex &destinationParent, int destinationChild)
{
    if (sourceParent.isValid() || destinationParent.isValid() || sourceRow < 0 || count < 1
        || sourceRow + count > list.size() || destinationChild < 0 || destinationChild > list.size()
        || (destinationChild >= sourceRow && destinationChild <= sourceRow + count))
        return false;
    beginMoveRows(sourceParent, sourceRow, sourceRow + count - 1, destinationParent, destinationChild);
    const QuickSendList moved = list.mid(sourceRow, count);
    list.remove(sourceRow, count);
    const int target = destinationChild > sourceRow ? destinationChild - count : destinationChild;
    for (int i = 0; i < count; ++i)
        list.insert(target + i, moved[i]);
    endMoveRows();
    return true;
}

void QuickSendModel::setRows(const QuickSendList &rows)
{
    beginResetModel();
    list = rows;
    endResetModel();
}

void QuickSendModel::appendRows(const QuickSendList &rows)
{
    if (rows.isEmpty())
        return;
    beginInsertRows(QModelIndex(), int(list.size()), int(list.size() + rows.size()) - 1);
    list.append(rows);
    endInsertRows();
}

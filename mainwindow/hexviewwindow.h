#pragma once

#include <QAbstractTableModel>
#include <QByteArray>
#include <QTimer>
#include <QWidget>

class QComboBox;
class QTableView;
class ReceivedBytes;

// The bytes of one source (or of all) as hex dump rows of 16. Rows are made
// when asked for, so a million rows cost no more than a screenful.
class HexViewModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { OffsetColumn, HexColumn, AsciiColumn, ColumnCount };

    explicit HexViewModel(const ReceivedBytes *bytes, QObject *parent = nullptr);

    // A source number of the store, or ReceivedBytes::AllSources.
    void setSource(int source);
    // Brings the rows in line with the store: rows that left at the top go,
    // new ones are added at the bottom. Returns how many rows left the top.
    int sync();
    // The bytes that `row` shows.
    QByteArray rowBytes(int row) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    qint64 rowOffset(int row) const;

    const ReceivedBytes *bytes;
    int source;
    qint64 firstRow = 0;  // offset / 16 of the first row
    int rows = 0;
    qint64 shownEnd = 0;
};

// A tool window with the bytes a page received as a hex dump, by source.
// It follows new data while scrolled to the end and stays put otherwise.
class HexViewWindow : public QWidget
{
    Q_OBJECT

public:
    HexViewWindow(ReceivedBytes *bytes, const QString &pageName, QWidget *parent);

    // Copies the hex pairs of the selected rows, a line per row.
    void copyRows();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void listSources();
    void follow();

    ReceivedBytes *bytes;
    HexViewModel *model;
    QComboBox *sourceList;
    QTableView *table;
    QTimer syncTimer;
};

#include "mainwindow/hexviewwindow.h"

#include "mainwindow/hexdump.h"
#include "mainwindow/receivedbytes.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

HexViewModel::HexViewModel(const ReceivedBytes *bytes, QObject *parent)
    : QAbstractTableModel(parent)
    , bytes(bytes)
    , source(ReceivedBytes::AllSources)
{
}

void HexViewModel::setSource(int shown)
{
    beginResetModel();
    source = shown;
    rows = 0;
    shownEnd = 0;
    endResetModel();
    sync();
}

int HexViewModel::sync()
{
    const qint64 begin = bytes->begin(source);
    const qint64 end = bytes->end(source);
    const qint64 first = begin / HexRowBytes;
    const int count = end > begin ? int((end + HexRowBytes - 1) / HexRowBytes - first) : 0;
    // Emptied, or everything shown has left: start over.
    if (end < shownEnd || rows == 0 || first - firstRow >= rows) {
        beginResetModel();
        firstRow = first;
        rows = count;
        shownEnd = end;
        endResetModel();
        return 0;
    }
    const int gone = int(first - firstRow);
    if (gone > 0) {
        beginRemoveRows(QModelIndex(), 0, gone - 1);
        rows -= gone;
        firstRow = first;
        endRemoveRows();
    }
    // The first row may have lost bytes at its start, the last one gained some.
    emit dataChanged(index(0, 0), index(0, ColumnCount - 1));
    emit dataChanged(index(rows - 1, 0), index(rows - 1, ColumnCount - 1));
    if (count > rows) {
        beginInsertRows(QModelIndex(), rows, count - 1);
        rows = count;
        endInsertRows();
    }
    shownEnd = end;
    return gone;
}

qint64 HexViewModel::rowOffset(int row) const
{
    return (firstRow + row) * HexRowBytes;
}

QByteArray HexViewModel::rowBytes(int row) const
{
    const qint64 start = rowOffset(row);
    const qint64 from = qMax(start, bytes->begin(source));
    return bytes->read(source, from, start + HexRowBytes - from);
}

int HexViewModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : rows;
}

int HexViewModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant HexViewModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rows)
        return QVariant();
    const qint64 start = rowOffset(index.row());
    const int lead = int(qMax<qint64>(0, bytes->begin(source) - start));
    const HexRow row = hexDumpRow(start, rowBytes(index.row()), lead);
    switch (index.column()) {
    case OffsetColumn:
        return row.offset;
    case HexColumn:
        return row.hex;
    default:
        return row.ascii;
    }
}

QVariant HexViewModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    static const char *const titles[] = { "偏移", "十六进制", "ASCII" };
    return QString::fromUtf8(titles[section]);
}

HexViewWindow::HexViewWindow(ReceivedBytes *bytes, const QString &pageName, QWidget *parent)
    : QWidget(parent, Qt::Tool)
    , bytes(bytes)
    , model(new HexViewModel(bytes, this))
    , sourceList(new QComboBox(this))
    , table(new QTableView(this))
{
    setObjectName(QStringLiteral("HexViewWindow"));
    setWindowTitle(QStringLiteral("十六进制查看 - %1").arg(pageName));

    sourceList->setObjectName(QStringLiteral("HexViewSource"));
    sourceList->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    listSources();
    connect(bytes, &ReceivedBytes::sourceAdded, this,
            [this](const QString &name) { sourceList->addItem(name, sourceList->count() - 1); });
    connect(bytes, &ReceivedBytes::cleared, this, &HexViewWindow::listSources);
    connect(sourceList, &QComboBox::currentIndexChanged, this, [this] {
        model->setSource(sourceList->currentData().toInt());
        table->scrollToBottom();
    });

    table->setObjectName(QStringLiteral("HexViewTable"));
    table->setModel(model);
    table->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    table->setWordWrap(false);
    table->setShowGrid(false);
    table->setCornerButtonEnabled(false);
    table->verticalHeader()->hide();
    // Every row is one line high, so none of them has to be measured.
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 4);
    table->horizontalHeader()->setStretchLastSection(true);
    // The theme pads items widely and hides their selection; rows here are dense and selectable.
    table->setStyleSheet(QStringLiteral("QTableView::item { padding: 0px 6px; }"
                                        "QTableView::item:selected { background: #e8e8e8; }"));
    table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    auto *copy = new QAction(QStringLiteral("复制"), table);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    connect(copy, &QAction::triggered, this, &HexViewWindow::copyRows);
    table->addAction(copy);
    table->setContextMenuPolicy(Qt::ActionsContextMenu);
    // The view takes Ctrl+C as a key for copying its current cell, before any shortcut.
    table->installEventFilter(this);

    // New data is shown at most every so often: a flood arrives in thousands of chunks a second.
    syncTimer.setSingleShot(true);
    syncTimer.setInterval(100);
    connect(&syncTimer, &QTimer::timeout, this, &HexViewWindow::follow);
    connect(bytes, &ReceivedBytes::appended, this, [this] {
        if (isVisible() && !syncTimer.isActive())
            syncTimer.start();
    });

    auto *sourceRow = new QHBoxLayout;
    sourceRow->addWidget(new QLabel(QStringLiteral("来源："), this));
    sourceRow->addWidget(sourceList);
    sourceRow->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(sourceRow);
    layout->addWidget(table);
    resize(table->fontMetrics().horizontalAdvance(QString(96, u'0')), 420);
}

void HexViewWindow::listSources()
{
    const QSignalBlocker quiet(sourceList);
    sourceList->clear();
    sourceList->addItem(QStringLiteral("全部"), ReceivedBytes::AllSources);
    const QStringList names = bytes->sources();
    for (int number = 0; number < names.size(); ++number)
        sourceList->addItem(names[number], number);
    model->setSource(ReceivedBytes::AllSources);
}

void HexViewWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Measured once the theme is applied: the columns hold fixed-width text.
    const QFontMetrics metrics = table->fontMetrics();
    const int widths[] = { 8, 48, 16 };
    for (int column = 0; column < HexViewModel::ColumnCount; ++column)
        table->setColumnWidth(column, metrics.horizontalAdvance(QString(widths[column], u'0')) + 16);
    follow();
}

void HexViewWindow::follow()
{
    QScrollBar *bar = table->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    const int shown = bar->value();
    // Scrolled by rows, so the rows on screen stay there when older ones leave.
    const int gone = model->sync();
    if (atEnd)
        table->scrollToBottom();
    else
        bar->setValue(shown - gone);
}

bool HexViewWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == table && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->matches(QKeySequence::Copy)) {
        copyRows();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void HexViewWindow::copyRows()
{
    QModelIndexList selected = table->selectionModel()->selectedRows();
    std::sort(selected.begin(), selected.end());
    QStringList lines;
    for (const QModelIndex &row : std::as_const(selected))
        lines << QString::fromLatin1(model->rowBytes(row.row()).toHex(' '));
    QApplication::clipboard()->setText(lines.join(u'\n'));
}

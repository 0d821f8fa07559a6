#include "mainwindow/quicksendwindow.h"
#include "ui_quicksendwindow.h"

#include "mainwindow/payload.h"
#include "mainwindow/plainmessage.h"
#include "mainwindow/quicksendmodel.h"

#include <QAction>
#include <QFileDialog>
#include <QHeaderView>
#include <QMessageBox>
#include <QStandardPaths>

QuickSendWindow::QuickSendWindow(Sender sender, QWidget *owner)
    : QWidget(owner, Qt::Tool)
    , ui(new Ui::QuickSendWindow)
    , list(new QuickSendModel(this))
    , sender(std::move(sender))
{
    ui->setupUi(this);
    QTableView *table = ui->QuickSendTable;
    table->setModel(list);
    QHeaderView *header = table->horizontalHeader();
    header->setSectionResizeMode(QuickSendModel::Payload, QHeaderView::Stretch);
    for (int column : { QuickSendModel::Hex, QuickSendModel::NewLine })
        header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    table->setColumnWidth(QuickSendModel::Name, 120);

    // The view keeps each button with its row through moves and removals.
    connect(list, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { addSendButtons(first, last); });
    connect(list, &QAbstractItemModel::modelReset, this, [this] { addSendButtons(0, list->rowCount() - 1); });
    connect(table, &QTableView::doubleClicked, this, &QuickSendWindow::onDoubleClicked);
    connect(ui->QuickSendAdd, &QPushButton::clicked, this, &QuickSendWindow::addRow);
    connect(ui->QuickSendRemove, &QPushButton::clicked, this, &QuickSendWindow::removeRow);
    connect(ui->QuickSendUp, &QPushButton::clicked, this, [this] { moveRow(-1); });
    connect(ui->QuickSendDown, &QPushButton::clicked, this, [this] { moveRow(1); });
    connect(ui->QuickSendSequence, &QPushButton::clicked, this, &QuickSendWindow::toggleSequence);
    connect(ui->QuickSendImport, &QPushButton::clicked, this, &QuickSendWindow::importList);
    connect(ui->QuickSendExport, &QPushButton::clicked, this, &QuickSendWindow::exportList);

    sequenceTimer.setSingleShot(true);
    connect(&sequenceTimer, &QTimer::timeout, this, &QuickSendWindow::sendNextInSequence);

    for (int row = 0; row < 9; ++row) {
        auto *key = new QAction(this);
        key->setShortcut(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_1 + row)));
        key->setShortcutContext(Qt::WindowShortcut);
        connect(key, &QAction::triggered, this, [this, row] { sendRow(row); });
        keys << key;
    }
    addActions(keys);
}

QuickSendWindow::~QuickSendWindow()
{
    delete ui;
}

bool QuickSendWindow::sendRow(int row)
{
    if (row < 0 || row >= list->rowCount()) {
        ui->QuickSendStatus->setText(QStringLiteral("没有第 %1 行，未发送。").arg(row + 1));
        return false;
    }
    const QuickSend entry = list->rows()[row];  // a box the send shows may let the list change
    QString label = QStringLiteral("第 %1 行").arg(row + 1);
    if (!entry.name.isEmpty())
        label += QStringLiteral("“%1”").arg(entry.name);
    const QString refused = sender(entry);
    ui->QuickSendStatus->setText(refused.isEmpty() ? QStringLiteral("已发送%1。").arg(label)
                                                   : QStringLiteral("%1未发送：%2").arg(label, refused));
    return refused.isEmpty();
}

void QuickSendWindow::addSendButtons(int first, int last)
{
    for (int row = first; row <= last; ++row) {
        const QPersistentModelIndex cell = list->index(row, QuickSendModel::Send);
        auto *button = new QPushButton(QStringLiteral("发送"));
        connect(button, &QPushButton::clicked, this, [this, cell] { sendRow(cell.row()); });
        ui->QuickSendTable->setIndexWidget(cell, button);
        // A button gets the cell less the item's padding.
        const QSize room = button->sizeHint() + QSize(12, 12);
        ui->QuickSendTable->setColumnWidth(QuickSendModel::Send, room.width());
        ui->QuickSendTable->verticalHeader()->setDefaultSectionSize(room.height());
    }
}

void QuickSendWindow::onDoubleClicked(const QModelIndex &index)
{
    // Double-clicking a name sends; any other text cell is edited as usual.
    if (index.column() == QuickSendModel::Name)
        sendRow(index.row());
    else if (index.flags() & Qt::ItemIsEditable)
        ui->QuickSendTable->edit(index);
}

void QuickSendWindow::addRow()
{
    const int row = list->rowCount();
    list->insertRows(row, 1);
    const QModelIndex name = list->index(row, QuickSendModel::Name);
    ui->QuickSendTable->setCurrentIndex(name);
    ui->QuickSendTable->edit(name);
}

void QuickSendWindow::removeRow()
{
    const QModelIndex current = ui->QuickSendTable->currentIndex();
    if (current.isValid())
        list->removeRows(current.row(), 1);
}

void QuickSendWindow::moveRow(int step)
{
    const QModelIndex current = ui->QuickSendTable->currentIndex();
    const int target = current.row() + step;
    if (!current.isValid() || target < 0 || target >= list->rowCount())
        return;
    // The destination is counted before the move, so one further down.
    list->moveRows(QModelIndex(), current.row(), 1, QModelIndex(), step < 0 ? target : target + 1);
    ui->QuickSendTable->setCurrentIndex(list->index(target, current.column()));
}

// Sending in order: the first row at once, each next one a delay later.

void QuickSendWindow::toggleSequence(bool on)
{
    if (!on) {
        stopSequence(QStringLiteral("依次发送已停止。"));
        return;
    }
    const std::optional<int> delay = parsePeriod(ui->QuickSendDelay->text());
    if (!delay) {
        stopSequence(QString());
        QMessageBox::warning(this, QStringLiteral("警告"), QStringLiteral("发送间隔错误！"));
        return;
    }
    if (list->rowCount() == 0) {
        stopSequence(QStringLiteral("列表为空，没有可发送的行。"));
        return;
    }
    sequenceTimer.setInterval(*delay);
    sequenceNext = 0;
    sendNextInSequence();
}

void QuickSendWindow::sendNextInSequence()
{
    // Rows removed meanwhile end the sequence early.
    if (sequenceNext >= list->rowCount()) {
        stopSequence(QStringLiteral("依次发送完成。"));
        return;
    }
    // A refused row ends it; the status line already says why.
    if (!sendRow(sequenceNext++)) {
        stopSequence(QString());
        return;
    }
    if (sequenceNext < list->rowCount())
        sequenceTimer.start();
    else
        stopSequence(QStringLiteral("依次发送完成，共 %1 行。").arg(sequenceNext));
}

void QuickSendWindow::stopSequence(const QString &why)
{
    sequenceTimer.stop();
    ui->QuickSendSequence->setChecked(false);
    if (!why.isEmpty())
        ui->QuickSendStatus->setText(why);
}

void QuickSendWindow::linkClosed()
{
    if (ui->QuickSendSequence->isChecked())
        stopSequence(QStringLiteral("连接已关闭，依次发送已停止。"));
}

// Sharing the list as a file.

QString QuickSendWindow::fileFolder() const
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

void QuickSendWindow::importList()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("导入快捷发送列表"), fileFolder(),
                                                      QStringLiteral("JSON 文件 (*.json);;所有文件 (*)"));
    if (path.isEmpty())
        return;
    QString reason;
    const std::optional<QuickSendList> rows = importQuickSends(path, &reason);
    if (!rows) {
        PlainMessage::warning(this, QStringLiteral("导入失败"),
                              QStringLiteral("无法导入 %1\n%2\n列表没有改变。").arg(path, reason));
        return;
    }
    list->appendRows(*rows);
    ui->QuickSendStatus->setText(QStringLiteral("已导入 %1 行。").arg(rows->size()));
}

void QuickSendWindow::exportList()
{
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("导出快捷发送列表"), fileFolder() + QStringLiteral("/快捷发送.json"),
        QStringLiteral("JSON 文件 (*.json)"));
    if (path.isEmpty())
        return;
    QString reason;
    if (!exportQuickSends(path, list->rows(), &reason)) {
        PlainMessage::warning(this, QStringLiteral("导出失败"), QStringLiteral("无法写入 %1\n%2").arg(path, reason));
        return;
    }
    ui->QuickSendStatus->setText(QStringLiteral("已导出 %1 行。").arg(list->rowCount()));
}

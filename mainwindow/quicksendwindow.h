#pragma once

#include "mainwindow/quicksend.h"

#include <QList>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace Ui { class QuickSendWindow; }
class QAction;
class QModelIndex;
class QuickSendModel;

// The quick-send list in a tool window of its own: rows are edited in
// place, sent one by one or top to bottom, and shared as JSON files.
class QuickSendWindow : public QWidget
{
    Q_OBJECT

public:
    // Sends a row on the open link of the page shown, as its send button
    // would; returns what refused it, or empty when it went out.
    using Sender = std::function<QString(const QuickSend &row)>;

    QuickSendWindow(Sender sender, QWidget *owner);
    ~QuickSendWindow() override;

    QuickSendModel *model() const { return list; }
    // Ctrl+1 … Ctrl+9 for the first nine rows; the owner adds them to its window too.
    QList<QAction *> keyActions() const { return keys; }

    // Sends `row` and says on the status line what became of it.
    bool sendRow(int row);

public slots:
    // A link has closed: a sequence in progress ends.
    void linkClosed();

private:
    void addSendButtons(int first, int last);
    void addRow();
    void removeRow();
    void moveRow(int step);
    void onDoubleClicked(const QModelIndex &index);
    void toggleSequence(bool on);
    void sendNextInSequence();
    void stopSequence(const QString &why);
    void importList();
    void exportList();
    QString fileFolder() const;

    Ui::QuickSendWindow *ui;
    QuickSendModel *list;
    Sender sender;
    QList<QAction *> keys;
    QTimer sequenceTimer;
    int sequenceNext = 0;
};

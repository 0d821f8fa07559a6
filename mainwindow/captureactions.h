#pragma once

#include <QObject>
#include <QString>

class QAction;
class ReceiveConsole;
class ReceiveView;

// The capture entries of a receive area's context menu: "开始记录" /
// "停止记录" and the choice of the folder the captures go to. The actions
// are children of the area.
class CaptureActions : public QObject
{
    Q_OBJECT

public:
    // `folder` is shared by every area and outlives them.
    CaptureActions(ReceiveView *view, ReceiveConsole *console, QString &folder);

    // Documents/Quorvix, where captures go unless the user chose a folder.
    static QString defaultFolder();

private:
    void toggle(bool on);
    void chooseFolder();
    void failed(const QString &file, const QString &reason);
    void showState(bool on);

    ReceiveView *view;
    ReceiveConsole *console;
    QString &folder;
    QAction *capture;
};

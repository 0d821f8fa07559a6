#include "mainwindow/hexviewer.h"

#include "mainwindow/hexviewwindow.h"
#include "mainwindow/receiveview.h"

#include <QAction>

HexViewer::HexViewer(ReceiveView *area, const QString &pageName, QWidget *window, QObject *parent)
    : QObject(parent)
    , pageName(pageName)
    , window(window)
{
    auto *action = new QAction(QStringLiteral("十六进制查看…"), area);
    action->setObjectName(QStringLiteral("ActHexView"));
    connect(action, &QAction::triggered, this, &HexViewer::show);
    area->addAction(action);
}

// The window reads the store, so it goes first.
HexViewer::~HexViewer()
{
    delete viewWindow;
}

void HexViewer::show()
{
    if (!viewWindow)
        viewWindow = new HexViewWindow(&store, pageName, window);
    viewWindow->show();
    viewWindow->raise();
    viewWindow->activateWindow();
}

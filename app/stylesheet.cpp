#include "app/stylesheet.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QFile>

bool loadStyleSheet(QApplication &app)
{
    return loadStyleSheet(app, QStringLiteral(":/qss/default.css"), QStringLiteral(":/"));
}

bool loadStyleSheet(QApplication &app, const QString &sheetPath, const QString &resourceRoot)
{
    if (!QFile::exists(resourceRoot)) {
        qCritical() << "资源系统未初始化！";
        return false;
    }
    qDebug().noquote() << "样式文件路径:" << sheetPath;

    QFile file(sheetPath);
    if (!file.open(QIODevice::ReadOnly)) {
        qCritical().noquote() << "无法打开样式表:" << file.errorString();
        qCritical().noquote() << "当前工作目录:" << QDir::currentPath();
        return false;
    }
    const QString sheet = QString::fromUtf8(file.readAll());
    file.close();

    if (sheet.isEmpty()) {
        qWarning() << "样式表为空！";
        return false;
    }
    app.setStyleSheet(sheet);
    qDebug() << "样式表加载成功";
    return true;
}

#pragma once

#include "mainwindow/mainwindow.h"

#include <QAbstractButton>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// Drives the real window as a user would, by object name: one per test, with
// a settings store and a record folder of its own.
class WindowDriver
{
public:
    // The window lists what `lister` finds as serial ports.
    explicit WindowDriver(MainWindow::PortLister lister = [] { return QStringList(); });
    ~WindowDriver();

    MainWindow &window() const { return *mainWindow; }
    QString folder() const { return storage.path(); }
    // Destroys the window (saving its settings) and builds a new one on the same store.
    void restart(MainWindow::PortLister lister = [] { return QStringList(); });
    void close() { mainWindow.reset(); }

    template<typename T = QWidget>
    T *w(const QString &name) const
    {
        T *widget = mainWindow->findChild<T *>(name);
        if (!widget)
            qFatal("no widget %s of the wanted class", qPrintable(name));
        return widget;
    }

    void click(const QString &name) const;
    // Into a line edit, or with keystrokes into an editable combo box.
    void type(const QString &name, const QString &text) const;
    void type(const QString &name, quint16 port) const { type(name, QString::number(port)); }
    void check(const QString &name, bool on) const;
    // Picks `entry` of a combo box with the keyboard, as a user does.
    void choose(const QString &name, const QString &entry) const;
    // The text of a label, line edit, text area or combo box.
    QString text(const QString &name) const;
    void setText(const QString &name, const QString &text) const;
    // The figure a counter label shows after its "：".
    qint64 count(const QString &label) const { return text(label).section(u'：', 1).toLongLong(); }
    // The names among `names` whose widgets are enabled, joined by spaces.
    QString enabled(const QStringList &names) const;
    // Picks `path` in the file dialog that the next action opens, as if typed into it.
    static void answerNextFileDialog(const QString &path);

private:
    QTemporaryDir storage;
    std::unique_ptr<MainWindow> mainWindow;
};

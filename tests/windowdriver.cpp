#include "tests/windowdriver.h"

#include "tests/testsupport.h"

#include <QCheckBox>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

WindowDriver::WindowDriver(MainWindow::PortLister lister)
{
    useSettingsDirectory(storage);
    restart(std::move(lister));
}

WindowDriver::~WindowDriver() = default;

void WindowDriver::restart(MainWindow::PortLister lister)
{
    mainWindow.reset();
    mainWindow = std::make_unique<MainWindow>(nullptr, std::move(lister));
    mainWindow->setRecordDirectory(storage.path());
    mainWindow->show();
}

void WindowDriver::click(const QString &name) const
{
    QTest::mouseClick(w<QAbstractButton>(name), Qt::LeftButton);
}

void WindowDriver::type(const QString &name, const QString &text) const
{
    if (auto *list = qobject_cast<QComboBox *>(w(name))) {
        list->setFocus();
        list->lineEdit()->selectAll();
        QTest::keyClicks(list->lineEdit(), text);
        return;
    }
    w<QLineEdit>(name)->setText(text);
}

void WindowDriver::choose(const QString &name, const QString &entry) const
{
    auto *list = w<QComboBox>(name);
    const int target = list->findText(entry);
    list->setFocus();
    for (int step = 0; target >= 0 && list->currentIndex() != target && step < list->count(); ++step)
        QTest::keyClick(list, list->currentIndex() < target ? Qt::Key_Down : Qt::Key_Up);
}

void WindowDriver::check(const QString &name, bool on) const
{
    w<QCheckBox>(name)->setChecked(on);
}

namespace {

// Text areas keep their text in "plainText", line edits and labels in "text".
const char *textProperty(const QWidget *widget)
{
    return widget->metaObject()->indexOfProperty("plainText") >= 0 ? "plainText" : "text";
}

} // namespace

QString WindowDriver::text(const QString &name) const
{
    QWidget *widget = w(name);
    if (auto *list = qobject_cast<QComboBox *>(widget))
        return list->currentText();
    return widget->property(textProperty(widget)).toString();
}

void WindowDriver::setText(const QString &name, const QString &text) const
{
    QWidget *widget = w(name);
    if (auto *list = qobject_cast<QComboBox *>(widget))
        list->setCurrentText(text);
    else
        widget->setProperty(textProperty(widget), text);
}

QString WindowDriver::enabled(const QStringList &names) const
{
    QStringList on;
    for (const QString &name : names)
        if (w(name)->isEnabled())
            on << name;
    return on.join(QLatin1Char(' '));
}

void WindowDriver::answerNextFileDialog(const QString &path)
{
    // Runs once the dialog's own event loop does.
    QTimer::singleShot(0, [path] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        // Typed as a user would; selectFile() leaves a focused name field alone.
        if (auto *name = dialog->findChild<QLineEdit *>("fileNameEdit"))
            name->setText(path);
        static_cast<QDialog *>(dialog)->accept();
        if (dialog->isVisible())
            dialog->reject();
    });
}

#include "app/commandline.h"
#include "app/stylesheet.h"
#include "mainwindow/mainwindow.h"
#include "app/quitsignals.h"
#include "app/qttranslation.h"

#include <QApplication>
#include <QMessageBox>
#include <QTranslator>

int main(int argc, char *argv[])
{
    if (CommandLine::asksForHelpOrVersion(argc, argv)) {
        QCoreApplication app(argc, argv);
        return CommandLine::handle(app.arguments()).value_or(0);
    }
    QApplication app(argc, argv);
    if (const std::optional<int> status = CommandLine::handle(app.arguments()))
        return *status;
    QTranslator qtTexts;
    if (loadQtTranslation(qtTexts))
        app.installTranslator(&qtTexts);

    if (!loadStyleSheet(app)) {
        QMessageBox::warning(nullptr, QStringLiteral("警告"),
                             QStringLiteral("无法加载样式表，将使用默认外观。\n"
                                            "这可能会影响应用程序的外观，但功能不受影响。"));
    }

    // SIGTERM, SIGINT and SIGHUP end the loop, so the window's destructor
    // still saves the settings.
    QuitSignals quitSignals;

    MainWindow window;
    window.show();
    return app.exec();
}

#include "app/commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace CommandLine {

bool asksForHelpOrVersion(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        for (const char *option : { "-h", "--help", "--help-all", "-v", "--version" }) {
            if (qstrcmp(argv[i], option) == 0)
                return true;
        }
    }
    return false;
}

std::optional<int> handle(const QStringList &arguments)
{
    QCoreApplication::setApplicationVersion(QStringLiteral(QUORVIX_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Debugging assistant for TCP, UDP and serial byte streams."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "%s\n\n%s", qPrintable(parser.errorText()), qPrintable(parser.helpText()));
        return 2;
    }
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all")) || parser.isSet(version)) {
        // Prints what was asked for and ends the process with status 0.
        parser.process(arguments);
        return 0;
    }
    return std::nullopt;
}

} // namespace CommandLine

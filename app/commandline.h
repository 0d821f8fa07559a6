#pragma once

#include <QStringList>

#include <optional>

// The program's own options, --help and --version, with QCommandLineParser.
// Qt's own options (-platform, -style, ...) are taken by QApplication first.
namespace CommandLine {

// The arguments ask for help or the version, which need no display.
bool asksForHelpOrVersion(int argc, char **argv);

// Reads the arguments an application object has left. Empty: the window
// runs. Otherwise the exit status: 0 after the help or the version on
// standard output, 2 after an unknown option's usage on standard error.
std::optional<int> handle(const QStringList &arguments);

} // namespace CommandLine

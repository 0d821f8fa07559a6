#pragma once

#include <QString>

class QApplication;

// Applies the embedded style sheet to the whole application; true when a
// non-empty sheet was applied.
bool loadStyleSheet(QApplication &app);

// The same steps with the paths given, so the failure paths can be exercised.
bool loadStyleSheet(QApplication &app, const QString &sheetPath,
                    const QString &resourceRoot);

#pragma once

class QTranslator;

// Loads Qt's Chinese translation of its own texts (standard buttons, the
// text areas' context menu, file dialogs), whatever the system's locale:
// the window's own texts are Chinese. False when the system lacks it.
bool loadQtTranslation(QTranslator &translator);

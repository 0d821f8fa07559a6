#include "app/qttranslation.h"

#include <QDebug>
#include <QLibraryInfo>
#include <QTranslator>

bool loadQtTranslation(QTranslator &translator)
{
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (translator.load(QStringLiteral("qtbase_zh_CN"), folder))
        return true;
    qWarning() << "Qt 的中文翻译未找到:" << folder;
    return false;
}

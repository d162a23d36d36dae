#include "launcher/app/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace launcher {

bool InstallQtTranslations(const QLocale& locale) {
    // Lives as long as the application that uses it.
    static QTranslator translator;
    QCoreApplication::removeTranslator(&translator);
    if (!translator.load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    return QCoreApplication::installTranslator(&translator);
}

}  // namespace launcher

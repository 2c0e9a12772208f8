#include "app/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace {

bool load(QCoreApplication &app, const QLocale &locale, const QString &name, const QString &dir)
{
    auto *translator = new QTranslator(&app);
    // Tries the locale's languages in order (de_AT, then de, ...).
    if (!translator->load(locale, name, QStringLiteral("_"), dir) || !app.installTranslator(translator)) {
        delete translator;
        return false;
    }
    return true;
}

} // namespace

bool installTranslations(QCoreApplication &app, const QString &programDir, const QLocale &locale)
{
    const bool ours = load(app, locale, QString::fromLatin1(kTranslationName), programDir);
    if (ours) {
        // Qt's texts beside ours (a Windows installation ships them in the
        // program directory), else Qt's own folder; none is no error.
        if (!load(app, locale, QStringLiteral("qtbase"), programDir))
            load(app, locale, QStringLiteral("qtbase"),
                 QLibraryInfo::location(QLibraryInfo::TranslationsPath));
    }
    return ours;
}

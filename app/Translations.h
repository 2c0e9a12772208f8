#pragma once

#include <QLocale>
#include <QString>

class QCoreApplication;

// The translation file of the windows for a language, in the program
// directory: velmora-configure_de.qm for German.
constexpr const char *kTranslationName = "velmora-configure";

// Installs the windows' translation for locale from programDir (which ends
// in a separator or is empty), and Qt's own texts (standard buttons, file
// dialog) where Qt ships them for that language. Without a translation for
// the locale nothing is installed and the windows keep their own English
// texts. Returns whether the windows' translation was installed. Call it
// before the first window is built; the translators live as long as app.
bool installTranslations(QCoreApplication &app, const QString &programDir, const QLocale &locale);

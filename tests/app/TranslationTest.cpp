// The windows' translations: with a German locale the start-up installs the
// German texts and every window shows them; with any other locale nothing
// is installed and the windows show their own English texts. The German
// file covers every text of the source-language template, and the template
// holds every text of the forms and sources (a new text without lupdate
// fails here).

#include "app/Translations.h"
#include "debugmon/Debug.h"
#include "src/Network/Dmesg/Dmesg.h"
#include "tests/config/DialogFixture.h"
#include "tests/support/ChildProcess.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <utility>

namespace {

QString programDir()
{
    const char *dir = std::getenv("VELMORA_PROGRAM_DIR");
    return dir ? QString::fromLocal8Bit(dir) + QLatin1Char('/') : QString();
}

QString sourceFile(const char *relative)
{
    const char *dir = std::getenv("VELMORA_SOURCE_DIR");
    return dir ? QString::fromLocal8Bit(dir) + QLatin1Char('/') + QLatin1String(relative) : QString();
}

// Every translator a case installed is removed again, so the cases do not
// depend on their order.
class Translated : public ::testing::Test {
protected:
    void SetUp() override { ensureApplication(); }
    void TearDown() override
    {
        for (QTranslator *t : qApp->findChildren<QTranslator *>()) {
            QCoreApplication::removeTranslator(t);
            delete t;
        }
    }
};

// What the user sees, by object name: a label's or button's text, a list's
// items joined with "|", or the window title for the window itself.
QString shown(QWidget *window, const char *name)
{
    if (window->objectName() == QLatin1String(name))
        return window->windowTitle();
    QWidget *w = window->findChild<QWidget *>(QLatin1String(name));
    if (!w)
        return QStringLiteral("<no widget %1>").arg(QLatin1String(name));
    if (auto *l = qobject_cast<QLabel *>(w))
        return l->text();
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        return b->text();
    if (auto *c = qobject_cast<QComboBox *>(w)) {
        QStringList items;
        for (int i = 0; i < c->count(); ++i)
            items << c->itemText(i);
        return items.join(QLatin1Char('|'));
    }
    return QStringLiteral("<unexpected widget %1>").arg(QLatin1String(name));
}

struct Text {
    const char *name;
    const char *english;
    const char *german;
};

// The main dialog's fixed texts (the lists that start-up fills itself are
// left out: their items are the driver's and the adapters' names).
const Text kDialogTexts[] = {
    {"Dialog", "Velmora ASIO configure", "Velmora ASIO konfigurieren"},
    {"label", "Interface Ethernet", "Schnittstelle"},
    {"cancelButton", "cancel", "Abbrechen"},
    {"label_IP", "Find IP", "IP suchen"},
    {"findButton", "find", "Suchen"},
    {"label_2", "Connect Target", "Zielgerät"},
    {"configButton", "config", "Konfig"},
    {"label_preset", "Preset Profile", "Voreinstellung"},
    {"defaultButton", "default", "Standard"},
    {"Flabel_1", "PCM Request", "PCM-Format"},
    {"pcmList", "64bit|32bit|24bit|16bit|cnvert from S32", "64 Bit|32 Bit|24 Bit|16 Bit|aus S32 wandeln"},
    {"Flabel_2", "DSD Type", "DSD-Typ"},
    {"dsdlist", "LSB|MSB", "LSB|MSB"},
    {"debugButton", "debug", "Debug"},
    {"Blabel_1", "ASIO Buffer", "ASIO-Puffer"},
    {"Blabel_2", "FS X Depth", "FS x Tiefe"},
    {"saveButton", "save", "Speichern"},
    {"Flabel_3", "Velmora Cycle", "Velmora-Zyklus"},
    {"label_3", "Target Latency", "Ziel-Latenz"},
    {"latencyLabel", "msec", "msec"},
    {"label_4", "build Qt 5.15  LGPL", "mit Qt 5.15  LGPL"},
};

const Text kDebugTexts[] = {
    {"Debug", "Debug", "Debug-Ausgabe"},
    {"closeButton", "close", "Ende"},
    {"clearButton", "clear", "Leeren"},
    {"saveButton", "save log", "Sichern"},
};

const Text kDmesgTexts[] = {
    {"Dmesg", "dmesg", "dmesg (Log des Zielgeräts)"},
    {"saveButton", "save log", "Sichern"},
    {"closeButton", "close", "Ende"},
    {"clearButton", "clear", "Leeren"},
    {"pushReboot", "reboot", "Reboot"},
};

template <size_t N> void expectTexts(QWidget *window, const Text (&texts)[N], bool german)
{
    for (const Text &t : texts) {
        SCOPED_TRACE(t.name);
        EXPECT_EQ(shown(window, t.name), QString::fromUtf8(german ? t.german : t.english));
    }
}

// The forms are laid out in fixed pixels: a translated text wider than its
// widget would be cut. (Checked for the translation only: the English
// "save log" is a few pixels wider than its button at the 12-point default
// font of Qt's offscreen platform; at the 8-point font of Windows it fits.)
void expectTextsFit(QWidget *window)
{
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (!w->isVisibleTo(window))
            continue;
        const QFontMetrics fm(w->font());
        if (auto *l = qobject_cast<QLabel *>(w)) {
            if (l->wordWrap() || l->objectName() == QLatin1String("infoLable"))
                continue;
            EXPECT_LE(fm.horizontalAdvance(l->text()), l->contentsRect().width())
                << l->objectName().toStdString();
        } else if (auto *b = qobject_cast<QAbstractButton *>(w)) {
            EXPECT_LE(fm.horizontalAdvance(b->text()) + 8, b->width()) << b->objectName().toStdString();
        }
    }
}

void checkWindows(bool german)
{
    Installation inst;
    inst.writeStandardFiles();
    Dialog &dialog = inst.start();
    expectTexts(&dialog, kDialogTexts, german);
    if (german)
        expectTextsFit(&dialog);

    Debug debug(0, nullptr);
    expectTexts(&debug, kDebugTexts, german);
    if (german)
        expectTextsFit(&debug);

    // Nothing listens on port 1 of the loopback address: the window opens
    // and simply receives nothing.
    Dmesg dmesg(QHostAddress(QHostAddress::LocalHostIPv6), 1, nullptr);
    expectTexts(&dmesg, kDmesgTexts, german);
    if (german)
        expectTextsFit(&dmesg);
}

TEST_F(Translated, GermanLocaleShowsGermanTexts)
{
    ASSERT_TRUE(installTranslations(*qApp, programDir(), QLocale(QStringLiteral("de_DE"))));
    checkWindows(true);
    EXPECT_EQ(QCoreApplication::translate("Dialog", "DeveloperPreview"),
              QStringLiteral("Entwicklervorschau"));
    EXPECT_EQ(QCoreApplication::translate("Debug", "Log Files (*.log)"),
              QStringLiteral("Log-Dateien (*.log)"));
}

TEST_F(Translated, OtherGermanRegionsFallBackToGerman)
{
    EXPECT_TRUE(installTranslations(*qApp, programDir(), QLocale(QStringLiteral("de_AT"))));
    EXPECT_EQ(QCoreApplication::translate("Dialog", "save"), QStringLiteral("Speichern"));
}

TEST_F(Translated, WithoutAGermanLocaleTheWindowsKeepTheirOwnTexts)
{
    for (const char *name : {"en_US", "C", "fr_FR"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(installTranslations(*qApp, programDir(), QLocale(QLatin1String(name))));
        EXPECT_TRUE(qApp->findChildren<QTranslator *>().isEmpty());
    }
    checkWindows(false);
}

TEST_F(Translated, AProgramDirectoryWithoutTranslationsInstallsNothing)
{
    QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    EXPECT_FALSE(
        installTranslations(*qApp, empty.path() + QLatin1Char('/'), QLocale(QStringLiteral("de_DE"))));
    EXPECT_EQ(QCoreApplication::translate("Dialog", "save"), QStringLiteral("save"));
}

using Message = std::pair<QString, QString>; // context, source text

std::set<Message> messagesOf(const QString &tsFile)
{
    std::set<Message> out;
    QFile file(tsFile);
    if (!file.open(QIODevice::ReadOnly))
        return out;
    QXmlStreamReader xml(&file);
    QString context;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("name"))
            context = xml.readElementText();
        else if (xml.name() == QLatin1String("source"))
            out.insert({context, xml.readElementText()});
    }
    return out;
}

// Every text the template lists has a German translation in the compiled
// file (a missing one would show English in the middle of German windows).
TEST(GermanTranslation, CoversEveryTextOfTheTemplate)
{
    const std::set<Message> messages = messagesOf(sourceFile("translations/velmora-configure.ts"));
    ASSERT_GT(messages.size(), 50u);
    QTranslator german;
    ASSERT_TRUE(german.load(programDir() + QStringLiteral("velmora-configure_de.qm")));
    for (const Message &m : messages) {
        EXPECT_FALSE(german.translate(m.first.toUtf8().constData(), m.second.toUtf8().constData()).isEmpty())
            << m.first.toStdString() << ": " << m.second.toStdString();
    }
}

// The committed template is what lupdate makes of the sources today.
TEST(GermanTranslation, TemplateHoldsEveryTextOfTheSources)
{
    const char *lupdate = VELMORA_LUPDATE;
    const char *list = VELMORA_LUPDATE_SOURCES;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString fresh = dir.filePath(QStringLiteral("fresh.ts"));
    ChildProcess p(std::vector<std::string>{lupdate, "-silent", "-locations", "none", "-I",
                                            sourceFile("").toStdString(), std::string("@") + list, "-ts",
                                            fresh.toStdString()});
    ASSERT_TRUE(p.started()) << p.startError();
    ASSERT_EQ(p.wait(120000), 0) << p.output();
    const std::set<Message> expected = messagesOf(fresh);
    const std::set<Message> committed = messagesOf(sourceFile("translations/velmora-configure.ts"));
    ASSERT_FALSE(expected.empty());
    for (const Message &m : expected)
        EXPECT_TRUE(committed.count(m))
            << "not in the template (run the lupdate target): " << m.first.toStdString() << ": "
            << m.second.toStdString();
    for (const Message &m : committed)
        EXPECT_TRUE(expected.count(m))
            << "no longer in the sources (run the lupdate target): " << m.first.toStdString() << ": "
            << m.second.toStdString();
}

} // namespace

// Renders the dialog into the build tree (screenshots/) for a person to look
// at, and checks that no label or button text is cut off.

#include "tests/config/DialogFixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QStyle>
#include <QStyleFactory>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

QString shotDir()
{
    const char *bin = std::getenv("VELMORA_PROGRAM_DIR");
    const QString dir = QString::fromLocal8Bit(bin ? bin : ".") + "/../screenshots";
    QDir().mkpath(dir);
    return QDir(dir).absolutePath();
}

void usePicture(Installation &inst)
{
    const char *src = std::getenv("VELMORA_SOURCE_DIR");
    const QString shipped = QString::fromLocal8Bit(src ? src : ".") + "/data/label.png";
    const QString target = QString::fromStdString(inst.programDir() + "label.png");
    if (!QFile::copy(shipped, target)) {
        QImage img(480, 80, QImage::Format_ARGB32);
        img.fill(QColor(40, 90, 120));
        img.save(target);
    }
}

// Label and button texts that do not fit their widget, as "name: text".
// (A list shows its whole items in its popup.)
QStringList cutTexts(QWidget &dialog)
{
    QStringList cut;
    for (QWidget *w : dialog.findChildren<QWidget *>()) {
        if (w->isHidden())
            continue;
        const QFontMetrics fm = w->fontMetrics();
        if (auto *l = qobject_cast<QLabel *>(w)) {
            const QStringList lines = l->text().split('\n');
            int widest = 0;
            for (const QString &line : lines)
                widest = std::max(widest, fm.horizontalAdvance(line));
            if (widest > l->contentsRect().width() || lines.size() * fm.lineSpacing() > l->contentsRect().height() + 2)
                cut << l->objectName() + ": " + l->text();
        } else if (auto *b = qobject_cast<QAbstractButton *>(w)) {
            if (fm.horizontalAdvance(b->text()) + 8 > b->width())
                cut << b->objectName() + ": " + b->text();
        }
    }
    return cut;
}

TEST(Render, MainDialogToPng)
{
    ensureApplication();
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    struct Variant {
        const char *file;
        const char *org; // nullptr: the standard defaults
    };
    const Variant variants[] = {
        {"main-dialog.png", nullptr},
        {"main-dialog-simple.png", "Version=2\nPreset=Standard\nAsioSetting=Simple\nPreview=enable\n"},
    };
    for (const Variant &v : variants) {
        SCOPED_TRACE(v.file);
        Installation inst;
        inst.writeStandardFiles();
        if (v.org)
            inst.write("setting_org.inf", v.org);
        usePicture(inst);
        inst.platform.adapters[node("fe80::1", 0, 2)] = {"Ethernet", "Intel(R) Ethernet Connection I219-V"};
        addTarget(fakeDriver(), node("fe80::10", 19650, 2), "Living Room", 1);
        inst.write("settings/main.inf", "Version=2\nPreset=Standard\nTargetAddress=fe80::10,19650\nTargetPO=1\n"
                                        "CycleTime=1000\nLatencyBuffer=20000\nASIOBufferSize=512\n");
        Dialog &d = inst.start();
        d.show();
        const QImage shot = d.grab().toImage();
        const QString path = shotDir() + "/" + v.file;
        ASSERT_TRUE(shot.save(path)) << path.toStdString();
        EXPECT_EQ(shot.size() / shot.devicePixelRatio(), d.size());
        const QStringList cut = cutTexts(d);
        EXPECT_TRUE(cut.isEmpty()) << cut.join(" | ").toStdString();
    }
}

} // namespace

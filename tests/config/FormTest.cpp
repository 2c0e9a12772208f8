// The main dialog's form as the designer file builds it, and the name-based
// connection of the dialog's slots.

#include "tests/config/DialogFixture.h"
#include "ui_Dialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QGraphicsView>
#include <QLabel>
#include <QLineEdit>
#include <QMetaMethod>
#include <QSpinBox>

#include <gtest/gtest.h>

namespace {

struct WidgetRow {
    const char *name;
    const char *className;
    QRect geometry;
    const char *text; // label/button/line edit text; nullptr for lists
    QStringList items;
};

const WidgetRow kRows[] = {
    {"label", "QLabel", {10, 10, 91, 16}, "Interface Ethernet", {}},
    {"interfaceList", "QComboBox", {110, 10, 291, 20}, nullptr, {"Auto"}},
    {"cancelButton", "QPushButton", {410, 10, 81, 23}, "cancel", {}},
    {"label_IP", "QLabel", {10, 40, 91, 16}, "Find IP", {}},
    {"findIPEdit", "QLineEdit", {110, 40, 291, 20}, "", {}},
    {"findButton", "QPushButton", {410, 40, 81, 23}, "find", {}},
    {"label_2", "QLabel", {10, 70, 91, 16}, "Connect Target", {}},
    {"targetList", "QComboBox", {110, 70, 291, 20}, nullptr, {"Auto"}},
    {"configButton", "QPushButton", {410, 70, 81, 23}, "config", {}},
    {"label_preset", "QLabel", {10, 100, 91, 16}, "Preset Profile", {}},
    {"presetList", "QComboBox", {110, 100, 291, 20}, nullptr, {}},
    {"defaultButton", "QPushButton", {410, 100, 81, 23}, "default", {}},
    {"Flabel_1", "QLabel", {10, 130, 91, 16}, "PCM Request", {}},
    {"pcmList", "QComboBox", {110, 130, 91, 20}, nullptr, {"64bit", "32bit", "24bit", "16bit", "cnvert from S32"}},
    {"Flabel_2", "QLabel", {210, 130, 91, 16}, "DSD Type", {}},
    {"dsdlist", "QComboBox", {310, 130, 91, 20}, nullptr, {"LSB", "MSB"}},
    {"debugButton", "QPushButton", {410, 130, 81, 23}, "debug", {}},
    {"Blabel_1", "QLabel", {10, 160, 91, 16}, "ASIO Buffer", {}},
    {"bsizeBox", "QComboBox", {110, 160, 91, 20}, nullptr, {"16-16384"}},
    {"Blabel_2", "QLabel", {210, 160, 91, 16}, "FS X Depth", {}},
    {"bcountBox", "QComboBox", {310, 160, 91, 20}, nullptr,
     {"3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15", "16"}},
    {"saveButton", "QPushButton", {410, 160, 81, 23}, "save", {}},
    {"Flabel_3", "QLabel", {10, 190, 91, 16}, "Velmora Cycle", {}},
    {"cycleBox", "QSpinBox", {110, 190, 91, 22}, nullptr, {}},
    {"cycleEdit", "QLineEdit", {110, 190, 91, 20}, "", {}},
    {"cycleLabel", "QLabel", {210, 190, 101, 16}, "usec  XXX-XXX", {}},
    {"infoFrame", "QFrame", {310, 190, 181, 51}, nullptr, {}},
    {"infoLable", "QLabel", {5, 5, 171, 41}, "Cycle=XXXHz", {}},
    {"label_3", "QLabel", {10, 220, 91, 16}, "Target Latency", {}},
    {"latencyBox", "QComboBox", {110, 220, 91, 20}, nullptr, {"Prefer"}},
    {"latencyLabel", "QLabel", {210, 220, 101, 16}, "msec", {}},
    {"lavelView", "QGraphicsView", {10, 250, 480, 80}, nullptr, {}},
    {"preLabel", "QLabel", {10, 330, 241, 16}, "", {}},
    {"label_4", "QLabel", {390, 330, 95, 16}, "build Qt 5.15  LGPL", {}},
};

QString textOf(QWidget *w)
{
    if (auto *l = qobject_cast<QLabel *>(w))
        return l->text();
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        return b->text();
    if (auto *e = qobject_cast<QLineEdit *>(w))
        return e->text();
    return QString();
}

class Form : public ::testing::Test {
protected:
    void SetUp() override { ui.setupUi(&dialog); }
    QWidget *get(const char *name) { return dialog.findChild<QWidget *>(QString::fromLatin1(name)); }
    struct App {
        App() { ensureApplication(); }
    } app;
    QDialog dialog;
    Ui::Dialog ui;
};

TEST_F(Form, WidgetsFromTable)
{
    for (const WidgetRow &row : kRows) {
        SCOPED_TRACE(row.name);
        QWidget *w = get(row.name);
        ASSERT_NE(w, nullptr);
        EXPECT_STREQ(w->metaObject()->className(), row.className);
        EXPECT_EQ(w->geometry(), row.geometry);
        const bool inFrame = QString::fromLatin1(row.name) == "infoLable";
        EXPECT_EQ(w->parentWidget(), inFrame ? static_cast<QWidget *>(ui.infoFrame) : &dialog);
        if (row.text) {
            EXPECT_EQ(textOf(w), QString::fromUtf8(row.text));
        }
        if (auto *box = qobject_cast<QComboBox *>(w)) {
            QStringList items;
            for (int i = 0; i < box->count(); ++i)
                items << box->itemText(i);
            EXPECT_EQ(items, row.items);
        }
    }
    // Every child widget is in the table: nothing stray on the form.
    EXPECT_EQ(dialog.findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly).size() + 1,
              static_cast<int>(std::size(kRows)));
}

TEST_F(Form, DialogAndSpecialWidgets)
{
    EXPECT_EQ(dialog.objectName(), "Dialog");
    EXPECT_EQ(dialog.size(), QSize(500, 353));
    EXPECT_EQ(dialog.windowTitle(), "Velmora ASIO configure");
    EXPECT_EQ(dialog.sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    EXPECT_EQ(dialog.sizePolicy().verticalPolicy(), QSizePolicy::Preferred);

    EXPECT_TRUE(ui.cycleEdit->isReadOnly());
    EXPECT_EQ(ui.cycleEdit->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(ui.infoFrame->frameShape(), QFrame::Box);
    EXPECT_EQ(ui.infoFrame->frameShadow(), QFrame::Plain);
    EXPECT_EQ(ui.infoFrame->lineWidth(), 1);
    EXPECT_EQ(ui.infoFrame->midLineWidth(), 0);
    EXPECT_EQ(ui.infoLable->alignment(), Qt::AlignLeft | Qt::AlignTop);

    QGraphicsView *v = ui.lavelView;
    EXPECT_EQ(v->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    EXPECT_EQ(v->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    EXPECT_EQ(v->toolTipDuration(), -1);
    EXPECT_TRUE(v->styleSheet().isEmpty());
    EXPECT_EQ(v->frameShape(), QFrame::NoFrame);
    EXPECT_EQ(v->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(v->lineWidth(), 0);
    EXPECT_EQ(v->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(v->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_FALSE(v->isInteractive());
    EXPECT_EQ(v->alignment(), Qt::AlignCenter);
    EXPECT_EQ(v->transformationAnchor(), QGraphicsView::AnchorViewCenter);
}

TEST_F(Form, StackingOrder)
{
    // Raised in creation order, except cycleEdit lowest and four raised last.
    const QStringList expected = {
        "cycleEdit",   "configButton", "saveButton",  "pcmList",       "interfaceList", "label",
        "label_IP",    "Flabel_1",     "lavelView",   "label_2",       "Blabel_1",      "label_4",
        "label_preset", "bsizeBox",    "presetList",  "targetList",    "findIPEdit",    "dsdlist",
        "findButton",  "cancelButton", "defaultButton", "Blabel_2",    "Flabel_2",      "bcountBox",
        "Flabel_3",    "label_3",      "latencyLabel", "cycleLabel",   "infoFrame",     "cycleBox",
        "latencyBox",  "preLabel",     "debugButton"};
    QStringList actual;
    for (QObject *child : dialog.children()) {
        if (child->isWidgetType())
            actual << child->objectName();
    }
    EXPECT_EQ(actual, expected);
}

TEST_F(Form, TabOrder)
{
    const QStringList expected = {"interfaceList", "findIPEdit", "targetList",    "presetList",  "pcmList",
                                  "dsdlist",       "bsizeBox",   "bcountBox",     "cycleBox",    "cycleEdit",
                                  "latencyBox",    "cancelButton", "findButton",  "configButton", "defaultButton",
                                  "debugButton",   "saveButton", "lavelView"};
    QStringList actual;
    QWidget *w = ui.interfaceList;
    for (int i = 0; i < expected.size(); ++i) {
        actual << w->objectName();
        // Tabbing skips what takes no focus and the inner widgets of spin
        // boxes and views.
        do
            w = w->nextInFocusChain();
        while (w != &dialog && (w->parentWidget() != &dialog || !(w->focusPolicy() & Qt::TabFocus)));
    }
    EXPECT_EQ(actual, expected);
}

TEST(DialogSlots, MetaObjectOrder)
{
    const QStringList expected = {"on_targetList_currentIndexChanged(int)",
                                  "on_interfaceList_currentIndexChanged(int)",
                                  "on_saveButton_clicked()",
                                  "on_cancelButton_clicked()",
                                  "on_configButton_clicked()",
                                  "on_findButton_clicked()",
                                  "on_defaultButton_clicked()",
                                  "on_presetList_currentIndexChanged(QString)",
                                  "on_bsizeBox_currentIndexChanged(QString)",
                                  "on_cycleBox_valueChanged(int)",
                                  "on_latencyBox_currentIndexChanged(QString)",
                                  "on_debugButton_clicked()"};
    const QMetaObject &mo = Dialog::staticMetaObject;
    QStringList actual;
    for (int i = mo.methodOffset(); i < mo.methodCount(); ++i)
        actual << QString::fromLatin1(mo.method(i).methodSignature());
    EXPECT_EQ(actual, expected);
}

// A renamed widget or a mistyped slot silently loses its connection; Qt
// only says so in a warning. Catch that warning during start-up.
QStringList g_warnings;
void collectWarnings(QtMsgType, const QMessageLogContext &, const QString &message)
{
    g_warnings << message;
}

TEST(DialogSlots, EveryNamedSlotFindsItsSignal)
{
    Installation inst;
    inst.writeStandardFiles();
    g_warnings.clear();
    QtMessageHandler old = qInstallMessageHandler(collectWarnings);
    inst.start();
    qInstallMessageHandler(old);
    for (const QString &w : g_warnings)
        EXPECT_FALSE(w.contains("No matching signal")) << w.toStdString();

    // And each slot's widget exists with a signal of that signature.
    const QMetaObject &mo = Dialog::staticMetaObject;
    for (int i = mo.methodOffset(); i < mo.methodCount(); ++i) {
        const QString sig = QString::fromLatin1(mo.method(i).methodSignature());
        const QStringList parts = sig.section('(', 0, 0).split('_');
        ASSERT_GE(parts.size(), 3) << sig.toStdString();
        QWidget *w = inst.widgetByName(parts[1].toLatin1().constData());
        ASSERT_NE(w, nullptr) << sig.toStdString();
        const QString signal = parts.mid(2).join('_') + "(" + sig.section('(', 1);
        EXPECT_GE(w->metaObject()->indexOfSignal(signal.toLatin1().constData()), 0) << sig.toStdString();
    }
}

} // namespace

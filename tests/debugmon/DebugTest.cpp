#include "debugmon/Debug.h"
#include "debugmon/logpane/LogView.h"
#include "tests/debugmon/LogWindowChecks.h"
#include "tests/support/Eventually.h"

#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>
#include <QTextDocument>
#include <QUdpSocket>

#include <memory>

using namespace logwin;

namespace {

const auto *const qtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// The driver's header: 31 characters the monitor drops.
const QString kHeader = QStringLiteral("[ 12.345678] velmora-drv 0001: ");
const QRegularExpression kTimeStamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d "),
                                    QRegularExpression::MultilineOption);

// A monitor on a free port of ::1 and a sender playing the driver.
class DebugWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(kHeader.size(), 31);
        window = std::make_unique<Debug>(quint16(0), nullptr);
        pane = window->findChild<LogView *>(QStringLiteral("debugText"));
        ASSERT_NE(pane, nullptr);
        auto *socket = window->findChild<QUdpSocket *>();
        ASSERT_NE(socket, nullptr);
        ASSERT_EQ(socket->state(), QAbstractSocket::BoundState);
        port = socket->localPort();
    }

    QLineEdit *field(const char *name) const
    {
        return window->findChild<QLineEdit *>(QString::fromLatin1(name));
    }
    QPushButton *button(const char *name) const
    {
        return window->findChild<QPushButton *>(QString::fromLatin1(name));
    }

    void sendRaw(const QByteArray &payload)
    {
        ASSERT_EQ(sender.writeDatagram(payload, QHostAddress(QHostAddress::LocalHostIPv6), port),
                  payload.size());
    }
    void send(const QString &line) { sendRaw((kHeader + line).toUtf8()); }
    int lines() const { return pane->toPlainText().count(QLatin1Char('\n')); }
    // Sends the lines and waits until the pane shows all of them.
    void sendAll(const QStringList &batch)
    {
        const int expected = lines() + batch.size();
        for (const QString &line : batch)
            ASSERT_NO_FATAL_FAILURE(send(line));
        ASSERT_EVENTUALLY_EQ(lines(), expected, 5000);
    }
    QString withoutTimeStamps() const { return pane->toPlainText().remove(kTimeStamp); }

    std::unique_ptr<Debug> window;
    LogView *pane = nullptr;
    quint16 port = 0;
    QUdpSocket sender;
};

TEST(DebugForm, ObjectsGeometryTextsAndTabOrder)
{
    MessageCapture capture;
    RecordingTranslator translator;
    QCoreApplication::installTranslator(&translator);
    Debug window(quint16(0), nullptr);
    QCoreApplication::removeTranslator(&translator);

    EXPECT_TRUE(unmatchedSlots(capture).isEmpty()) << unmatchedSlots(capture).join(QLatin1Char('\n'));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Debug"));
    EXPECT_EQ(window.size(), QSize(700, 500));
    ASSERT_NO_FATAL_FAILURE(
        expectForm(&window, {
                                {"debugText", "QPlainTextEdit", QRect(10, 10, 681, 451), nullptr, true},
                                {"modeEdit", "QLineEdit", QRect(10, 470, 113, 20), nullptr, true},
                                {"cycleEdit", "QLineEdit", QRect(130, 470, 113, 20), nullptr, true},
                                {"infoEdit", "QLineEdit", QRect(250, 470, 113, 20), nullptr, true},
                                {"closeButton", "QPushButton", QRect(450, 470, 75, 23), "close", false},
                                {"clearButton", "QPushButton", QRect(530, 470, 75, 23), "clear", false},
                                {"saveButton", "QPushButton", QRect(610, 470, 75, 23), "save log", false},
                            }));
    EXPECT_EQ(window.findChild<QWidget *>(QStringLiteral("debugText"))->font().family(),
              QStringLiteral("Courier New"));
    ASSERT_NO_FATAL_FAILURE(
        expectTabOrder(&window, {"debugText", "clearButton", "closeButton", "saveButton"}));
    EXPECT_EQ(ownSlots(Debug::staticMetaObject),
              QStringList({"UdpRecive", "on_saveButton_clicked", "on_closeButton_clicked",
                           "on_clearButton_clicked"}));

    std::set<std::string> texts;
    for (const auto &[context, text] : translator.seen) {
        EXPECT_EQ(context, "Debug") << text;
        texts.insert(text);
    }
    EXPECT_EQ(texts, (std::set<std::string>{"Debug", "close", "clear", "save log"}));
}

// The guard above must notice a slot whose widget is gone.
class OrphanSlot : public QWidget {
    Q_OBJECT
private slots:
    void on_goneButton_clicked() {}
};

TEST(DebugForm, GuardSeesSlotWithoutWidget)
{
    MessageCapture capture;
    OrphanSlot widget;
    QMetaObject::connectSlotsByName(&widget);
    EXPECT_EQ(unmatchedSlots(capture).size(), 1);
}

struct LineCase {
    const char *name;
    QStringList lines; // after the header, in the order sent
    const char *mode;
    const char *cycle;
    const char *info;
};

void PrintTo(const LineCase &c, std::ostream *os)
{
    *os << c.name;
}

class DebugLines : public DebugWindow, public ::testing::WithParamInterface<LineCase> {};

TEST_P(DebugLines, FieldsShowValuesOfKnownLines)
{
    const LineCase &c = GetParam();
    ASSERT_NO_FATAL_FAILURE(sendAll(c.lines));
    EXPECT_EQ(field("modeEdit")->text(), QString::fromUtf8(c.mode));
    EXPECT_EQ(field("cycleEdit")->text(), QString::fromUtf8(c.cycle));
    EXPECT_EQ(field("infoEdit")->text(), QString::fromUtf8(c.info));
    // Known or not, every line is logged, in order, behind its mark (the
    // marks themselves: DebugPrefixes).
    const QStringList logged = withoutTimeStamps().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(logged.size(), c.lines.size()) << withoutTimeStamps().toStdString();
    for (int i = 0; i < c.lines.size(); ++i)
        EXPECT_TRUE(logged[i].endsWith(c.lines[i]))
            << logged[i].toStdString() << " | " << c.lines[i].toStdString();
}

const LineCase kLineCases[] = {
    {"ModeFirstToken", {"configTransfer DSD128 44100 x"}, "DSD128", "", ""},
    {"ModeEmptyRest", {"configTransfer PCM", "configTransfer "}, "", "", ""},
    {"ModeEmptyFirstToken", {"configTransfer  PCM"}, "", "", ""},
    {"CycleSecondToken", {"start cycle=8 1000 us"}, "", "1000", ""},
    {"CycleEmptySecondToken", {"start cycle=8  1000"}, "", "", ""},
    {"CycleWithoutSecondTokenKeepsField", {"start cycle=8 2000", "start cycle=500"}, "", "2000", ""},
    {"FsBeforeAnySpeed", {"info rcv a fs=512"}, "", "", ""},
    {"FsAfterSpeed", {"start SPEED=44100", "info rcv a b fs=512"}, "", "", "11264 usec"},
    {"FsOnlyLastTokenCounts", {"start SPEED=44100", "info rcv fs=512 cy=4000 fs=2"}, "", "", "44 usec"},
    {"FsFraction", {"start SPEED=48000", "info rcv fs=2.5"}, "", "", "50 usec"},
    {"FsNegative", {"start SPEED=48000", "info rcv fs=-3"}, "", "", "-60 usec"},
    {"FsZero", {"start SPEED=44100", "info rcv cy=4000", "info rcv fs=0"}, "", "", ""},
    {"FsNotANumber", {"start SPEED=44100", "info rcv cy=4000", "info rcv fs=x"}, "", "", ""},
    {"FsBeyondField", {"start SPEED=1", "info rcv cy=4000", "info rcv fs=3e9"}, "", "", ""},
    {"FsLowestInt32", {"start SPEED=1000000", "info rcv fs=-2147483648"}, "", "", "-2147483648 usec"},
    {"FsBelowLowestInt32", {"start SPEED=1000000", "info rcv cy=4000", "info rcv fs=-2147483904"}, "", "", ""},
    {"FsTwoToThe31", {"start SPEED=1000000", "info rcv cy=4000", "info rcv fs=2147483648"}, "", "", ""},
    {"FsInfinite", {"start SPEED=1", "info rcv cy=4000", "info rcv fs=inf"}, "", "", ""},
    {"SpeedZeroKeepsSpeed", {"start SPEED=44100", "start SPEED=0", "info rcv fs=512"}, "", "", "11264 usec"},
    {"SpeedNotANumberKeepsSpeed",
     {"start SPEED=44100", "start SPEED=fast", "info rcv fs=512"},
     "",
     "",
     "11264 usec"},
    {"SpeedTooLargeKeepsSpeed",
     {"start SPEED=44100", "start SPEED=4294967296", "info rcv fs=512"},
     "",
     "",
     "11264 usec"},
    {"SpeedReplaced", {"start SPEED=44100", "start SPEED=1000000", "info rcv fs=512"}, "", "", "512 usec"},
    {"CyWholeHertz", {"info rcv cy=4000"}, "", "", "250.00 Hz"},
    {"CyTwoDigits", {"info rcv x cy=3"}, "", "", "333333.33 Hz"},
    {"CyLeadingZeroDigit", {"info rcv cy=11"}, "", "", "90909.09 Hz"},
    {"CyZero", {"info rcv cy=4000", "info rcv cy=0"}, "", "", ""},
    {"CyNegative", {"info rcv cy=4000", "info rcv cy=-4"}, "", "", ""},
    {"NoEquals", {"info rcv cy=4000", "info rcv cy4000"}, "", "", ""},
    {"TwoEquals", {"info rcv cy=4000", "info rcv cy=4000=1"}, "", "", ""},
    {"OtherName", {"info rcv cy=4000", "info rcv xy=4000"}, "", "", ""},
    {"EmptyLastToken", {"info rcv cy=4000", "info rcv cy=4000 "}, "", "", ""},
    {"BeginningsAreCaseSensitive",
     {"ConfigTransfer PCM", "start Cycle=1 2", "info Rcv cy=4000", "Start SPEED=1"},
     "",
     "",
     ""},
    {"AllFieldsTogether",
     {"configTransfer PCM", "start cycle=1 2000", "start SPEED=44100", "info rcv fs=512", "Target: fs=1"},
     "PCM",
     "2000",
     "11264 usec"},
};

INSTANTIATE_TEST_SUITE_P(Kinds, DebugLines, ::testing::ValuesIn(kLineCases),
                         [](const auto &info) { return std::string(info.param.name); });

struct PrefixCase {
    const char *name;
    QByteArray payload; // the whole datagram
    const char *logged; // the pane's line after the time stamp
};

void PrintTo(const PrefixCase &c, std::ostream *os)
{
    *os << c.name;
}

class DebugPrefixes : public DebugWindow, public ::testing::WithParamInterface<PrefixCase> {};

TEST_P(DebugPrefixes, TimeStampAndHostMark)
{
    const PrefixCase &c = GetParam();
    ASSERT_NO_FATAL_FAILURE(sendRaw(c.payload));
    ASSERT_EVENTUALLY_EQ(lines(), 1, 5000);
    const QString text = pane->toPlainText();
    EXPECT_TRUE(kTimeStamp.match(text).hasMatch()) << text;
    EXPECT_EQ(text.mid(13), QString::fromUtf8(c.logged) + QLatin1Char('\n'));
}

const PrefixCase kPrefixCases[] = {
    {"HostLine", (kHeader + "buffer ok").toUtf8(), "Host  : buffer ok"},
    {"TargetLine", (kHeader + "Target: po=3").toUtf8(), "Target: po=3"},
    {"TargetWithoutSpace", (kHeader + "Target:po=3").toUtf8(), "Host  : Target:po=3"},
    {"HeaderOnly", kHeader.toUtf8(), "Host  : "},
    {"ShorterThanHeader", "short", "Host  : "},
    {"Empty", "", "Host  : "},
    {"HeaderCountedInCharacters", (QString(31, QChar(0xe9)) + "ok").toUtf8(), "Host  : ok"},
    {"HeaderWithCharactersOutsideBmp", (QString::fromUtf8("\xf0\x9f\x98\x80").repeated(31) + "ok").toUtf8(),
     "Host  : ok"},
    {"LineKeepsItsUtf8", (kHeader + QString::fromUtf8("Gr\xc3\xbc\xc3\x9f \xe2\x82\xac")).toUtf8(),
     "Host  : Gr\xc3\xbc\xc3\x9f \xe2\x82\xac"},
};

INSTANTIATE_TEST_SUITE_P(Lines, DebugPrefixes, ::testing::ValuesIn(kPrefixCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(DebugWindow, TimeStampIsLocalTimeOfArrival)
{
    const QTime before = QTime::currentTime();
    ASSERT_NO_FATAL_FAILURE(sendAll({"x"}));
    const QTime after = QTime::currentTime();
    const QTime stamp = QTime::fromString(pane->toPlainText().left(12), QStringLiteral("hh:mm:ss.zzz"));
    ASSERT_TRUE(stamp.isValid());
    // Around midnight the order wraps; the stamp then lies outside [before, after].
    if (before <= after) {
        EXPECT_LE(before, stamp);
        EXPECT_LE(stamp, after);
    }
}

TEST_F(DebugWindow, DatagramsWaitingTogetherGoInAsOneEditInOrder)
{
    ASSERT_NO_FATAL_FAILURE(sendAll({"first"}));
    int edits = 0;
    QObject::connect(pane->document(), &QTextDocument::contentsChange, [&](int, int, int) { ++edits; });
    // Sent while the window cannot read: all wait in the socket together.
    QStringList batch;
    for (int i = 0; i < 200; ++i)
        batch << (i % 50 == 7 ? QStringLiteral("Target: t%1").arg(i) : QStringLiteral("line %1").arg(i));
    for (const QString &line : batch)
        ASSERT_NO_FATAL_FAILURE(send(line));
    ASSERT_EVENTUALLY_EQ(lines(), 201, 5000);
    EXPECT_EQ(edits, 1);

    QString expected = QStringLiteral("Host  : first\n");
    for (const QString &line : batch)
        expected += (line.startsWith(QLatin1String("Target: ")) ? line : QStringLiteral("Host  : ") + line) +
                    QLatin1Char('\n');
    EXPECT_EQ(withoutTimeStamps(), expected);
}

TEST_F(DebugWindow, NewLinesGoToTheEndWhateverIsSelected)
{
    ASSERT_NO_FATAL_FAILURE(sendAll({"one", "two"}));
    QTextCursor selection(pane->document());
    selection.setPosition(2);
    selection.setPosition(8, QTextCursor::KeepAnchor);
    pane->setTextCursor(selection);
    ASSERT_NO_FATAL_FAILURE(sendAll({"three"}));
    EXPECT_EQ(withoutTimeStamps(), QStringLiteral("Host  : one\nHost  : two\nHost  : three\n"));
}

TEST_F(DebugWindow, PaneIsReadOnlyForTheUser)
{
    ASSERT_NO_FATAL_FAILURE(sendAll({"kept"}));
    pane->setFocus();
    pane->moveCursor(QTextCursor::End);
    QTest::keyClicks(pane, "typed");
    QTest::keyClick(pane, Qt::Key_Backspace);
    EXPECT_EQ(withoutTimeStamps(), QStringLiteral("Host  : kept\n"));
}

TEST_F(DebugWindow, ClearEmptiesOnlyTheLog)
{
    ASSERT_NO_FATAL_FAILURE(
        sendAll({"configTransfer DSD64", "start cycle=1 1000", "start SPEED=44100", "info rcv cy=4000"}));
    button("clearButton")->click();
    EXPECT_TRUE(pane->toPlainText().isEmpty());
    EXPECT_EQ(field("modeEdit")->text(), QStringLiteral("DSD64"));
    EXPECT_EQ(field("cycleEdit")->text(), QStringLiteral("1000"));
    EXPECT_EQ(field("infoEdit")->text(), QStringLiteral("250.00 Hz"));
    // The speed is kept too, and new lines start the empty log.
    ASSERT_NO_FATAL_FAILURE(sendAll({"info rcv fs=512"}));
    EXPECT_EQ(field("infoEdit")->text(), QStringLiteral("11264 usec"));
    EXPECT_EQ(withoutTimeStamps(), QStringLiteral("Host  : info rcv fs=512\n"));
}

TEST_F(DebugWindow, CloseEndsTheModalRun)
{
    window->open();
    ASSERT_TRUE(window->isVisible());
    QTest::mouseClick(button("closeButton"), Qt::LeftButton);
    ASSERT_EVENTUALLY_TRUE(!window->isVisible(), 5000);
}

struct Chooser {
    explicit Chooser(QString path) : answer(std::move(path)) {}
    QString answer;
    int calls = 0;
    QWidget *parent = nullptr;
    QString caption, folder, filter;
    LogView::FileChooser function()
    {
        return [this](QWidget *p, const QString &c, const QString &d, const QString &f) {
            ++calls;
            parent = p;
            caption = c;
            folder = d;
            filter = f;
            return answer;
        };
    }
};

struct Reporter {
    QStringList texts;
    LogView::ErrorReporter function()
    {
        return [this](QWidget *, const QString &, const QString &text) { texts << text; };
    }
};

TEST_F(DebugWindow, SaveWritesThePaneInTheDefaultEncoding)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("debug.log"));
    {
        // A longer old file is replaced, not overwritten in part.
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(4096, 'o'));
    }
    Chooser chooser(path);
    Reporter reporter;
    pane->setFileChooser(chooser.function());
    pane->setErrorReporter(reporter.function());
    ASSERT_NO_FATAL_FAILURE(
        sendAll({"start SPEED=44100", "Target: hello", QString::fromUtf8("caf\xc3\xa9")}));

    QTest::mouseClick(button("saveButton"), Qt::LeftButton);
    EXPECT_EQ(chooser.calls, 1);
    EXPECT_EQ(chooser.parent, window.get());
    EXPECT_EQ(chooser.caption, QStringLiteral("save log"));
    EXPECT_EQ(chooser.folder, QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
    EXPECT_EQ(chooser.filter, QStringLiteral("Log Files (*.log)"));
    EXPECT_EQ(readBytes(path), QTextCodec::codecForLocale()->fromUnicode(pane->toPlainText()));
    EXPECT_EQ(pane->toPlainText().count(QLatin1Char('\n')), 3);
    EXPECT_TRUE(reporter.texts.isEmpty());
}

TEST_F(DebugWindow, CancelledSaveWritesNothing)
{
    QTemporaryDir dir;
    Chooser chooser{QString()};
    Reporter reporter;
    pane->setFileChooser(chooser.function());
    pane->setErrorReporter(reporter.function());
    ASSERT_NO_FATAL_FAILURE(sendAll({"line"}));
    button("saveButton")->click();
    EXPECT_EQ(chooser.calls, 1);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    EXPECT_TRUE(reporter.texts.isEmpty());
}

TEST_F(DebugWindow, SaveThatCannotOpenTheFileSaysSoAndKeepsTheLog)
{
    QTemporaryDir dir;
    const QString unwritable = dir.filePath(QStringLiteral("no/such/folder/debug.log"));
    Chooser chooser(unwritable);
    Reporter reporter;
    pane->setFileChooser(chooser.function());
    pane->setErrorReporter(reporter.function());
    ASSERT_NO_FATAL_FAILURE(sendAll({"line"}));
    button("saveButton")->click();
    EXPECT_FALSE(QFile::exists(unwritable));
    ASSERT_EQ(reporter.texts.size(), 1);
    EXPECT_TRUE(reporter.texts.first().contains(unwritable)) << reporter.texts.first();
    EXPECT_EQ(withoutTimeStamps(), QStringLiteral("Host  : line\n"));
}

TEST(DebugBind, PortInUseIsShownInThePaneAndOnTheDebugOutput)
{
    QUdpSocket holder;
    ASSERT_TRUE(holder.bind(QHostAddress(QHostAddress::LocalHostIPv6), 0));
    MessageCapture capture;
    Debug window(holder.localPort(), nullptr);
    EXPECT_EQ(capture.matching(QStringLiteral("Socket Error")).size(), 1);

    const QString text = window.findChild<LogView *>(QStringLiteral("debugText"))->toPlainText();
    EXPECT_TRUE(kTimeStamp.match(text).hasMatch()) << text;
    EXPECT_TRUE(text.contains(QStringLiteral("Socket Error"))) << text;
    EXPECT_TRUE(text.contains(QStringLiteral("port %1").arg(holder.localPort()))) << text;
    // The window still works.
    window.open();
    window.findChild<QPushButton *>(QStringLiteral("clearButton"))->click();
    EXPECT_TRUE(window.findChild<LogView *>(QStringLiteral("debugText"))->toPlainText().isEmpty());
    window.findChild<QPushButton *>(QStringLiteral("closeButton"))->click();
    ASSERT_EVENTUALLY_TRUE(!window.isVisible(), 5000);
}

// Takes the real debug port: named in LOCKED_CASES (CMakeLists.txt here).
TEST(DebugBind, DefaultIsTheDriversPortOnIpv6Loopback)
{
    Debug window;
    auto *socket = window.findChild<QUdpSocket *>();
    ASSERT_NE(socket, nullptr);
    const QString text = window.findChild<LogView *>(QStringLiteral("debugText"))->toPlainText();
    if (socket->state() == QAbstractSocket::BoundState) {
        EXPECT_EQ(socket->localAddress(), QHostAddress(QHostAddress::LocalHostIPv6));
        EXPECT_EQ(socket->localPort(), 19641);
        EXPECT_TRUE(text.isEmpty());
    } else {
        // Another monitor on this machine holds the port.
        EXPECT_TRUE(text.contains(QStringLiteral("::1 port 19641"))) << text;
    }
}

} // namespace

#include "DebugTest.moc"

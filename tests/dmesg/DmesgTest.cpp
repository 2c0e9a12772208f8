#include "src/Network/Dmesg/Dmesg.h"
#include "debugmon/logpane/LogView.h"
#include "tests/debugmon/LogWindowChecks.h"
#include "tests/support/Eventually.h"

#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>

#include <memory>

using namespace logwin;

namespace {

const auto *const qtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

const QHostAddress kLoopback(QHostAddress::LocalHostIPv6);

// A window connected to a server on ::1 that plays the target.
class DmesgWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.listen(kLoopback, 0));
        window = std::make_unique<Dmesg>(kLoopback, server.serverPort(), nullptr);
        pane = window->findChild<LogView *>(QStringLiteral("dmesgText"));
        ASSERT_NE(pane, nullptr);
        ASSERT_EVENTUALLY_TRUE(server.hasPendingConnections(), 5000);
        target = server.nextPendingConnection();
        ASSERT_NE(target, nullptr);
    }

    // Sends one chunk of the stream and waits until the window has read it.
    void sendChunk(const QByteArray &bytes)
    {
        auto *socket = window->findChild<QTcpSocket *>();
        ASSERT_NE(socket, nullptr);
        int reads = 0;
        auto counter = QObject::connect(socket, &QTcpSocket::readyRead, [&] { ++reads; });
        ASSERT_EQ(target->write(bytes), bytes.size());
        ASSERT_TRUE(target->waitForBytesWritten(5000));
        ASSERT_EVENTUALLY_TRUE(reads > 0 && socket->bytesAvailable() == 0, 5000);
        QObject::disconnect(counter);
    }
    QPushButton *button(const char *name) const
    {
        return window->findChild<QPushButton *>(QString::fromLatin1(name));
    }

    QTcpServer server;
    std::unique_ptr<Dmesg> window;
    LogView *pane = nullptr;
    QTcpSocket *target = nullptr;
};

TEST(DmesgForm, ObjectsGeometryTextsAndTabOrder)
{
    MessageCapture capture;
    RecordingTranslator translator;
    QCoreApplication::installTranslator(&translator);
    Dmesg window(kLoopback, 1, nullptr);
    QCoreApplication::removeTranslator(&translator);

    EXPECT_TRUE(unmatchedSlots(capture).isEmpty()) << unmatchedSlots(capture).join(QLatin1Char('\n'));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("dmesg"));
    EXPECT_EQ(window.size(), QSize(700, 500));
    EXPECT_EQ(window.windowFlags(), QDialog().windowFlags());
    ASSERT_NO_FATAL_FAILURE(
        expectForm(&window, {
                                {"dmesgText", "QPlainTextEdit", QRect(10, 10, 681, 451), nullptr, true},
                                {"saveButton", "QPushButton", QRect(610, 470, 75, 23), "save log", false},
                                {"closeButton", "QPushButton", QRect(450, 470, 75, 23), "close", false},
                                {"clearButton", "QPushButton", QRect(530, 470, 75, 23), "clear", false},
                                {"pushReboot", "QPushButton", QRect(10, 470, 75, 23), "reboot", false},
                            }));
    EXPECT_EQ(window.findChild<QWidget *>(QStringLiteral("dmesgText"))->font().family(),
              QStringLiteral("Courier New"));
    ASSERT_NO_FATAL_FAILURE(expectTabOrder(&window, {"clearButton", "closeButton", "saveButton"}));
    EXPECT_EQ(ownSlots(Dmesg::staticMetaObject),
              QStringList({"UdpRecive", "TcpRecive", "on_saveButton_clicked", "on_closeButton_clicked",
                           "on_clearButton_clicked", "on_pushReboot_clicked"}));
    EXPECT_FALSE(window.rebootRequested());

    std::set<std::string> texts;
    for (const auto &[context, text] : translator.seen) {
        EXPECT_EQ(context, "Dmesg") << text;
        texts.insert(text);
    }
    EXPECT_EQ(texts, (std::set<std::string>{"dmesg", "save log", "close", "clear", "reboot"}));
}

// Takes the real log port: named in LOCKED_CASES (CMakeLists.txt here).
TEST(DmesgConnection, DefaultIsPort23OfTheGivenAddress)
{
    QTcpServer telnet;
    if (!telnet.listen(kLoopback, 23))
        GTEST_SKIP() << "port 23 on ::1 cannot be opened here: " << telnet.errorString();
    Dmesg window(kLoopback);
    ASSERT_EVENTUALLY_TRUE(telnet.hasPendingConnections(), 5000);
    auto *socket = window.findChild<QTcpSocket *>();
    ASSERT_NE(socket, nullptr);
    ASSERT_EVENTUALLY_EQ(socket->state(), QAbstractSocket::ConnectedState, 5000);
    EXPECT_EQ(socket->peerPort(), 23);
    EXPECT_EQ(socket->openMode(), QIODevice::ReadWrite);
}

TEST(DmesgConnection, RefusedConnectionLeavesAnEmptyWorkingWindow)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(kLoopback, 0));
    const quint16 port = closed.serverPort();
    closed.close();
    Dmesg window(kLoopback, port, nullptr);
    auto *socket = window.findChild<QTcpSocket *>();
    ASSERT_EVENTUALLY_EQ(socket->state(), QAbstractSocket::UnconnectedState, 5000);
    EXPECT_TRUE(window.findChild<LogView *>(QStringLiteral("dmesgText"))->toPlainText().isEmpty());
    window.open();
    window.findChild<QPushButton *>(QStringLiteral("pushReboot"))->click();
    ASSERT_EVENTUALLY_TRUE(!window.isVisible(), 5000);
    EXPECT_TRUE(window.rebootRequested());
}

TEST_F(DmesgWindow, StreamIsAppendedAsReceived)
{
    ASSERT_NO_FATAL_FAILURE(sendChunk("[    0.000] boot\n[    0.1"));
    ASSERT_NO_FATAL_FAILURE(sendChunk("20] net up\n"));
    ASSERT_NO_FATAL_FAILURE(sendChunk("no line end"));
    EXPECT_EQ(pane->toPlainText(), QStringLiteral("[    0.000] boot\n[    0.120] net up\nno line end"));
}

TEST_F(DmesgWindow, TextGoesToTheEndWhateverIsSelected)
{
    ASSERT_NO_FATAL_FAILURE(sendChunk("abcdef\n"));
    QTextCursor selection(pane->document());
    selection.setPosition(1);
    selection.setPosition(3, QTextCursor::KeepAnchor);
    pane->setTextCursor(selection);
    ASSERT_NO_FATAL_FAILURE(sendChunk("ghi"));
    EXPECT_EQ(pane->toPlainText(), QStringLiteral("abcdef\nghi"));
}

TEST_F(DmesgWindow, ClearThenNewDataShowsOnlyTheNewData)
{
    ASSERT_NO_FATAL_FAILURE(sendChunk("old\n"));
    button("clearButton")->click();
    EXPECT_TRUE(pane->toPlainText().isEmpty());
    ASSERT_NO_FATAL_FAILURE(sendChunk("new\n"));
    EXPECT_EQ(pane->toPlainText(), QStringLiteral("new\n"));
    EXPECT_EQ(window->findChild<QTcpSocket *>()->state(), QAbstractSocket::ConnectedState);
}

TEST_F(DmesgWindow, CharactersSplitAcrossChunksShowWhole)
{
    const char *characters[] = {"\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80"};
    QString expected;
    for (const char *utf8 : characters) {
        const QByteArray bytes(utf8);
        for (int cut = 1; cut < bytes.size(); ++cut) {
            SCOPED_TRACE(bytes.toHex().toStdString() + " cut at " + std::to_string(cut));
            ASSERT_NO_FATAL_FAILURE(sendChunk("<" + bytes.left(cut)));
            ASSERT_NO_FATAL_FAILURE(sendChunk(bytes.mid(cut) + ">"));
            expected += QLatin1Char('<') + QString::fromUtf8(bytes) + QLatin1Char('>');
            EXPECT_EQ(pane->toPlainText(), expected);
        }
    }
    EXPECT_FALSE(pane->toPlainText().contains(QChar(QChar::ReplacementCharacter)));
}

TEST_F(DmesgWindow, InvalidBytesStillShowAndDoNotSpoilWhatFollows)
{
    ASSERT_NO_FATAL_FAILURE(sendChunk("a\xff"));
    ASSERT_NO_FATAL_FAILURE(sendChunk("b\xe2\x82"));
    ASSERT_NO_FATAL_FAILURE(sendChunk("\xac"));
    EXPECT_EQ(pane->toPlainText(), QString::fromUtf8("a\xef\xbf\xbd"
                                                     "b\xe2\x82\xac"));
}

TEST_F(DmesgWindow, StreamEndingInsideACharacterShowsAReplacement)
{
    ASSERT_NO_FATAL_FAILURE(sendChunk("end\xe2\x82"));
    target->disconnectFromHost();
    ASSERT_EVENTUALLY_EQ(pane->toPlainText(), QString::fromUtf8("end\xef\xbf\xbd"), 5000);
}

struct CloseCase {
    const char *name;
    const char *button;
    bool reboot;
};

void PrintTo(const CloseCase &c, std::ostream *os)
{
    *os << c.name;
}

class DmesgClose : public DmesgWindow, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(DmesgClose, ButtonClosesAndSetsRebootFlag)
{
    const CloseCase &c = GetParam();
    window->open();
    ASSERT_TRUE(window->isVisible());
    QTest::mouseClick(button(c.button), Qt::LeftButton);
    ASSERT_EVENTUALLY_TRUE(!window->isVisible(), 5000);
    EXPECT_EQ(window->rebootRequested(), c.reboot);
    // The window itself never writes to the target.
    EXPECT_FALSE(target->waitForReadyRead(50));
    EXPECT_EQ(target->bytesAvailable(), 0);
}

INSTANTIATE_TEST_SUITE_P(Buttons, DmesgClose,
                         ::testing::Values(CloseCase{"Close", "closeButton", false},
                                           CloseCase{"Reboot", "pushReboot", true}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(DmesgWindow, SaveWritesTheStreamAndCancelWritesNothing)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("target.log"));
    QString answer;
    QString caption;
    pane->setFileChooser([&](QWidget *, const QString &c, const QString &, const QString &) {
        caption = c;
        return answer;
    });
    ASSERT_NO_FATAL_FAILURE(sendChunk("line one\nline two\n"));

    button("saveButton")->click();
    EXPECT_EQ(caption, QStringLiteral("save log"));
    EXPECT_TRUE(QDir(dir.path()).isEmpty());

    answer = path;
    button("saveButton")->click();
    EXPECT_EQ(readBytes(path), QTextCodec::codecForLocale()->fromUnicode(pane->toPlainText()));
    EXPECT_EQ(readBytes(path), QByteArray("line one\nline two\n"));
}

} // namespace

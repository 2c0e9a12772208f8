#pragma once
// Checks shared by the tests of the two log windows: the Qt application,
// the form's widgets, tab order and translation context, and the guard
// against auto-connected slots that lost their widget.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QMetaMethod>
#include <QMutex>
#include <QPushButton>
#include <QRect>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTranslator>
#include <QWidget>

#include <set>
#include <string>
#include <vector>

// Readable QStrings in failure messages.
inline std::ostream &operator<<(std::ostream &os, const QString &s)
{
    return os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << s;
}

namespace logwin {

// One QApplication for the whole test program.
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "logwin-test";
        static char *argv[] = {name, nullptr};
        app = new QApplication(argc, argv);
    }
    void TearDown() override
    {
        delete app;
        app = nullptr;
    }

private:
    QApplication *app = nullptr;
};

// Collects Qt's messages while alive (e.g. while a form is built).
class MessageCapture {
public:
    MessageCapture()
    {
        current() = this;
        previous = qInstallMessageHandler(&MessageCapture::handle);
    }
    ~MessageCapture()
    {
        qInstallMessageHandler(previous);
        current() = nullptr;
    }
    QStringList matching(const QString &part) const
    {
        QMutexLocker lock(&mutex);
        return messages.filter(part);
    }

private:
    static MessageCapture *&current()
    {
        static MessageCapture *c = nullptr;
        return c;
    }
    static void handle(QtMsgType, const QMessageLogContext &, const QString &message)
    {
        if (MessageCapture *c = current()) {
            QMutexLocker lock(&c->mutex);
            c->messages << message;
        }
    }
    QtMessageHandler previous = nullptr;
    mutable QMutex mutex;
    QStringList messages;
};

// Qt reports slots named on_<object>_<signal> that match no widget only as a
// warning; the window then silently misses a button.
inline QStringList unmatchedSlots(const MessageCapture &capture)
{
    return capture.matching(QStringLiteral("No matching signal"));
}

// Records the context of every text the form translates.
class RecordingTranslator : public QTranslator {
public:
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        // Qt itself asks for a few texts of its own classes (layout direction).
        const std::string c = context ? context : "";
        if (c.rfind("Q", 0) != 0)
            seen.emplace_back(c, std::string(sourceText ? sourceText : ""));
        return QString();
    }
    mutable std::vector<std::pair<std::string, std::string>> seen;
};

struct FormRow {
    const char *name;
    const char *className; // the widget inherits this class
    QRect geometry;
    const char *text; // button text, nullptr for none
    bool readOnly;    // for text fields
};

inline void expectForm(QWidget *window, const std::vector<FormRow> &rows)
{
    for (const FormRow &row : rows) {
        SCOPED_TRACE(row.name);
        QWidget *w = window->findChild<QWidget *>(QString::fromLatin1(row.name));
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->inherits(row.className)) << w->metaObject()->className();
        EXPECT_EQ(w->geometry(), row.geometry);
        if (row.text) {
            EXPECT_EQ(w->property("text").toString(), QString::fromUtf8(row.text));
        }
        if (w->property("readOnly").isValid()) {
            EXPECT_EQ(w->property("readOnly").toBool(), row.readOnly);
        }
    }
}

// Each widget follows the one before it in the focus chain (widgets that
// belong to the one before, like a text pane's viewport, are skipped).
inline void expectTabOrder(QWidget *window, const QStringList &order)
{
    for (int i = 0; i + 1 < order.size(); ++i) {
        QWidget *from = window->findChild<QWidget *>(order.at(i));
        QWidget *to = window->findChild<QWidget *>(order.at(i + 1));
        ASSERT_TRUE(from && to) << order.at(i) << " " << order.at(i + 1);
        QWidget *next = from->nextInFocusChain();
        while (next != from && from->isAncestorOf(next))
            next = next->nextInFocusChain();
        EXPECT_EQ(next, to) << "after " << order.at(i) << " comes " << next->objectName();
    }
}

// The private slots the meta-object declares, in declaration order.
inline QStringList ownSlots(const QMetaObject &meta)
{
    QStringList names;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
        if (meta.method(i).methodType() == QMetaMethod::Slot)
            names << QString::fromLatin1(meta.method(i).name());
    return names;
}

inline QByteArray readBytes(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return f.readAll();
}

} // namespace logwin

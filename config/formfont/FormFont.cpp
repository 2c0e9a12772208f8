#include "config/formfont/FormFont.h"

#include <QAbstractButton>
#include <QFontDatabase>
#include <QLabel>
#include <QWidget>

namespace {

constexpr qreal kDialogPoints = 8.0;
constexpr qreal kSmallestPoints = 6.5;
// Room a push button needs beside its text.
constexpr int kButtonMargin = 8;

// Narrow families that many systems carry, tried in this order when the
// platform's own font is too wide.
const char *const kNarrowFamilies[] = {"DejaVu Sans Condensed", "Liberation Sans", "Arial", "Nimbus Sans"};

int available(const QWidget *w)
{
    if (qobject_cast<const QAbstractButton *>(w))
        return w->width() - kButtonMargin;
    return w->contentsRect().width();
}

QString textOf(const QWidget *w)
{
    if (auto *l = qobject_cast<const QLabel *>(w))
        return l->text();
    if (auto *b = qobject_cast<const QAbstractButton *>(w))
        return b->text();
    return QString();
}

bool fitsWith(const QFont &font, const QList<QWidget *> &widgets)
{
    const QFontMetrics fm(font);
    for (const QWidget *w : widgets) {
        if (fm.horizontalAdvance(textOf(w)) > available(w))
            return false;
    }
    return true;
}

} // namespace

void fitFormFont(QWidget *dialog, const QList<QWidget *> &fixedTexts)
{
    QFont font = dialog->font();
    if (font.pointSizeF() <= 0 || font.pointSizeF() > kDialogPoints)
        font.setPointSizeF(kDialogPoints);
    if (!fitsWith(font, fixedTexts)) {
        const QStringList installed = QFontDatabase().families();
        for (const char *family : kNarrowFamilies) {
            if (!installed.contains(QString::fromLatin1(family)))
                continue;
            QFont narrow = font;
            narrow.setFamily(QString::fromLatin1(family));
            if (fitsWith(narrow, fixedTexts)) {
                font = narrow;
                break;
            }
        }
    }
    while (!fitsWith(font, fixedTexts) && font.pointSizeF() > kSmallestPoints)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    dialog->setFont(font);
}

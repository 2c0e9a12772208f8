#pragma once

#include <QList>

class QWidget;

// The form places every widget at fixed pixels, sized for the classic
// 8-point dialog font. Where the platform's font is wider (or larger) the
// labels would be cut: this picks the dialog font so that the fixed texts
// of the given labels and buttons fit, narrowing the family or the size
// only as far as needed.
void fitFormFont(QWidget *dialog, const QList<QWidget *> &fixedTexts);

#include "config/Dialog.h"
#include "ui_Dialog.h"

#include "settings/SettingsFiles.h"

#include <QLineEdit>
#include <QSpinBox>

#include <climits>

namespace files = settings::file;
namespace keys = settings::key;
namespace values = settings::value;
namespace features = settings::feature;

// The controls hold no state of their own: every change, also the ones made
// here while the controls are rebuilt, reaches the change handlers, which
// write the settings. What the settings hold afterwards comes out of that.

namespace {

const QString kPrefer = QStringLiteral("Prefer");

// "low-high": split at the first "-"; without one both are the whole text.
void splitBounds(const QString &text, QString &low, QString &high)
{
    const int dash = text.indexOf(QLatin1Char('-'));
    low = dash < 0 ? text : text.left(dash);
    high = dash < 0 ? text : text.mid(dash + 1);
}

int clampToInt(int64_t v)
{
    return v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : static_cast<int>(v);
}

} // namespace

void Dialog::applyRanges()
{
    applyBufferRange();
    applyCycleRange();
    applyLatencyRange();
}

void Dialog::applyBufferRange()
{
    // Read before the box is touched: clearing it stores "0".
    const int64_t stored = settings.getInt(keys::kASIOBufferSize);
    ui->bsizeBox->clear();
    ui->bsizeBox->insertItem(0, QString::number(settings.getInt(keys::kASIOBufferSizeMin)) +
                                    QLatin1Char('-') +
                                    QString::number(settings.getInt(keys::kASIOBufferSizeMax)));
    const QString range = QString::fromStdString(settings.get(keys::kPresetASIOBufferSizeRange));
    int match = 0;
    if (!range.isEmpty()) {
        QString lowText;
        QString highText;
        splitBounds(range, lowText, highText);
        const int low = lowText.toInt();
        const int high = highText.toInt();
        // Sizes double from the low bound; a bound of 0 or below would never
        // grow, so such a range offers only item 0.
        if (low > 0) {
            for (int64_t size = low; size <= high; size *= 2) {
                ui->bsizeBox->addItem(QString::number(size));
                if (size == static_cast<int32_t>(stored))
                    match = ui->bsizeBox->count() - 1;
            }
        }
    }
    ui->bsizeBox->setCurrentIndex(match);
}

void Dialog::applyCycleRange()
{
    const QString range = QString::fromStdString(settings.get(keys::kPresetCycleRange));
    const int64_t stored = settings.getInt(keys::kCycleTime);
    QSpinBox *box = ui->cycleBox;
    if (!range.isEmpty()) {
        const int comma = range.indexOf(QLatin1Char(','));
        const QString bounds = comma < 0 ? range : range.left(comma);
        const QString step = comma < 0 ? range : range.mid(comma + 1);
        QString minText;
        QString maxText;
        splitBounds(bounds, minText, maxText);
        box->setMaximum(maxText.toInt());
        box->setMinimum(minText.toInt());
        box->setSingleStep(step.toInt());
        box->setValue(clampToInt(stored));
        ui->cycleLabel->setText(QStringLiteral("usec ") + minText + QLatin1Char('-') + maxText);
        if (cycleGroupShown) {
            ui->cycleEdit->hide();
            box->setEnabled(true);
            box->show();
        }
        return;
    }

    box->setSingleStep(1);
    const int64_t limit = settings.getInt(keys::kTargetProfileLimitTime);
    if (limit == 0 && settings.get(keys::kFlexCycle) == values::kFixAsio) {
        // The cycle follows the ASIO buffer: nothing to choose.
        box->setMaximum(0);
        box->setMinimum(0);
        box->setValue(0);
        ui->cycleEdit->setText(QStringLiteral("ASIO Buffer"));
        ui->cycleLabel->setText(QString());
    } else {
        const int value = clampToInt(stored);
        box->setMaximum(value);
        box->setMinimum(value);
        box->setValue(value);
        QString text = QString::number(stored);
        if (limit != 0)
            text = QString::number(limit) + QLatin1Char('-') + text;
        ui->cycleEdit->setText(text);
        ui->cycleLabel->setText(QStringLiteral("usec"));
    }
    if (cycleGroupShown) {
        box->setEnabled(false);
        box->hide();
        ui->cycleEdit->setModified(true);
        ui->cycleEdit->show();
    }
}

void Dialog::applyLatencyRange()
{
    const int64_t stored = settings.getInt(keys::kLatencyBuffer);
    ui->latencyBox->clear();
    const QString range = QString::fromStdString(settings.get(keys::kPresetLatencyBuffereRange));
    if (range.isEmpty()) {
        ui->latencyBox->addItem(kPrefer);
        ui->latencyBox->setCurrentIndex(0);
        return;
    }
    // "min-max,step[,Prefer]" in microseconds; the items are whole
    // milliseconds.
    const int first = range.indexOf(QLatin1Char(','));
    const int second = first < 0 ? -1 : range.indexOf(QLatin1Char(','), first + 1);
    const QString bounds = first < 0 ? range : range.left(first);
    const QString step = first < 0 ? range : range.mid(first + 1, second < 0 ? -1 : second - first - 1);
    const QString tail = second < 0 ? range : range.mid(second + 1);
    bool prefer = tail == kPrefer;
    const int stepMs = step.toInt() / 1000;
    if (stepMs < 1)
        prefer = true; // a step below one millisecond would never end the list
    if (prefer)
        ui->latencyBox->addItem(kPrefer);

    QString minText;
    QString maxText;
    splitBounds(bounds, minText, maxText);
    const int minMs = minText.toInt() / 1000;
    const int maxMs = maxText.toInt() / 1000;
    const int32_t storedMs = static_cast<int32_t>(static_cast<uint64_t>(stored) / 1000);
    int match = 0;
    if (stepMs >= 1) {
        for (int64_t ms = minMs; ms <= maxMs; ms += stepMs) {
            ui->latencyBox->addItem(QString::number(ms));
            if (ms == storedMs)
                match = ui->latencyBox->count() - 1;
        }
    }
    ui->latencyBox->setCurrentIndex(match);
}

void Dialog::on_bsizeBox_currentIndexChanged(const QString &text)
{
    // Item 0 (the bounds joined by "-") and a cleared box store 0.
    const int size = text.toInt();
    settings.set(keys::kASIOBufferSize, size > 0 ? text.toStdString() : "0");
    showCycleInfo();
}

void Dialog::on_cycleBox_valueChanged(int value)
{
    if (!cycleGroupShown)
        return;
    // A negative value can only come from a malformed range; it is kept as
    // the signed number it is rather than wrapped into a huge one.
    if (value >= 0)
        settings.setInt(keys::kCycleTime, static_cast<uint64_t>(value));
    else
        settings.set(keys::kCycleTime, std::to_string(value));
    showCycleInfo();
}

void Dialog::on_latencyBox_currentIndexChanged(const QString &text)
{
    // "Prefer" and a cleared box store 0, the target's preferred latency.
    const int64_t micros = static_cast<int64_t>(text.toInt()) * 1000;
    settings.set(keys::kLatencyBuffer, micros > 0 ? std::to_string(micros) : "0");
    showCycleInfo();
}

void Dialog::showCycleInfo()
{
    const uint64_t limit = static_cast<uint64_t>(settings.getInt(keys::kTargetProfileLimitTime));
    const bool fixedCycle =
        limit == 0 && settings.get(keys::kFlexCycle) == values::kFixAsio;
    QString text = QStringLiteral("Cycle=");
    uint64_t period = 0;
    if (fixedCycle) {
        const uint64_t size = static_cast<uint64_t>(settings.getInt(keys::kASIOBufferSize));
        if (size == 0) {
            text += QStringLiteral("Player Buffer Setting");
        } else {
            const uint64_t rate48 = 48000 / size;
            if (rate48 == 0) {
                // More than 48000 samples per buffer: below one cycle a
                // second. The period is the buffer's real length.
                text += QStringLiteral("under 1");
                const uint64_t maxSize = UINT64_MAX / 1000000;
                period = size > maxSize ? UINT64_MAX : size * 1000000 / 48000;
            } else {
                text += QString::number(44100 / size) + QLatin1Char('/') + QString::number(rate48);
                period = 1000000 / rate48;
            }
            text += settings.get(keys::kASIOBufferMulti) == values::kEnable
                        ? QStringLiteral("Hz\nFollow Target")
                        : QStringLiteral("Hz(or high for play format)\nFollow Target");
        }
    } else {
        const uint64_t cycle = static_cast<uint64_t>(settings.getInt(keys::kCycleTime));
        if (cycle == 0) {
            ui->infoLable->setText(QStringLiteral("Err CycleTime"));
            return;
        }
        if (limit != 0) {
            text += QString::number(1000000 / limit) + QLatin1Char('-');
            period = limit;
        } else {
            period = cycle;
        }
        text += QString::number(1000000 / cycle) + QStringLiteral("Hz ") + QLatin1Char('\n');
        text += settings.get(keys::kFlexCycle) == values::kEnable ? QStringLiteral("Follow Target")
                                                                                  : QStringLiteral("Fix Host");
    }
    uint64_t latency = static_cast<uint64_t>(settings.getInt(keys::kLatencyBuffer));
    if (latency == 0)
        latency = 1000000;
    if (period != 0 && latency / period < 10)
        text += QStringLiteral("\nWarning: Latency/CycleTime < 10");
    ui->infoLable->setText(text);
}

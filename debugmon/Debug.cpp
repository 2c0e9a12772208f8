#include "debugmon/Debug.h"

#include "ui_Debug.h"

#include <QByteArray>
#include <QDateTime>
#include <QDebug>
#include <QHostAddress>
#include <QStringList>
#include <QUdpSocket>

#include <cmath>
#include <limits>

namespace {

// The driver starts every datagram with a header of this many characters
// that the monitor does not use.
constexpr int kHeaderLength = 31;

const QString kConfigTransfer = QStringLiteral("configTransfer ");
const QString kStartCycle = QStringLiteral("start cycle=");
const QString kStartSpeed = QStringLiteral("start SPEED=");
const QString kInfoRcv = QStringLiteral("info rcv ");
const QString kTargetMark = QStringLiteral("Target: ");
const QString kHostMark = QStringLiteral("Host  : ");

// The largest UDP payload; a datagram is read whole in one call.
constexpr int kMaxDatagramSize = 65536;

// Reading stops after this many datagrams so that a flood cannot keep the
// window from repainting; the socket notifies again for the rest at once.
constexpr int kMaxDatagramsPerNotification = 1024;

// The driver's own request; the system may grant less. Bursts of debug
// lines must not overflow the kernel's queue while the window repaints.
constexpr int kReceiveBufferSize = 4 * 1024 * 1024;

// Removes the first n characters (code points, so a header never leaves
// half a character behind).
QString dropCharacters(const QString &text, int n)
{
    int i = 0;
    for (; n > 0 && i < text.size(); --n)
        i += (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) ? 2 : 1;
    return text.mid(i);
}

// The local time "hh:mm:ss.zzz " of each line. Asking the C library for the
// local time costs a look at the time zone file each time; at thousands of
// lines a second that alone slows the window down, so the offset from UTC
// is taken once per notification.
class TimeStamper {
public:
    TimeStamper() : offsetMs(qint64(QDateTime::currentDateTime().offsetFromUtc()) * 1000) {}
    QString now() const
    {
        constexpr qint64 kDayMs = 24 * 3600 * 1000;
        const qint64 local = QDateTime::currentMSecsSinceEpoch() + offsetMs;
        const int ms = int(((local % kDayMs) + kDayMs) % kDayMs);
        const int digits[] = {ms / 3600000, ms / 60000 % 60, ms / 1000 % 60};
        const char separators[] = {':', ':', '.'};
        char text[13];
        int i = 0;
        for (int f = 0; f < 3; ++f) {
            text[i] = char('0' + digits[f] / 10);
            text[i + 1] = char('0' + digits[f] % 10);
            text[i + 2] = separators[f];
            i += 3;
        }
        text[9] = char('0' + ms % 1000 / 100);
        text[10] = char('0' + ms % 100 / 10);
        text[11] = char('0' + ms % 10);
        text[12] = ' ';
        return QString::fromLatin1(text, 13);
    }

private:
    qint64 offsetMs;
};

QStringList tokens(const QString &line, int from)
{
    return line.mid(from).split(QLatin1Char(' '), Qt::KeepEmptyParts);
}

} // namespace

Debug::Debug(QWidget *parent) : Debug(kPort, parent) {}

Debug::Debug(quint16 port, QWidget *parent)
    : QDialog(parent), ui(new Ui::Debug), socket(new QUdpSocket(this)), datagram(kMaxDatagramSize, '\0')
{
    ui->setupUi(this);
    connect(socket, &QUdpSocket::readyRead, this, &Debug::UdpRecive);
    if (!socket->bind(QHostAddress(QString::fromLatin1(kAddress)), port)) {
        qDebug() << "Socket Error";
        // Without this line the user would only see an empty pane and not know
        // why the driver's output never arrives.
        ui->debugText->appendAtEnd(
            TimeStamper().now() +
            tr("Socket Error: cannot receive the driver's debug output on %1 port %2 (%3). "
               "Close the program that holds this port (for example another debug window) "
               "and open this window again.\n")
                .arg(QString::fromLatin1(kAddress))
                .arg(port)
                .arg(socket->errorString()));
        return;
    }
    socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kReceiveBufferSize);
}

Debug::~Debug()
{
    delete ui;
}

void Debug::UdpRecive()
{
    // All lines of one notification go into the pane as one edit: the
    // driver sends thousands of lines a second.
    QString batch;
    const TimeStamper stamp;
    for (int n = 0; n < kMaxDatagramsPerNotification && socket->hasPendingDatagrams(); ++n) {
        const qint64 size = socket->readDatagram(datagram.data(), datagram.size());
        if (size < 0)
            break;
        batch += stamp.now();
        batch +=
            handleLine(dropCharacters(QString::fromUtf8(datagram.constData(), int(size)), kHeaderLength));
    }
    ui->debugText->appendAtEnd(batch);
}

QString Debug::handleLine(const QString &line)
{
    if (line.startsWith(kConfigTransfer)) {
        ui->modeEdit->setText(tokens(line, kConfigTransfer.size()).first());
    } else if (line.startsWith(kStartCycle)) {
        const QStringList parts = tokens(line, kStartCycle.size());
        // A line without a second token leaves the field as it was.
        if (parts.size() >= 2)
            ui->cycleEdit->setText(parts.at(1));
    } else if (line.startsWith(kStartSpeed)) {
        bool ok = false;
        const uint value = line.mid(kStartSpeed.size()).toUInt(&ok, 10);
        if (ok && value != 0)
            speed = value;
    } else if (line.startsWith(kInfoRcv)) {
        showInfo(tokens(line, kInfoRcv.size()).last());
    }

    QString entry;
    entry.reserve(kHostMark.size() + line.size() + 1);
    if (!line.startsWith(kTargetMark))
        entry += kHostMark;
    entry += line;
    entry += QLatin1Char('\n');
    return entry;
}

// Shows the value of the last token of an "info rcv " line: "fs=" a frame
// count, shown as the time it takes at the known speed; "cy=" a cycle time
// count, shown as its frequency.
void Debug::showInfo(const QString &lastToken)
{
    const QStringList nameValue = lastToken.split(QLatin1Char('='), Qt::KeepEmptyParts);
    QString shown;
    if (nameValue.size() == 2) {
        const QString &name = nameValue.at(0);
        const QString &value = nameValue.at(1);
        if (name == QLatin1String("fs")) {
            bool ok = false;
            const float frames = value.toFloat(&ok);
            if (ok && frames != 0 && speed != 0) {
                const float usec = float(1000000u / speed) * frames;
                // Values beyond what the field can show (or not numbers at all)
                // show nothing rather than garbage. The lowest 32-bit value
                // is exact in a float and is in range; the highest is not
                // (it rounds up to 2^31), hence the two different bounds.
                if (std::isfinite(usec) && usec >= float(std::numeric_limits<qint32>::min()) &&
                    usec < float(std::numeric_limits<qint32>::max()))
                    shown = QString::number(qint32(usec)) + QStringLiteral(" usec");
            }
        } else if (name == QLatin1String("cy")) {
            bool ok = false;
            const uint count = value.toUInt(&ok, 10);
            if (ok && count != 0) {
                const uint r = 100000000u / count;
                shown = QString::number(r / 100) + QLatin1Char('.') +
                        QStringLiteral("%1").arg(r % 100, 2, 10, QLatin1Char('0')) + QStringLiteral(" Hz");
            }
        }
    }
    ui->infoEdit->setText(shown);
}

void Debug::on_saveButton_clicked()
{
    ui->debugText->saveWithDialog();
}

void Debug::on_closeButton_clicked()
{
    close();
}

void Debug::on_clearButton_clicked()
{
    // Only the log goes: the fields and the known speed stay.
    ui->debugText->clear();
}

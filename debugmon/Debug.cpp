#include "debugmon/Debug.h"

#include "ui_Debug.h"

#include "debugmon/text/DebugLine.h"

#include <QByteArray>
#include <QDateTime>
#include <QDebug>
#include <QHostAddress>
#include <QUdpSocket>

namespace {

// The largest UDP payload; a datagram is read whole in one call.
constexpr int kMaxDatagramSize = 65536;

// Reading stops after this many datagrams so that a flood cannot keep the
// window from repainting; the socket notifies again for the rest at once.
constexpr int kMaxDatagramsPerNotification = 1024;

// The driver's own request; the system may grant less. Bursts of debug
// lines must not overflow the kernel's queue while the window repaints.
constexpr int kReceiveBufferSize = 4 * 1024 * 1024;

// The local time stamp of each line. Asking the C library for the local
// time costs a look at the time zone file each time; at thousands of lines
// a second that alone slows the window down, so the offset from UTC is
// taken once per notification.
class TimeStamper {
public:
    TimeStamper() : offsetMs(qint64(QDateTime::currentDateTime().offsetFromUtc()) * 1000) {}
    QString now() const
    {
        return QString::fromLatin1(
            debugtext::timeStamp(QDateTime::currentMSecsSinceEpoch() + offsetMs).c_str());
    }

private:
    qint64 offsetMs;
};

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
        batch += handleLine(debugtext::lineOfDatagram(datagram.constData(), size_t(size)));
    }
    ui->debugText->appendAtEnd(batch);
}

QString Debug::handleLine(const std::string &line)
{
    const debugtext::LineEffect effect = debugtext::applyLine(line, speed);
    if (effect.mode)
        ui->modeEdit->setText(QString::fromStdString(*effect.mode));
    if (effect.cycle)
        ui->cycleEdit->setText(QString::fromStdString(*effect.cycle));
    if (effect.info)
        ui->infoEdit->setText(QString::fromStdString(*effect.info));
    return QString::fromStdString(debugtext::markedLine(line)) + QLatin1Char('\n');
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

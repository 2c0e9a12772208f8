#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>
#include <QtGlobal>

#include <string>

class QUdpSocket;

namespace Ui {
class Debug;
}

// Shows the driver's debug output. While its debug switch file exists the
// driver sends one line per UDP datagram to ::1; the window logs every line
// with a time stamp and picks a few values out of known lines into three
// read-only fields.
class Debug : public QDialog {
    Q_OBJECT

public:
    // Where the driver sends its debug datagrams.
    static constexpr const char *kAddress = "::1";
    static constexpr quint16 kPort = 19641;

    explicit Debug(QWidget *parent = nullptr);
    // Listens on another port of ::1 (0: any free one), so that tests and
    // benchmarks do not compete with a running monitor for the driver's port.
    Debug(quint16 port, QWidget *parent);
    ~Debug() override;

private slots:
    void UdpRecive();
    void on_saveButton_clicked();
    void on_closeButton_clicked();
    void on_clearButton_clicked();

private:
    // Applies a received line (debugmon/text) to the fields and returns it
    // as logged (without the time stamp).
    QString handleLine(const std::string &line);

    Ui::Debug *ui;
    QUdpSocket *socket;
    QByteArray datagram; // receive buffer
    // The last valid non-zero "start SPEED=" value; 0 until one arrives.
    quint32 speed = 0;
};

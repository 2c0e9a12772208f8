#pragma once

#include "debugmon/text/Utf8Stream.h"

#include <QDialog>
#include <QHostAddress>
#include <QtGlobal>

class QTcpSocket;

namespace Ui {
class Dmesg;
}

// Shows the log text a target streams on its TCP port 23. The window sends
// nothing to the target: its reboot button only records the wish and
// closes, and whoever opened the window reboots the target afterwards.
class Dmesg : public QDialog {
    Q_OBJECT

public:
    // The target's log stream.
    static constexpr quint16 kLogPort = 23;

    explicit Dmesg(QHostAddress address, QWidget *parent = nullptr);
    // Connects to another port; for tests against a local server.
    Dmesg(QHostAddress address, quint16 port, QWidget *parent);
    ~Dmesg() override;

    // Whether the window was closed with its reboot button.
    bool rebootRequested() const { return rebootRequest; }

private slots:
    // Reads the TCP stream.
    void UdpRecive();
    void TcpRecive();
    void on_saveButton_clicked();
    void on_closeButton_clicked();
    void on_clearButton_clicked();
    void on_pushReboot_clicked();

private:
    Ui::Dmesg *ui;
    QTcpSocket *socket;
    // UTF-8 with its state kept from one chunk to the next: the stream is cut
    // into chunks anywhere, also inside a character.
    debugtext::Utf8StreamDecoder decoder;
    bool rebootRequest = false;
};

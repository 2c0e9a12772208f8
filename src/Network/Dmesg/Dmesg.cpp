#include "src/Network/Dmesg/Dmesg.h"

#include "ui_Dmesg.h"

#include <QByteArray>
#include <QTcpSocket>

#include <string>

Dmesg::Dmesg(QHostAddress address, QWidget *parent) : Dmesg(std::move(address), kLogPort, parent) {}

Dmesg::Dmesg(QHostAddress address, quint16 port, QWidget *parent)
    : QDialog(parent), ui(new Ui::Dmesg), socket(new QTcpSocket(this))
{
    ui->setupUi(this);
    connect(socket, &QTcpSocket::readyRead, this, &Dmesg::UdpRecive);
    // A stream that ends inside a character still shows that something came.
    connect(socket, &QTcpSocket::disconnected, this, [this] {
        UdpRecive();
        std::string rest;
        decoder.finish(rest);
        if (!rest.empty())
            ui->dmesgText->appendAtEnd(QString::fromStdString(rest));
    });
    // A refused or broken connection only means that no more text comes.
    socket->connectToHost(address, port, QIODevice::ReadWrite);
}

Dmesg::~Dmesg()
{
    // The socket closes with the window's children, after the form is gone:
    // its last signals must not reach this window any more.
    socket->disconnect(this);
    delete ui;
}

void Dmesg::UdpRecive()
{
    std::string text;
    while (socket->bytesAvailable() > 0) {
        const QByteArray chunk = socket->read(socket->bytesAvailable());
        if (chunk.isEmpty())
            break;
        decoder.decode(chunk.constData(), size_t(chunk.size()), text);
    }
    ui->dmesgText->appendAtEnd(QString::fromStdString(text));
}

void Dmesg::TcpRecive()
{
    // Nothing to do: the stream is read in UdpRecive. Kept so the window's
    // slots stay what the update dialog's code was written against.
}

void Dmesg::on_saveButton_clicked()
{
    ui->dmesgText->saveWithDialog();
}

void Dmesg::on_closeButton_clicked()
{
    close();
}

void Dmesg::on_clearButton_clicked()
{
    // The connection stays; new text starts the empty pane.
    ui->dmesgText->clear();
}

void Dmesg::on_pushReboot_clicked()
{
    rebootRequest = true;
    close();
}

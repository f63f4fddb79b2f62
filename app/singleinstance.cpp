#include "app/singleinstance.h"

#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>

namespace pictolio {

namespace {

// A start's message: this line, then one path a line, then an empty line. The window answers
// with this line once it has the files.
const QByteArray hello = "pictolio-open 1\n";
const QByteArray taken = "taken\n";

}  // namespace

QString SingleInstance::defaultName() {
    QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (display.isEmpty()) display = qEnvironmentVariable("DISPLAY");
    display.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_.-]")), QStringLiteral("_"));
    return QStringLiteral("pictolio-%1-%2").arg(::getuid()).arg(display);
}

SingleInstance::SingleInstance(QString name, QObject* parent) : QObject(parent), m_name(std::move(name)) {}

bool SingleInstance::handOver(const QStringList& paths, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(timeoutMs)) return false;
    QByteArray message = hello;
    for (const QString& path : paths) message += path.toUtf8() + '\n';
    message += '\n';
    socket.write(message);
    if (!socket.waitForBytesWritten(timeoutMs)) return false;
    while (!socket.canReadLine())
        if (!socket.waitForReadyRead(timeoutMs)) return false;
    return socket.readLine() == taken;
}

bool SingleInstance::listen() {
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_name)) {
        // A socket left by a window that ended without closing it: nobody answers there.
        QLocalServer::removeServer(m_name);
        if (!m_server->listen(m_name)) return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
                QByteArray data = socket->property("received").toByteArray() + socket->readAll();
                socket->setProperty("received", data);
                if (!data.startsWith(hello) || !data.endsWith("\n\n")) {
                    if (data.size() > (1 << 24) || (data.size() >= hello.size() && !data.startsWith(hello)))
                        socket->abort();  // not one of ours
                    return;
                }
                QStringList paths;
                for (const QByteArray& line : data.mid(hello.size()).split('\n'))
                    if (!line.isEmpty()) paths << QString::fromUtf8(line);
                socket->write(taken);
                socket->flush();
                emit filesArrived(paths);
            });
        }
    });
    return true;
}

}  // namespace pictolio

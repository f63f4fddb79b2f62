// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/singleinstance.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>

namespace pictolio {

namespace {

// A start's message: this line, then one path a line, then an empty line. The window answers
// with this line once it has the files.
const QByteArray hello = "pictolio-open 1\n";
const QByteArray taken = "taken\n";

// Nobody but the user can make, replace or reach anything in the folder: a real folder (not a
// link to one), the user's own, with no permissions for anyone else.
bool isPrivate(const QString& folder) {
    struct stat st {};
    return !folder.isEmpty() && ::lstat(QFile::encodeName(folder).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

// Whether the process at the other end of a connected local socket runs as the user, as the
// kernel tells it (for a server, as it was when it began listening).
bool peerIs(qintptr socket, uid_t user) {
    struct ucred peer {};
    socklen_t size = sizeof peer;
    return ::getsockopt(int(socket), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && size == sizeof peer &&
           peer.uid == user;
}

}  // namespace

QString SingleInstance::privateFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime) && isPrivate(runtime)) return runtime;
    // Made if missing; one that someone else made first, or that is open to others, is refused.
    const QString own = QDir::tempPath() + QStringLiteral("/pictolio-%1").arg(::getuid());
    ::mkdir(QFile::encodeName(own).constData(), 0700);
    return isPrivate(own) ? own : QString();
}

QString SingleInstance::defaultName() {
    const QString folder = privateFolder();
    if (folder.isEmpty()) return {};
    QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (display.isEmpty()) display = qEnvironmentVariable("DISPLAY");
    display.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_.-]")), QStringLiteral("_"));
    return QStringLiteral("%1/pictolio-%2").arg(folder, display);
}

SingleInstance::SingleInstance(QString name, uid_t trusted, QObject* parent)
    : QObject(parent), m_name(std::move(name)), m_trusted(trusted) {}

bool SingleInstance::handOver(const QStringList& paths, int timeoutMs) {
    if (m_name.isEmpty()) return false;
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(timeoutMs)) return false;
    // Another user's server never learns the paths; this start then opens its own window.
    if (!peerIs(socket.socketDescriptor(), m_trusted)) return false;
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
    if (m_name.isEmpty()) {
        m_error = QStringLiteral("no folder of this user's alone for the socket");
        return false;
    }
    // A window of the user's that answers keeps its socket: it takes later starts' files. (The
    // server would otherwise put its own socket in that one's place.)
    QLocalSocket probe;
    probe.connectToServer(m_name);
    if (probe.waitForConnected(1000) && peerIs(probe.socketDescriptor(), m_trusted)) {
        m_otherListens = true;
        m_error = QStringLiteral("another window takes later starts' files");
        return false;
    }
    probe.abort();
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_name)) {
        // A socket left by a window that ended without closing it, or anything else in the way:
        // the folder is the user's alone, so whatever is there is the user's to replace.
        QLocalServer::removeServer(m_name);
        if (!m_server->listen(m_name)) {
            m_error = m_server->errorString();
            return false;
        }
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            if (!peerIs(socket->socketDescriptor(), m_trusted)) {
                socket->abort();  // another user's start adds nothing
                socket->deleteLater();
                continue;
            }
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

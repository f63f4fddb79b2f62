// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <QObject>
#include <QStringList>

class QLocalServer;

namespace pictolio {

// One Pictolio window per user and display: a second start hands its files to the window that
// runs, over a local socket, and ends. The socket lies in a folder only the user can reach, and
// each end checks that the other is the same user: files go to nobody else's window, and no
// one else's start adds rows.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // The user's own folder for the socket: $XDG_RUNTIME_DIR, or "pictolio-UID" in the temporary
    // folder, made when missing. Each must be a real folder of the user's, closed to everyone
    // else; empty when neither is.
    static QString privateFolder();
    // The socket's path for this user and display; empty when there is no private folder.
    static QString defaultName();

    // trusted: the user whose windows and starts this one exchanges files with.
    explicit SingleInstance(QString name = defaultName(), uid_t trusted = ::getuid(), QObject* parent = nullptr);

    // Gives the paths to the window already running; true only when a window of the trusted
    // user took them.
    bool handOver(const QStringList& paths, int timeoutMs = 3000);
    // Takes the files of later starts of the trusted user from now on (filesArrived); false when
    // it cannot, with the reason in errorString().
    bool listen();
    QString errorString() const { return m_error; }
    // Whether listen() left the socket to a window of the user's that already takes the files.
    bool anotherWindowListens() const { return m_otherListens; }

signals:
    // A later start's files; the window is to come to the front.
    void filesArrived(const QStringList& paths);

private:
    QString m_name;
    uid_t m_trusted;
    QString m_error;
    bool m_otherListens = false;
    QLocalServer* m_server = nullptr;
};

}  // namespace pictolio

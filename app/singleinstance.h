#pragma once

#include <QObject>
#include <QStringList>

class QLocalServer;

namespace pictolio {

// One Pictolio window per user and display: a second start hands its files to the window that
// runs, over a local socket, and ends.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // The socket's name for this user and display.
    static QString defaultName();

    explicit SingleInstance(QString name = defaultName(), QObject* parent = nullptr);

    // Gives the paths to the window already running; true when it took them.
    bool handOver(const QStringList& paths, int timeoutMs = 3000);
    // Takes the files of later starts from now on (filesArrived); false when it cannot.
    bool listen();

signals:
    // A later start's files; the window is to come to the front.
    void filesArrived(const QStringList& paths);

private:
    QString m_name;
    QLocalServer* m_server = nullptr;
};

}  // namespace pictolio

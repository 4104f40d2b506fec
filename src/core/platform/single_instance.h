#pragma once
// One running viewer per user session. The first instance listens on a local
// socket named after the window title, in a folder that only its user can
// enter; a later start of the same user connects, asks the first to come to
// the front and ends. Other users' viewers and files never get in the way:
// each user has a folder of their own, and nothing in another user's name is
// ever removed.
//
// Two starts that race are ordered by a lock file beside the socket (flock):
// whoever holds it is, or is about to become, the listening instance, and
// keeps it until it ends; the system drops it when the process dies, so a
// socket file found while holding the lock is always a crashed viewer's.
//
// UI thread only (the server's signals arrive on the thread that made it).

#include <QLocalServer>
#include <QObject>
#include <QString>

namespace korvante {

class SingleInstance final : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QString name, QObject *parent = nullptr);
    ~SingleInstance() override;

    enum class Result {
        Primary,     // this process is the one instance; it now listens
        HandedOver,  // another instance runs and was asked to come forward
        Failed,      // neither listening nor reaching the other worked
    };
    Result start();

    // The user's private folder for the socket, without a trailing "/":
    // $XDG_RUNTIME_DIR when it is a folder of this user's that nobody else may
    // enter; else "korvante-<uid>" in the temporary folder, made with mode 0700
    // (a folder of that name that belongs to someone else is passed over);
    // else ".cache/korvante-run" in the home folder. Empty, with *error set,
    // when none can be had.
    static QString sessionFolder(QString *error = nullptr);

    // The socket's full path once start() has chosen it.
    QString socketPath() const { return m_socketPath; }

    // A file or folder this start was given: when it hands over, the running
    // instance is asked to open it too (openRequested). Set before start().
    void setHandOverPath(const QString &path) { m_handOverPath = path; }

signals:
    // Another start asked this instance to come to the front.
    void activationRequested();
    // Another start asked this instance to open a file or folder.
    void openRequested(const QString &path);

private:
    void onNewConnection();
    bool handOver();

    QString m_name;
    QString m_socketPath;
    QString m_handOverPath;
    QLocalServer m_server;
    int m_lockFd = -1; // held from start() until destruction while Primary
};

} // namespace korvante

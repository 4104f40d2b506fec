#include "single_instance.h"

#include "log.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvante {

namespace {

constexpr int kConnectTimeoutMs = 1000;
// How long a start waits for the lock holder to answer: it may be between
// taking the lock and listening, or busy with its own start-up.
constexpr int kHandOverWaitMs = 10000;
constexpr int kRetryPauseMs = 100;
const char kActivate[] = "activate\n";
constexpr qsizetype kMaxRequestBytes = 64 * 1024;

std::string errnoText()
{
    return std::strerror(errno);
}

// True when `path` is a real folder (not a link to one) of this user's that
// no other user may enter or change.
bool isPrivateFolder(const QByteArray &path, bool followLinks)
{
    struct stat st {};
    const int rc = followLinks ? ::stat(path.constData(), &st) : ::lstat(path.constData(), &st);
    return rc == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

// Makes `path` (its parent must exist) as a private folder, or takes the one
// already there when it is this user's, narrowing its mode to 0700.
bool claimPrivateFolder(const QByteArray &path)
{
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    if ((st.st_mode & 077) != 0 && ::chmod(path.constData(), 0700) != 0)
        return false;
    return isPrivateFolder(path, false);
}

} // namespace

SingleInstance::SingleInstance(QString name, QObject *parent)
    : QObject(parent), m_name(std::move(name))
{
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
}

SingleInstance::~SingleInstance()
{
    m_server.close();
    if (m_lockFd >= 0)
        ::close(m_lockFd); // releases the lock
}

QString SingleInstance::sessionFolder(QString *error)
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime)
        && isPrivateFolder(QFile::encodeName(runtime), true))
        return QDir::cleanPath(runtime);

    const QString own = QStringLiteral("korvante-") + QString::number(::geteuid());
    const QString inTemp = QDir::cleanPath(QDir::tempPath()) + QLatin1Char('/') + own;
    if (claimPrivateFolder(QFile::encodeName(inTemp)))
        return inTemp;

    const QString home = QDir::homePath();
    const QString cache = home + QStringLiteral("/.cache");
    ::mkdir(QFile::encodeName(cache).constData(), 0700);
    const QString inHome = cache + QStringLiteral("/korvante-run");
    if (QDir::isAbsolutePath(home) && home != QStringLiteral("/") && claimPrivateFolder(QFile::encodeName(inHome)))
        return inHome;

    if (error)
        *error = QStringLiteral("no private folder for the viewer's socket: neither $XDG_RUNTIME_DIR, ")
                 + inTemp + QStringLiteral(" nor ") + inHome + QStringLiteral(" can be used");
    return {};
}

SingleInstance::Result SingleInstance::start()
{
    QString error;
    const QString folder = sessionFolder(&error);
    if (folder.isEmpty()) {
        logError("single instance: " + error.toStdString());
        return Result::Failed;
    }
    m_socketPath = folder + QLatin1Char('/') + m_name;
    const QByteArray lockPath = QFile::encodeName(m_socketPath + QStringLiteral(".lock"));
    const int lockFd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockFd < 0) {
        logError("single instance: cannot open the lock " + lockPath.toStdString() + ": " + errnoText());
        return Result::Failed;
    }

    QElapsedTimer waited;
    waited.start();
    while (::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            logError("single instance: cannot lock " + lockPath.toStdString() + ": " + errnoText());
            ::close(lockFd);
            return Result::Failed;
        }
        // Another viewer of this user holds the lock: it runs, or is starting.
        if (handOver()) {
            ::close(lockFd);
            return Result::HandedOver;
        }
        if (waited.elapsed() > kHandOverWaitMs) {
            logError("single instance: another viewer holds " + lockPath.toStdString()
                     + " but does not answer on its socket");
            ::close(lockFd);
            return Result::Failed;
        }
        QThread::msleep(kRetryPauseMs);
    }
    m_lockFd = lockFd;

    // With the lock held no viewer of this user listens: a socket file left
    // here is a crashed one's. Only a file of this user's is cleared.
    const QByteArray socketFile = QFile::encodeName(m_socketPath);
    struct stat st {};
    if (::lstat(socketFile.constData(), &st) == 0) {
        if (st.st_uid != ::geteuid() || S_ISDIR(st.st_mode)) {
            logError("single instance: " + socketFile.toStdString()
                     + " is in the way and is not this user's socket; it is left alone");
            return Result::Failed;
        }
        QLocalServer::removeServer(m_socketPath);
    }
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server.listen(m_socketPath)) {
        logError("single instance: cannot listen on \"" + m_socketPath.toStdString() + "\": " +
                 m_server.errorString().toStdString());
        return Result::Failed;
    }
    logDebug("single instance: listening on " + m_socketPath.toStdString());
    return Result::Primary;
}

bool SingleInstance::handOver()
{
    QLocalSocket probe;
    probe.connectToServer(m_socketPath);
    if (!probe.waitForConnected(kConnectTimeoutMs))
        return false;
    // One request per line: "open PATH" (a path with a line break cannot be
    // passed on), then "activate".
    QByteArray request;
    if (!m_handOverPath.isEmpty() && !m_handOverPath.contains(QLatin1Char('\n')))
        request = "open " + m_handOverPath.toUtf8() + '\n';
    probe.write(request + kActivate);
    probe.waitForBytesWritten(kConnectTimeoutMs);
    probe.disconnectFromServer();
    return true;
}

void SingleInstance::onNewConnection()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
        // The other start may have written and gone before we look: read what
        // is buffered now, then whatever arrives later; act on each whole line
        // (activation once). Only this user can reach the socket; a sender
        // that writes without end is cut off all the same.
        auto activated = std::make_shared<bool>(false);
        auto pending = std::make_shared<QByteArray>();
        auto check = [this, socket, activated, pending] {
            *pending += socket->readAll();
            for (qsizetype end = pending->indexOf('\n'); end >= 0; end = pending->indexOf('\n')) {
                const QByteArray line = pending->left(end);
                pending->remove(0, end + 1);
                if (line == "activate" && !*activated) {
                    *activated = true;
                    emit activationRequested();
                } else if (line.startsWith("open ")) {
                    emit openRequested(QString::fromUtf8(line.mid(5)));
                }
            }
            if (pending->size() > kMaxRequestBytes) {
                pending->clear();
                socket->abort();
            }
        };
        connect(socket, &QLocalSocket::readyRead, this, check);
        connect(socket, &QLocalSocket::disconnected, this, [socket, check] {
            check();
            socket->deleteLater();
        });
        check();
    }
}

} // namespace korvante

#pragma once
// One running viewer per user session. The first instance listens on a local
// socket named after the window title; a later start connects, asks the first
// to come to the front and ends.
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

signals:
    // Another start asked this instance to come to the front.
    void activationRequested();

private:
    void onNewConnection();

    QString m_name;
    QLocalServer m_server;
};

} // namespace korvante

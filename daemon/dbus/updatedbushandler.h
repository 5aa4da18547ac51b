#pragma once

#include <QDBusContext>
#include <QObject>
#include <QString>

class Daemon;
class UpdateDBusAdaptor;

// Receives the calls of the daemon's bus object and forwards them to the
// daemon. The adaptor is what the bus sees, but the call context lands
// here, so an operation that throws is answered with an error reply
// instead of taking the daemon down.
class UpdateDBusHandler : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "os.kirtalinux.zun.kirtaupdateservice")

public:
    // `daemon` is not owned and must outlive the handler.
    UpdateDBusHandler(Daemon *daemon, QObject *parent = nullptr);

public Q_SLOTS:
    QString getUpdateDateAsString();
    QString getCurrentStateAsString();
    int getCurrentStateAsInt();
    int getCurrentErrorAsInt();
    int enableUpgradeOnReboot();
    int disableUpgradeOnReboot();
    int setStateFromOutside(int stateAsInt);
    bool isUpgradeOnRebootEnabled();
    int removeUpgradeResultStamp(int type);
    QString getMinorUpdateVersion();
    int enableAndStartActivatingService();

private:
    UpdateDBusAdaptor *m_adaptor = nullptr;
    Daemon *m_daemon = nullptr;
};

#pragma once

#include <QDBusAbstractAdaptor>
#include <QString>

class UpdateDBusHandler;

// The interface as the bus sees it. Its slots are the exported methods, and
// the introspection data is generated from them, so they must stay in step
// with data/os.kirtalinux.zun.kirtaupdateservice.xml (a test compares the
// two).
class UpdateDBusAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "os.kirtalinux.zun.kirtaupdateservice")

public:
    explicit UpdateDBusAdaptor(UpdateDBusHandler *parent);

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
    UpdateDBusHandler *m_handler = nullptr;
};

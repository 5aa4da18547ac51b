// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "constants.h"
#include "updatestate.h"

#include <QtTest>

// A product build uses the system's paths exactly as written, whatever the
// environment says.
class TestProductConstants : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void paths_data()
    {
        QTest::addColumn<QString>("actual");
        QTest::addColumn<QString>("expected");
        QTest::newRow("settings") << SETTINGS_PATH
                                  << "/etc/kirta-update-service/kirta-update-daemon.conf";
        QTest::newRow("copy") << SETTINGS_COPY_PATH
                              << "/var/cache/kirta-update-service/kirta-update-daemon.conf";
        QTest::newRow("parking") << SETTINGS_TEMP_PATH << "/tmp/kirta-update-daemon.conf";
        QTest::newRow("log") << LOG_FILE_PATH << "/var/log/kirta-update-service/service.log";
        QTest::newRow("status") << STATUS_FILE_PATH << "/var/cache/kirta-update-service/status";
        QTest::newRow("report") << MAJOR_REPORT_PATH
                                << "/var/cache/kirta-upgrade/upgrade.report.yaml";
        QTest::newRow("link") << SYS_UPDATE_SYMLINK << "/system-update";
        QTest::newRow("archives") << APTCACHE_POINT << "/var/cache/apt/archives";
        QTest::newRow("stage program") << SERVICE_SCRIPT_PATH << "/usr/sbin/kirta-update-service";
        QTest::newRow("bus name") << DBUS_SERVICE_NAME << "os.kirtalinux.zun.kirtaupdateservice";
        QTest::newRow("object") << DBUS_OBJECT_PATH << "/os/kirtalinux/zun/kirtaupdateservice";
        QTest::newRow("status file shared with the update state")
                << KirtaUpdateState::UpdateState::MINOR_FILE << STATUS_FILE_PATH;
        QTest::newRow("report shared with the update state")
                << KirtaUpdateState::UpdateState::MAJOR_FILE << MAJOR_REPORT_PATH;
        QTest::newRow("date format") << DATE_TIME_FORMAT << "hh:mm dd.MM.yyyy";
    }

    void paths()
    {
        QFETCH(QString, actual);
        QFETCH(QString, expected);
        QCOMPARE(actual, expected);
    }
};

QTEST_GUILESS_MAIN(TestProductConstants)
#include "tst_productconstants.moc"

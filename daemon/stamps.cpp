#include "constants.h"
#include "daemon.h"

#include <QFile>

void Daemon::actualizeSnapshotStamp(bool state)
{
    const QString where = QStringLiteral("void Daemon::actualizeSnapshotStamp(bool)");
    m_logger.debug(where);
    QFile stampFile(SNAPSHOT_STAMP_PATH);
    if (stampFile.exists()) {
        m_logger.debug(where, QStringLiteral("stampFile.exists() = true"));
        if (!state) {
            m_logger.debug(where, QStringLiteral(" state == false"));
            stampFile.remove();
        }
        return;
    }
    m_logger.debug(where, QStringLiteral("stampFile.exists() = false"));
    if (state) {
        m_logger.debug(where, QStringLiteral("state = true"));
        if (stampFile.open(QIODevice::ReadWrite)) {
            m_logger.debug(where, QStringLiteral("stampFile.open(QIODevice::ReadWrite) return true"));
            stampFile.close();
        }
    }
}

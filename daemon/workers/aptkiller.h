#pragma once

#include <QObject>

class Logger;

// Frees the package archive lock: finds its holder with lsof and sends it
// SIGTERM. Made without a parent and used once.
class AptKiller : public QObject
{
    Q_OBJECT

public:
    static constexpr int DEFAULT_TIMEOUT_MS = 30000;

    // `logger` is not owned and may be null.
    explicit AptKiller(Logger *logger);

    // Emits cleanCache() when the holder has been sent SIGTERM; logs and
    // emits nothing otherwise. The holder is not waited for.
    void killApt();

    // The wait limit of lsof.
    void setTimeoutMs(int ms);
    int timeoutMs() const;

Q_SIGNALS:
    void cleanCache();

private:
    // The holder's process id, or -1.
    int m_getPid();

    Logger *m_logger;
    int m_timeoutMs = DEFAULT_TIMEOUT_MS;
};

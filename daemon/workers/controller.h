// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QObject>
#include <QStringList>

class ChildProcess;
class QThread;

// The upgrade imitation, run on a thread of its own.
//
// Made on the caller's thread without a parent, it moves itself to `thread`
// and runs doImitation() there when the thread starts. Each run ends the
// thread's event loop and emits processFinished() exactly once; receivers
// on another thread get it queued.
//
// Result codes (0 is a passed imitation, anything else a failure):
//   exit code      the program exited normally
//   RESULT_NOT_FINISHED (-1)
//                  the program could not be started, or did not finish
//                  within timeoutMs() and was ended with its process group
//   RESULT_CRASHED (-2)
//                  the program ended by a signal
//
// The worker deletes itself once its thread has finished; keep it in a
// QPointer when it is referred to after the start. The thread is not owned:
// connect its finished() to its deleteLater() to release it.
class Controller : public QObject
{
    Q_OBJECT

public:
    static constexpr int DEFAULT_TIMEOUT_MS = 120000;
    static constexpr int RESULT_NOT_FINISHED = -1;
    static constexpr int RESULT_CRASHED = -2;

    explicit Controller(QThread *thread);
    ~Controller() override;

    // Repository options; empty means "-T", "-r". Call before the start.
    void setArgs(const QStringList &args);
    // False adds "-S". Call before the start.
    void setDefaultMode(bool value);
    // The wait limit of a run. Call before the start.
    void setTimeoutMs(int ms);
    int timeoutMs() const;

    // The arguments a run passes to the imitation program.
    QStringList commandArguments() const;

Q_SIGNALS:
    void processFinished(int res);

public Q_SLOTS:
    void doImitation();

private:
    int m_run();

    QThread *m_thread;
    ChildProcess *m_process = nullptr;
    QStringList m_args;
    bool m_defaultMode = true;
    int m_timeoutMs = DEFAULT_TIMEOUT_MS;
};

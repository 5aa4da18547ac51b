#pragma once

#include <QCoreApplication>

#include <memory>

class SingleApplication;

// The application object of a program of which one instance runs per
// machine and binary. The guard is machine-wide: a second start by any user
// finds the first one. The second instance can hand the first a message.
class SingleCoreApplication
{
public:
    SingleCoreApplication(int &argc, char **argv);
    ~SingleCoreApplication();

    // True when another instance already runs.
    bool isRunning() const;
    // Sends `message` to the running instance; false when it was not
    // delivered within `timeout` ms.
    bool sendMessage(const QString &message, int timeout = 5000);

    QCoreApplication *application() const;
    int exec();

private:
    std::unique_ptr<SingleApplication> m_app;
};

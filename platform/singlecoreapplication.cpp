#include "singlecoreapplication.h"

#include <singleapplication/singleapplication.h>

SingleCoreApplication::SingleCoreApplication(int &argc, char **argv)
    // Secondaries are allowed so that a second start can ask isRunning()
    // and pass its message instead of being terminated by the guard.
    : m_app(std::make_unique<SingleApplication>(argc, argv, true, SingleApplication::Mode::System))
{ }

SingleCoreApplication::~SingleCoreApplication() = default;

bool SingleCoreApplication::isRunning() const
{
    return m_app->isSecondary();
}

bool SingleCoreApplication::sendMessage(const QString &message, int timeout)
{
    return m_app->sendMessage(message.toUtf8(), timeout);
}

QCoreApplication *SingleCoreApplication::application() const
{
    return m_app.get();
}

int SingleCoreApplication::exec()
{
    return QCoreApplication::exec();
}

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QObject>

class Logger;

namespace ZunAdmin {

// Asks the major-release upgrade tool over the system bus to arm (true) or
// withdraw (false) its prepared upgrade: one asynchronous call of
//   service   os.kirtalinux.zun.kirtaupgrade
//   object    /os/kirtalinux/zun/kirtaupgrade
//   interface os.kirtalinux.zun.kirtaupgrade
//   method    changeUpgradeState(b enabled)
// The caller does not wait. When an event loop runs, the reply is looked at
// later: an error is logged (to the logger, or qWarning without one) and
// replyReceived() tells either way. The tool reports the outcome through its
// report file, not through the reply.
class DbusService : public QObject
{
    Q_OBJECT
public:
    static const char *const SERVICE;
    static const char *const PATH;
    static const char *const INTERFACE;
    static const char *const METHOD;

    explicit DbusService(QObject *parent = nullptr);

    void setLogger(const Logger *logger);

    // True when the call was handed to the bus.
    bool changeUpgradeState(bool enabled);

Q_SIGNALS:
    void replyReceived(bool ok);

private:
    void warn(const QString &message) const;

    const Logger *m_logger = nullptr;
};

} // namespace ZunAdmin

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QDBusContext>
#include <QDBusError>
#include <QString>

#include <exception>
#include <utility>

// Runs `operation` for a call that reached `context`. When it throws a
// std::exception the caller gets org.freedesktop.DBus.Error.Failed with the
// exception's text, and `fallback` is returned: once an error reply has gone
// out the bus library drops the returned value, so the fallback only matters
// to callers that are not on the bus.
template<typename T, typename Operation>
T replyOrFail(const QDBusContext &context, T fallback, Operation &&operation)
{
    try {
        return std::forward<Operation>(operation)();
    } catch (const std::exception &e) {
        if (context.calledFromDBus())
            context.sendErrorReply(QDBusError::Failed, QString::fromUtf8(e.what()));
        return fallback;
    }
}

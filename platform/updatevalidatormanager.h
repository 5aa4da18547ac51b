// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class Logger;

// The pre-update validators: every executable regular file in
// /etc/kirta-update-service/validators.d, run one after the other in name
// order (hidden files, files without an execute bit, editor backups and
// package-manager leftovers such as *.dpkg-old are skipped; files not owned
// by root or writable by group or others are skipped with a warning), each
// with the apt repository options as its arguments and no input.
//
// A validator agrees by exiting with code 0. A validator that exits with any
// other code, crashes, cannot be started or runs longer than the time-out
// (it is killed) refuses the update; the refusal is logged with the
// validator's name and why, and no later validator runs. Without the
// directory there is nothing to ask and the update passes.
class UpdateValidatorManager
{
public:
    static constexpr int DEFAULT_TIMEOUT_MS = 30000;
    static const char *const VALIDATORS_DIR;

    UpdateValidatorManager(std::shared_ptr<Logger> logger, const QStringList &aptOptions);

    // Per validator.
    void setTimeout(int milliseconds);

    // True when every validator agrees.
    bool check() const;

private:
    // Empty when the validator agrees, else why not.
    QString runValidator(const QString &path) const;
    static bool isLeftover(const QString &name);
    void debug(const QString &message) const;
    void refuse(const QString &message) const;

    std::shared_ptr<Logger> m_logger;
    QStringList m_aptOptions;
    int m_timeoutMs = DEFAULT_TIMEOUT_MS;
};

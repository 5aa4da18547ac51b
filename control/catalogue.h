// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#pragma once

#include <QString>

class QCoreApplication;

// The translations of the command and the desktop notices, chosen by the
// user's locale (LANGUAGE, LC_ALL, LC_MESSAGES, LANG).
class Catalogue
{
public:
    // Installs the catalogue that fits the locale into `app`. Without one,
    // the English catalogue gives the plural forms of the English texts.
    // False when neither could be loaded: the texts then stay as written.
    static bool install(QCoreApplication &app);

    // Where the compiled catalogues are looked for.
    static QString directory();
};

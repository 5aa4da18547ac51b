// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "catalogue.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>

namespace {
const char *const NAME = "kirta-update";
} // namespace

QString Catalogue::directory()
{
    return QStringLiteral(KIRTA_TRANSLATIONS_DIR);
}

bool Catalogue::install(QCoreApplication &app)
{
    auto *translator = new QTranslator(&app);
    // The locale's own catalogue first, then English: the source texts of
    // counted things ("%n day(s)") need the English catalogue's plurals.
    if (translator->load(QLocale(), QLatin1String(NAME), QStringLiteral("_"), directory())
        || translator->load(QLatin1String(NAME) + QStringLiteral("_en"), directory())) {
        app.installTranslator(translator);
        return true;
    }
    delete translator;
    return false;
}

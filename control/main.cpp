// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright 2026 KirtaLinux update team. Licence: GPL version 2 or any later version.

#include "catalogue.h"
#include "updatectl.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Catalogue::install(app);
    QTextStream out(stdout);
    QTextStream err(stderr);
    UpdateCtl command(out, err);
    return command.run(app.arguments().mid(1));
}

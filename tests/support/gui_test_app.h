// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The one QApplication of a test or benchmark program that needs widgets:
// made on first use, on the platform that needs no display unless the
// environment names another, and kept for the whole run. Every caller in a
// program gets the same object, whichever asks first.
#include <QApplication>

#include <cstdlib>

inline QApplication& guiTestApp()
{
    static QApplication* instance = [] {
        if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance()))
            return existing;
        if (!std::getenv("QT_QPA_PLATFORM"))
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "quarnix-test";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return *instance;
}

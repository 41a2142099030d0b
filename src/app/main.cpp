// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/error_box.h"
#include "app/main_form.h"
#include "app/program_info.h"
#include "platform/environment.h"
#include "platform/handler_guard.h"

#include <QApplication>
#include <QIcon>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <string>
#include <vector>

#ifndef QX_VERSION
#define QX_VERSION "0"
#endif
#ifndef QX_APP_ID
#define QX_APP_ID "quarnix"
#endif

namespace {

std::vector<std::string> argumentsOf(int argc, char** argv)
{
    return std::vector<std::string>(argv + 1, argv + argc);
}

// Help, version and usage errors: printed without a window. Returns the exit
// code, or -1 when the program is to run.
int answerCommandLine(const AppCommandLine& line)
{
    switch (line.action) {
    case AppCommandLine::Action::Help:
        std::fputs(appHelpText().c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    case AppCommandLine::Action::Version:
        std::fputs(appVersionText(QX_VERSION).c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    case AppCommandLine::Action::UsageError:
        std::fprintf(stderr, "quarnix: %s\n%s", line.problem.c_str(), appHelpText().c_str());
        return 2;
    case AppCommandLine::Action::Run: break;
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv)
{
    // --help and --version need no display: answered before Qt connects to one.
    const AppCommandLine early = parseAppCommandLine(argumentsOf(argc, argv));
    if (early.action == AppCommandLine::Action::Help || early.action == AppCommandLine::Action::Version)
        return answerCommandLine(early);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
    QApplication::setApplicationVersion(QStringLiteral(QX_VERSION));
    // Ties the windows to the installed desktop entry (its name and icon).
    QGuiApplication::setDesktopFileName(QStringLiteral(QX_APP_ID));
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral(QX_APP_ID), QIcon(QStringLiteral(":/icons/" QX_APP_ID ".svg"))));

    // Qt has taken its own options out of argv; what is left is ours. The
    // file name is kept as the bytes it was given as, so any name the file
    // system holds opens.
    const AppCommandLine line = parseAppCommandLine(argumentsOf(argc, argv));
    if (const int code = answerCommandLine(line); code >= 0)
        return code;

    if (QScreen* screen = QGuiApplication::primaryScreen())
        setScreenDpi(qRound(screen->logicalDotsPerInchX()), qRound(screen->logicalDotsPerInchY()));

    // The busy cursor is one application-wide setting, not a stack.
    setBusyCursorHook([](bool busy) {
        if (busy) {
            if (!QApplication::overrideCursor())
                QApplication::setOverrideCursor(Qt::WaitCursor);
        } else {
            while (QApplication::overrideCursor())
                QApplication::restoreOverrideCursor();
        }
    });

    TForm1 form;
    // Controls without a guard of their own (the preview dialog's view, ...)
    // report their errors in the main window's error box too.
    setApplicationGuard([&form](const std::function<void()>& work) { form.guard(work); });
    form.show();
    // A file named on the command line (an archive directory or a dictionary,
    // as a file manager passes it) is opened as Open would, once the window
    // is up; its errors show in the error box.
    if (!line.file.empty())
        QTimer::singleShot(0, &form, [&form, path = line.file] { form.guard([&] { form.OpenArchive(path); }); });
    const int code = app.exec();
    setApplicationGuard(nullptr);
    return code;
}

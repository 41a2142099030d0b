#pragma once
// The one QApplication of the search dialogs' tests (offscreen unless the
// environment asks for another platform).
#include <QApplication>

#include <cstdlib>

namespace searchtest {

inline QApplication& app()
{
    static QApplication* instance = [] {
        if (!std::getenv("QT_QPA_PLATFORM"))
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "test_search";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return *instance;
}

} // namespace searchtest

#include "app/error_box.h"
#include "app/main_form.h"
#include "platform/environment.h"

#include <QApplication>
#include <QScreen>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));

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
    form.show();
    return app.exec();
}

#include "app/error_box.h"
#include "app/main_form.h"
#include "platform/environment.h"

#include <QApplication>
#include <QScreen>
#include <QTimer>

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
    // A file named on the command line (an archive directory or a dictionary,
    // as a file manager passes it) is opened as Open would, once the window
    // is up; its errors show in the error box.
    const QStringList args = QApplication::arguments();
    if (args.size() > 1) {
        const std::string path = args.at(1).toStdString();
        QTimer::singleShot(0, &form, [&form, path] { form.guard([&] { form.OpenArchive(path); }); });
    }
    return app.exec();
}

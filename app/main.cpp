#include "designfont.h"
#include "highdpi.h"
#include "kcwindowrecord.h"
#include "mainwindow.h"
#include "translationloader.h"

#include <QApplication>
#include <QLocale>
#include <QMap>
#include <QTranslator>

int main(int argc, char *argv[])
{
    enableHighDpiScaling();
    QApplication app(argc, argv);
    // Names the user's data folder that holds the window's record, whatever
    // the executable is called.
    QApplication::setApplicationName(QStringLiteral("KcRadioConfig"));
    QTranslator translator;
    QTranslator qtTranslator;
    QMap<QString, QString> translationFiles;
    // Qt's own words (standard buttons) in the language of ours.
    if (loadTranslation(app, translator, translationFiles))
        loadQtTranslation(app, qtTranslator,
                          chooseTranslationLocale(translationFiles, QLocale::system().name()));

    registerDesignFontSubstitutes();

    int result = 0;
    {
        MainWindow window;
        window.show();
        // SIGTERM and the like close the window as its Close button does:
        // a radio at work is sent back to data mode first.
        window.closeOnInterrupt();
        result = app.exec();
    }
    KcWindowRecord::writeWaitingAtExit();
    return result;
}

#include "mainwindow.h"
#include "translationloader.h"

#include <QApplication>
#include <QMap>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QTranslator translator;
    QMap<QString, QString> translationFiles;
    loadTranslation(app, translator, translationFiles);

    int result = 0;
    {
        MainWindow window;
        window.show();
        result = app.exec();
    }
    return result;
}

// The baseline of the start-up benchmark: a bare Qt Widgets window with one
// label, measured by the same probe (linked in) as the program.
#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("Hello"));
    label.show();
    return app.exec();
}

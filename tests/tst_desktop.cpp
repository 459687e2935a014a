// The window as a desktop program: port details in the port lists, the
// system's reason when a port cannot be opened, Qt's own words in the
// language of ours, a window that keeps its size whatever the tip says, and
// a window that can be used from the keyboard and by assistive technology,
// images for screens at 200 %.
#include "kcradioconfigitemform.h"
#include "mainwindow.h"
#include "translationloader.h"
#include "virtualradio.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFont>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSerialPort>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTranslator>
#include <QtTest>

#include <memory>

namespace {

template <typename T> T *child(QWidget *parent, const char *name)
{
    return parent->findChild<T *>(QString::fromLatin1(name));
}

void offer(const QList<KcPortEntry> &ports)
{
    KcRadioConfigItemForm::setPortLister([ports]() { return ports; });
}

} // namespace

Q_DECLARE_METATYPE(QList<KcPortEntry>)

class TestDesktop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { KcRadioConfigItemForm::setPortLister(nullptr); }

    void portDetails_data();
    void portDetails();
    void openFailureGivesReason_data();
    void openFailureGivesReason();
    void qtWordsFollowOurs_data();
    void qtWordsFollowOurs();
    void tipKeepsWindowSize_data();
    void tipKeepsWindowSize();
    void windowShrinksBackAfterLongTip();
    void everyControlHasAccessibleName();
    void tabOrder_data();
    void tabOrder();
    void enterPressesFocusedButton_data();
    void enterPressesFocusedButton();
    void imagesHaveTwiceThePixels();

private:
    QTranslator mTranslator;
};

void TestDesktop::initTestCase()
{
    // The English words, so that the texts read as an operator sees them.
    QMap<QString, QString> files;
    QVERIFY(loadTranslationFrom(*qApp, mTranslator, files, qEnvironmentVariable("KC_DICT_DIR"),
                                QStringLiteral("en_US")));
    QVERIFY(!mTranslator.isEmpty());
}

void TestDesktop::portDetails_data()
{
    QTest::addColumn<QList<KcPortEntry>>("ports");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QStringList>("tips");

    QTest::newRow("everything known")
        << QList<KcPortEntry>{{"ttyUSB0", false, "FT232R USB UART", "FTDI", "A10K3ZQ"}}
        << QStringList{"ttyUSB0"}
        << QStringList{"Description: FT232R USB UART\nManufacturer: FTDI\nSerial number: A10K3ZQ"};
    QTest::newRow("two alike adapters told apart by serial number")
        << QList<KcPortEntry>{{"ttyUSB0", false, "CP2102", "", "0001"},
                              {"ttyUSB1", false, "CP2102", "", "0002"}}
        << QStringList{"ttyUSB0", "ttyUSB1"}
        << QStringList{"Description: CP2102\nSerial number: 0001",
                       "Description: CP2102\nSerial number: 0002"};
    QTest::newRow("nothing known, busy port left out")
        << QList<KcPortEntry>{{"ttyACM0", true, "Modem", "", ""}, {"/dev/pts/4", false}}
        << QStringList{"/dev/pts/4"} << QStringList{""};
}

void TestDesktop::portDetails()
{
    QFETCH(QList<KcPortEntry>, ports);
    QFETCH(QStringList, listed);
    QFETCH(QStringList, tips);

    offer(ports);
    KcRadioConfigItemForm panel;
    panel.setupRole(0, 0, 0);
    auto *list = child<QComboBox>(&panel, "cmbSerialPort");
    // As listed at set-up, and again after a search.
    for (int pass = 0; pass < 2; ++pass) {
        QCOMPARE(list->count(), listed.size());
        for (int i = 0; i < list->count(); ++i) {
            QCOMPARE(list->itemText(i), listed.at(i));
            QCOMPARE(list->itemData(i, Qt::ToolTipRole).toString(), tips.at(i));
            // The closed list shows the chosen port's details.
            list->setCurrentIndex(i);
            QCOMPARE(list->toolTip(), tips.at(i));
        }
        // A search keeps the chosen port, and its details.
        child<QPushButton>(&panel, "btnSearch")->click();
        QCOMPARE(list->currentIndex(), list->count() - 1);
        QCOMPARE(list->toolTip(), tips.last());
    }
}

void TestDesktop::openFailureGivesReason_data()
{
    QTest::addColumn<bool>("held");
    QTest::newRow("port gone") << false;
    QTest::newRow("port held by another port object") << true;
}

void TestDesktop::openFailureGivesReason()
{
    QFETCH(bool, held);

    QString path = QStringLiteral("/nonexistent/ttyKC0");
    std::unique_ptr<VirtualRadio> radio;
    QSerialPort holder;
    if (held) {
        radio = std::make_unique<VirtualRadio>();
        QVERIFY(radio->start());
        path = radio->portPath();
        holder.setPortName(path);
        QVERIFY(holder.open(QIODevice::ReadWrite));
    }
    // What the system says to anyone opening the port now.
    QSerialPort probe(path);
    QVERIFY(!probe.open(QIODevice::ReadWrite));
    const QString reason = probe.errorString();
    QVERIFY(!reason.isEmpty());

    offer({{path, false}});
    KcRadioConfigItemForm panel;
    panel.setupRole(0, 0, 0);
    panel.show();
    child<QPushButton>(&panel, "btnConfig")->click();
    QMessageBox *box = nullptr;
    QTRY_VERIFY((box = panel.findChild<QMessageBox *>()) != nullptr);

    const char *advice = "MsgOpenSerialPortFailGeneral";
#ifdef Q_OS_LINUX
    advice = "MsgOpenSerialPortFail";
#endif
    const QString words = QCoreApplication::translate("KcRadioConfigItemForm", advice);
    QCOMPARE(box->text(), words + " [" + path + "]");
    QCOMPARE(box->informativeText(), reason);
    // The dialout group exists on Linux only.
#ifdef Q_OS_LINUX
    QVERIFY(words.contains("dialout"));
#else
    QVERIFY(!words.contains("dialout"));
#endif
    box->close();
}

void TestDesktop::qtWordsFollowOurs_data()
{
    QTest::addColumn<QString>("systemLocale");
    QTest::addColumn<QString>("cancel");

    QTest::newRow("Chinese") << "zh_CN" << QString::fromUtf8("取消");
    // No dictionary of ours for French: English words, Qt's included.
    QTest::newRow("French falls back to English") << "fr_FR"
                                                  << "Cancel";
}

void TestDesktop::qtWordsFollowOurs()
{
    QFETCH(QString, systemLocale);
    QFETCH(QString, cancel);

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const QString qtDir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#else
    const QString qtDir = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
#endif
    if (!QFile::exists(qtDir + "/qtbase_zh_CN.qm") || !QFile::exists(qtDir + "/qtbase_fr.qm"))
        QSKIP("Qt's translations are not installed (scripts/install-deps.sh installs them)");

    QMap<QString, QString> files;
    QVERIFY(searchTranslationFilesIn(qEnvironmentVariable("KC_DICT_DIR"), files, "Trns", "qm"));
    QTranslator qtTranslator;
    QVERIFY(loadQtTranslation(*qApp, qtTranslator, chooseTranslationLocale(files, systemLocale)));
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Cancel);
    const QString text = box.button(QMessageBox::Cancel)->text();
    QCoreApplication::removeTranslator(&qtTranslator);
    QCOMPARE(text, cancel);
}

namespace {

// Every tip a panel shows.
const QList<QPair<const char *, const char *>> &allTips()
{
    static const QList<QPair<const char *, const char *>> tips = {
        {"KcRadioConfigItemForm", "LabSetting"},
        {"KcRadioConfigItemForm", "LabIdExceeded"},
        {"KcRadioConfigItemForm", "MsgDatalinkEnterCmdModeFailed"},
        {"KcRadioConfigItemForm", "LabRadioSetSuccessful"},
        {"KcRadioConfigItemForm", "LabRadioConfigFail"},
        {"KcRadioConfigItemForm", "MsgRadioEarseSuccessfully"},
        {"KcRadioConfigItemForm", "MsgRadioEarseFailed"},
        {"KcRadioParamReader", "MsgSerialPortOpenFailed"},
        {"KcRadioParamReader", "MsgSerialPortOpenFailedGeneral"},
        {"KcRadioParamReader", "MsgEnterCmdModeFailed"},
        {"KcRadioParamReader", "MsgRadioIDReadSuccessfully"},
        {"KcRadioParamReader", "MsgRadioIDReadFailed"},
    };
    return tips;
}

// The tip line of the P2P ground panel, the tallest panel: it sets the
// window's height.
QLabel *groundTip(MainWindow &window)
{
    QWidget *page = child<QStackedWidget>(&window, "stackedWidget")->widget(0);
    return child<QLabel>(page->findChild<KcRadioConfigItemForm *>("wgtGrdRadio"), "labTipInfo");
}

// A size change travels up the nested layouts one posted event per level.
void settleLayout()
{
    for (int level = 0; level < 8; ++level) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QCoreApplication::processEvents();
    }
}

} // namespace

void TestDesktop::tipKeepsWindowSize_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("pointSize");

    // Desktops' usual sizes of the default font.
    for (const char *locale : {"en_US", "zh_CN"})
        for (int pointSize : {9, 10})
            QTest::addRow("%s %dpt", locale, pointSize) << QString::fromLatin1(locale) << pointSize;
}

void TestDesktop::tipKeepsWindowSize()
{
    QFETCH(QString, locale);
    QFETCH(int, pointSize);

    const QFont appFont = QApplication::font();
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), pointSize));
    QTranslator translator;
    QMap<QString, QString> files;
    QVERIFY(
        loadTranslationFrom(*qApp, translator, files, qEnvironmentVariable("KC_DICT_DIR"), locale));
    offer({{"ttyUSB0", false}});
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QLabel *tip = groundTip(window);
        const QSize windowSize = window.size();
        const QSize tipSize = tip->size();
        for (const auto &entry : allTips()) {
            tip->setText(QCoreApplication::translate(entry.first, entry.second));
            settleLayout();
            QVERIFY2(window.size() == windowSize, entry.second);
            QVERIFY2(tip->size() == tipSize, entry.second);
            // Wrapped inside the label, nothing cut off.
            QVERIFY2(tip->heightForWidth(tip->width()) <= tip->height(), entry.second);
        }
        // So do the reasons below it, with the longest values they carry.
        QLabel *reason = child<QLabel>(tip->parentWidget(), "labReason");
        const QString command = QStringLiteral("ATS104=4294967295");
        const QList<QStringList> reasons{
            {"LabReasonNoEscapeAnswer", "115200", "230400", "9600"},
            {"LabReasonRefused", command},
            {"LabReasonUnanswered", command, "2"},
            {"LabReasonNotSent", command},
            {"LabReasonPortLost", "/dev/ttyUSB10"},
            {"LabReasonNoRadioId"},
            {"LabReasonPortFailed", "/dev/ttyUSB10", "No such file or directory"},
            {"LabReasonBackFromCommandMode"},
            {"LabReasonStoppedBeforeAny"},
            {"LabReasonStoppedAfterPreset", "AT&F10"},
            {"LabReasonStoppedAfterRegister", command},
            {"LabReasonStoppedAfterStore", "AT&W"}};
        for (const QStringList &entry : reasons) {
            QString text =
                QCoreApplication::translate("KcRunReport", entry.first().toLatin1().constData());
            for (const QString &value : entry.mid(1))
                text = text.arg(value);
            reason->setText(text);
            settleLayout();
            QVERIFY2(window.size() == windowSize, qPrintable(text));
            QVERIFY2(reason->heightForWidth(reason->width()) <= reason->height(), qPrintable(text));
        }
    }
    QCoreApplication::removeTranslator(&translator);
    QApplication::setFont(appFont);
}

void TestDesktop::windowShrinksBackAfterLongTip()
{
    offer({{"ttyUSB0", false}});
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QLabel *tip = groundTip(window);
    const QSize windowSize = window.size();

    tip->setText(QStringLiteral("A tip\nfar longer\nthan any\nthe panels show"));
    settleLayout();
    QCOMPARE(window.width(), windowSize.width());
    // Shown whole: the window grows, or the link test steps aside for it.
    QVERIFY(tip->heightForWidth(tip->width()) <= tip->height());
    QVERIFY(window.height() <= 600);
    tip->setText(QString());
    settleLayout();
    QCOMPARE(window.size(), windowSize);
}

void TestDesktop::everyControlHasAccessibleName()
{
    offer({});
    MainWindow window;
    QList<QWidget *> controls;
    for (QWidget *widget : window.findChildren<QWidget *>())
        if (qobject_cast<QAbstractButton *>(widget) || qobject_cast<QComboBox *>(widget) ||
            qobject_cast<QLineEdit *>(widget))
            controls << widget;
    // The window's five, ten in each of the four panels, and each pair's link test.
    QCOMPARE(controls.size(), 47);
    for (QWidget *control : controls) {
        const QString name = control->accessibleName();
        const QString where = control->parentWidget()->objectName() + "/" + control->objectName();
        // Words from the translation, not a bare key.
        QVERIFY2(!name.isEmpty() && !name.startsWith("Lab"), qPrintable(where + ": " + name));
    }
    // The panels themselves tell ground from airborne.
    auto *pair = child<QStackedWidget>(&window, "stackedWidget")->widget(0);
    QCOMPARE(child<QWidget>(pair, "wgtGrdRadio")->accessibleName(), "Ground radio");
    QCOMPARE(child<QWidget>(pair, "wgtAirRadio")->accessibleName(), "Airborne radio");
}

void TestDesktop::tabOrder_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QStringList>("expected");

    // The airborne panel waits, disabled, for the ground radio.
    QTest::newRow("P2P") << 0
                         << QStringList{"cmbDLType",
                                        "btnP2P",
                                        "btnStar",
                                        "cmbSerialPort",
                                        "btnSearch",
                                        "leRadioID",
                                        "btnGenerateRadioID",
                                        "btnRead",
                                        "cmbBaudRate",
                                        "btnConfig",
                                        "btnTestLink",
                                        "btnMin",
                                        "btnClose"};
    QTest::newRow("Star") << 1 << QStringList{"cmbDLType",
                                              "btnP2P",
                                              "btnStar",
                                              "cmbSerialPort",
                                              "btnSearch",
                                              "leRadioID",
                                              "btnGenerateRadioID",
                                              "btnConfig",
                                              "btnTestLink",
                                              "btnMin",
                                              "btnClose"};
}

void TestDesktop::tabOrder()
{
    QFETCH(int, page);
    QFETCH(QStringList, expected);

    offer({{"ttyUSB0", false}});
    MainWindow window;
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    // The first focus is on the model list, not on a title band button.
    QTRY_COMPARE(QApplication::focusWidget(), child<QWidget>(&window, "cmbDLType"));
    if (page == 1)
        child<QPushButton>(&window, "btnStar")->click();

    QStringList seen{QApplication::focusWidget()->objectName()};
    for (int i = 1; i < expected.size() + 1; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        seen << QApplication::focusWidget()->objectName();
    }
    // Round and back to the start.
    QCOMPARE(seen, expected + QStringList{expected.first()});
}

void TestDesktop::enterPressesFocusedButton_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("autoRepeat");
    QTest::addColumn<bool>("clicks");

    QTest::newRow("Return on a mode button")
        << "btnStar" << int(Qt::Key_Return) << 0 << false << true;
    QTest::newRow("keypad Enter on a mode button")
        << "btnStar" << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << false << true;
    QTest::newRow("Return on a panel button")
        << "btnSearch" << int(Qt::Key_Return) << 0 << false << true;
    QTest::newRow("Return on a title band button")
        << "btnMin" << int(Qt::Key_Return) << 0 << false << true;
    QTest::newRow("Ctrl+Return is another shortcut")
        << "btnStar" << int(Qt::Key_Return) << int(Qt::ControlModifier) << false << false;
    QTest::newRow("a held key presses once")
        << "btnSearch" << int(Qt::Key_Return) << 0 << true << false;
}

void TestDesktop::enterPressesFocusedButton()
{
    QFETCH(QString, button);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, autoRepeat);
    QFETCH(bool, clicks);

    offer({{"ttyUSB0", false}});
    MainWindow window;
    auto *target = window.findChild<QAbstractButton *>(button);
    QVERIFY(target);
    QSignalSpy clicked(target, &QAbstractButton::clicked);
    QKeyEvent press(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers), QString(), autoRepeat);
    QApplication::sendEvent(target, &press);
    QCOMPARE(clicked.count(), clicks ? 1 : 0);
}

void TestDesktop::imagesHaveTwiceThePixels()
{
    const QStringList names = QDir(":/images").entryList({"*.png"}, QDir::Files, QDir::Name);
    QVERIFY(names.size() > 1);
    int twins = 0;
    for (const QString &name : names) {
        // The title band is a gradient stretched to the window's width.
        if (name.contains("@2x") || name == "background_title.png")
            continue;
        const QImage image(":/images/" + name);
        const QImage twice(":/images/" + name.chopped(4) + "@2x.png");
        QVERIFY2(!twice.isNull(), qPrintable(name));
        QCOMPARE(twice.size(), image.size() * 2);
        // The same picture: halved, it differs from the small one by little.
        const QImage halved =
            twice.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                .scaled(image.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const QImage small = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        qint64 difference = 0;
        for (int y = 0; y < small.height(); ++y)
            for (int x = 0; x < small.width(); ++x) {
                const QRgb a = small.pixel(x, y);
                const QRgb b = halved.pixel(x, y);
                difference += qAbs(qRed(a) - qRed(b)) + qAbs(qGreen(a) - qGreen(b)) +
                              qAbs(qBlue(a) - qBlue(b)) + qAbs(qAlpha(a) - qAlpha(b));
            }
        const double perChannel = double(difference) / (4.0 * small.width() * small.height());
        QVERIFY2(perChannel < 4, qPrintable(name + ": " + QString::number(perChannel)));
        ++twins;
    }
    QCOMPARE(twins, names.size() / 2);
}

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"

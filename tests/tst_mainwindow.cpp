#include "kcradioconfigform.h"
#include "kcradioconfigitemform.h"
#include "mainwindow.h"

#include <QApplication>
#include <QBoxLayout>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QResource>
#include <QSpacerItem>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <algorithm>
#include <memory>

Q_DECLARE_METATYPE(QMargins)

namespace {
const QString ComboStyle =
    "QComboBox{\nborder-radius:2px;\nborder:1px solid gray;\n}\nQComboBox:hover{\nborder-radius: "
    "3px;\nborder-width:2px;\nborder-color:rgb(50, 180, 250);\n}\nQComboBox::down-arrow{\nimage:"
    "url(:/images/arrow_down.png);\n}\nQComboBox::drop-down{\nwidth:20px;\nborder-left:1px solid "
    "gray;\nbackground:transparent;\n}\nQComboBox::drop-down:hover{\nborder-left:1px solid "
    "lightgray;\nbackground:rgb(50, 180, 250);\n}";
const QString SelectedStyle = QString::fromUtf8(
    "QPushButton{background:transparent; color:rgb(25, 141, 216);font: 75 10pt "
    "\"\xe5\xbe\xae\xe8\xbd\xaf\xe9\x9b\x85\xe9\xbb\x91\";border-width:2px; border-style:none "
    "none solid none;border-color:rgb(86, 203, 255);}QPushButton:disabled{background:transparent; "
    "color:gray;border-width:2px; border-style:none none solid none;border-color:gray;}");
const QString UnselectedStyle = QString::fromUtf8(
    "QPushButton{background:transparent; color:black;font: 75 10pt "
    "\"\xe5\xbe\xae\xe8\xbd\xaf\xe9\x9b\x85\xe9\xbb\x91\";border:none;}QPushButton:disabled{"
    "background:transparent; color:gray;}");
const QString YaHei = QString::fromUtf8("\xe5\xbe\xae\xe8\xbd\xaf\xe9\x9b\x85\xe9\xbb\x91");

bool near(QRgb pixel, const QColor &wanted, int tolerance)
{
    return qAbs(qRed(pixel) - wanted.red()) <= tolerance &&
           qAbs(qGreen(pixel) - wanted.green()) <= tolerance &&
           qAbs(qBlue(pixel) - wanted.blue()) <= tolerance;
}

QString describe(QRgb pixel)
{
    return QString("rgb(%1, %2, %3)").arg(qRed(pixel)).arg(qGreen(pixel)).arg(qBlue(pixel));
}
} // namespace

// The main window: its widget tree, frame behaviour, radio type and mode
// selection and the locking of the selection during a configuration.
class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void windowSetup();
    void objectTree_data();
    void objectTree();
    void layoutItems_data();
    void layoutItems();
    void layoutSpacingAndMargins_data();
    void layoutSpacingAndMargins();
    void sizesAndFonts();
    void untranslatedTexts_data();
    void untranslatedTexts();
    void styleSheets_data();
    void styleSheets();
    void embeddedImages_data();
    void embeddedImages();
    void modelList();
    void pairForms();
    void modeButtons();
    void radioTypeReachesPanels_data();
    void radioTypeReachesPanels();
    void mr240ForcesP2P_data();
    void mr240ForcesP2P();
    void lockDuringConfiguration_data();
    void lockDuringConfiguration();
    void unlockIsNotCounted();
    void dragging_data();
    void dragging();
    void titleBandAndOutlinePainted();
    void minimise();
    void closeEndsEventLoop();

private:
    template <typename T> T *child(const char *name) const
    {
        return mWindow->findChild<T *>(QString::fromLatin1(name));
    }
    KcRadioConfigItemForm *panel(int form, const QString &name) const;
    void showWindow();
    void sendMove(const QPoint &globalPos);

    std::unique_ptr<MainWindow> mWindow;
};

void TestMainWindow::initTestCase()
{
    // The panels search for ports when they are set up: offer none, so that
    // no real serial port is looked at.
    KcRadioConfigItemForm::setPortLister([] { return QList<KcPortEntry>{}; });
}

void TestMainWindow::init()
{
    mWindow = std::make_unique<MainWindow>();
}

void TestMainWindow::cleanup()
{
    mWindow.reset();
}

KcRadioConfigItemForm *TestMainWindow::panel(int form, const QString &name) const
{
    auto *stack = child<QStackedWidget>("stackedWidget");
    return stack->widget(form)->findChild<KcRadioConfigItemForm *>(name);
}

void TestMainWindow::showWindow()
{
    mWindow->move(100, 80);
    mWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(mWindow.get()));
}

void TestMainWindow::sendMove(const QPoint &globalPos)
{
    QMouseEvent move(QEvent::MouseMove, mWindow->mapFromGlobal(globalPos), globalPos, Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(mWindow.get(), &move);
}

void TestMainWindow::windowSetup()
{
    QCOMPARE(mWindow->objectName(), QString("MainWindow"));
    QCOMPARE(mWindow->size(), QSize(640, 380));
    QVERIFY(mWindow->windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(mWindow->testAttribute(Qt::WA_MouseTracking));
    QVERIFY(mWindow->hasMouseTracking());
    QCOMPARE(mWindow->centralWidget()->objectName(), QString("centralwidget"));
    QCOMPARE(mWindow->centralWidget()->layout()->objectName(), QString("verticalLayout"));
    QCOMPARE(child<QGroupBox>("groupBox")->title(), QString());
    QCOMPARE(child<QGroupBox>("groupBox")->layout()->objectName(), QString("gridLayout"));
}

void TestMainWindow::objectTree_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");

    const QList<QStringList> rows = {
        {"labIcon", "QLabel", "centralwidget"},
        {"labTitle", "QLabel", "centralwidget"},
        {"btnMin", "QToolButton", "centralwidget"},
        {"btnClose", "QToolButton", "centralwidget"},
        {"labRadioType", "QLabel", "centralwidget"},
        {"cmbDLType", "QComboBox", "centralwidget"},
        {"btnP2P", "QPushButton", "centralwidget"},
        {"btnStar", "QPushButton", "centralwidget"},
        {"groupBox", "QGroupBox", "centralwidget"},
        {"stackedWidget", "QStackedWidget", "groupBox"},
        {"labVersion", "QLabel", "centralwidget"},
        {"verticalLayout", "QVBoxLayout", "centralwidget"},
        {"horizontalLayout_2", "QHBoxLayout", "verticalLayout"},
        {"horizontalLayout", "QHBoxLayout", "horizontalLayout_2"},
        {"horizontalLayout_3", "QHBoxLayout", "verticalLayout"},
        {"horizontalLayout_5", "QHBoxLayout", "verticalLayout"},
        {"horizontalLayout_4", "QHBoxLayout", "verticalLayout"},
        {"gridLayout", "QGridLayout", "groupBox"},
    };
    for (const QStringList &row : rows)
        QTest::newRow(qPrintable(row.at(0))) << row.at(0) << row.at(1) << row.at(2);
}

void TestMainWindow::objectTree()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, parentName);

    // The pair forms reuse some names inside their own trees; look at the
    // window's own objects only.
    QList<QObject *> found = mWindow->findChildren<QObject *>(name);
    found.erase(std::remove_if(found.begin(), found.end(),
                               [](QObject *object) {
                                   for (QObject *p = object->parent(); p; p = p->parent()) {
                                       if (qobject_cast<KcRadioConfigForm *>(p))
                                           return true;
                                   }
                                   return false;
                               }),
                found.end());
    QCOMPARE(found.size(), 1);
    QCOMPARE(QString(found.first()->metaObject()->className()), className);
    QVERIFY(found.first()->parent());
    QCOMPARE(found.first()->parent()->objectName(), parentName);
}

void TestMainWindow::layoutItems_data()
{
    QTest::addColumn<QString>("layout");
    // Object names in layout order; "~" stands for a horizontal spacer.
    QTest::addColumn<QStringList>("items");

    QTest::newRow("verticalLayout")
        << "verticalLayout"
        << QStringList{"horizontalLayout_2", "horizontalLayout_3", "horizontalLayout_5", "groupBox",
                       "horizontalLayout_4"};
    QTest::newRow("horizontalLayout_2")
        << "horizontalLayout_2" << QStringList{"labIcon", "~", "labTitle", "~", "horizontalLayout"};
    QTest::newRow("horizontalLayout") << "horizontalLayout" << QStringList{"btnMin", "btnClose"};
    QTest::newRow("horizontalLayout_3")
        << "horizontalLayout_3" << QStringList{"~", "labRadioType", "cmbDLType", "~"};
    QTest::newRow("horizontalLayout_5")
        << "horizontalLayout_5" << QStringList{"~", "btnP2P", "btnStar", "~"};
    QTest::newRow("gridLayout") << "gridLayout" << QStringList{"stackedWidget"};
    QTest::newRow("horizontalLayout_4") << "horizontalLayout_4" << QStringList{"~", "labVersion"};
}

void TestMainWindow::layoutItems()
{
    QFETCH(QString, layout);
    QFETCH(QStringList, items);

    auto *lay = mWindow->findChild<QLayout *>(layout);
    QVERIFY(lay);
    QCOMPARE(lay->count(), items.size());
    for (int i = 0; i < items.size(); ++i) {
        QLayoutItem *item = lay->itemAt(i);
        if (auto *box = qobject_cast<QBoxLayout *>(lay))
            QCOMPARE(box->stretch(i), 0);
        if (items.at(i) == "~") {
            QSpacerItem *spacer = item->spacerItem();
            QVERIFY2(spacer, qPrintable(QString("item %1").arg(i)));
            QCOMPARE(spacer->sizeHint(), QSize(40, 20));
            QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
            QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
        } else if (item->widget()) {
            QCOMPARE(item->widget()->objectName(), items.at(i));
        } else {
            QVERIFY2(item->layout(), qPrintable(QString("item %1").arg(i)));
            QCOMPARE(item->layout()->objectName(), items.at(i));
        }
    }
    if (auto *grid = qobject_cast<QGridLayout *>(lay)) {
        int row = -1, column = -1, rowSpan = 0, columnSpan = 0;
        grid->getItemPosition(0, &row, &column, &rowSpan, &columnSpan);
        QCOMPARE(QList<int>({row, column, rowSpan, columnSpan}), QList<int>({0, 0, 1, 1}));
    }
}

void TestMainWindow::layoutSpacingAndMargins_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<int>("spacing");
    QTest::addColumn<QMargins>("margins");

    QTest::newRow("verticalLayout") << "verticalLayout" << 16 << QMargins(6, 0, 6, 6);
    // Unset spacings of nested layouts follow the enclosing layout.
    QTest::newRow("horizontalLayout_2") << "horizontalLayout_2" << 16 << QMargins(9, 3, 0, 3);
    QTest::newRow("horizontalLayout") << "horizontalLayout" << 12 << QMargins(0, 0, 9, 0);
    QTest::newRow("horizontalLayout_3") << "horizontalLayout_3" << 16 << QMargins(0, 0, 0, 0);
    QTest::newRow("horizontalLayout_5") << "horizontalLayout_5" << 16 << QMargins(0, 0, 0, 0);
    QTest::newRow("horizontalLayout_4") << "horizontalLayout_4" << 16 << QMargins(0, 0, 9, 0);
}

void TestMainWindow::layoutSpacingAndMargins()
{
    QFETCH(QString, layout);
    QFETCH(int, spacing);
    QFETCH(QMargins, margins);

    auto *lay = mWindow->findChild<QLayout *>(layout);
    QVERIFY(lay);
    QCOMPARE(lay->spacing(), spacing);
    QCOMPARE(lay->contentsMargins(), margins);
}

void TestMainWindow::sizesAndFonts()
{
    QCOMPARE(child<QLabel>("labIcon")->minimumSize(), QSize(32, 32));
    QCOMPARE(child<QLabel>("labIcon")->maximumSize(), QSize(32, 32));
    QCOMPARE(child<QLabel>("labIcon")->text(), QString());
    QCOMPARE(child<QLabel>("labTitle")->minimumSize(), QSize(97, 34));
    QCOMPARE(child<QLabel>("labTitle")->maximumSize(), QSize(1000, 34));
    QCOMPARE(child<QLabel>("labTitle")->alignment(), Qt::Alignment(Qt::AlignCenter));
    for (const char *name : {"btnMin", "btnClose"}) {
        QCOMPARE(child<QToolButton>(name)->minimumSize(), QSize(13, 13));
        QCOMPARE(child<QToolButton>(name)->maximumSize(), QSize(13, 13));
        QCOMPARE(child<QToolButton>(name)->text(), QString());
    }
    QCOMPARE(child<QComboBox>("cmbDLType")->minimumSize(), QSize(95, 25));
    QCOMPARE(child<QPushButton>("btnP2P")->minimumSize(), QSize(0, 30));
    QCOMPARE(child<QPushButton>("btnStar")->minimumSize(), QSize(0, 30));

    const QFont title = child<QLabel>("labTitle")->font();
    QCOMPARE(title.family(), YaHei);
    QCOMPARE(title.pointSize(), 12);
    QCOMPARE(int(title.weight()), int(QFont::Bold));
    QVERIFY(title.bold());
    const QFont caption = child<QLabel>("labRadioType")->font();
    QCOMPARE(caption.family(), YaHei);
    QCOMPARE(caption.pointSize(), 10);
    QCOMPARE(int(caption.weight()), int(QFont::Bold));
}

void TestMainWindow::untranslatedTexts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");

    QTest::newRow("title") << "labTitle"
                           << "LabRadioConfig";
    QTest::newRow("caption") << "labRadioType"
                             << "LabRadioType";
    QTest::newRow("version") << "labVersion"
                             << "V1.0.22";
    QTest::newRow("p2p") << "btnP2P"
                         << "BtnP2PMode";
    QTest::newRow("star") << "btnStar"
                          << "BtnStarMode";
}

void TestMainWindow::untranslatedTexts()
{
    QFETCH(QString, name);
    QFETCH(QString, text);

    QObject *widget = mWindow->findChild<QObject *>(name);
    QVERIFY(widget);
    QCOMPARE(widget->property("text").toString(), text);
    QCOMPARE(mWindow->windowTitle(), QString("MainWindow"));
}

void TestMainWindow::styleSheets_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("style");

    QTest::newRow("labIcon") << "labIcon"
                             << "background-image: url(:/images/Config.png);";
    QTest::newRow("labTitle") << "labTitle"
                              << "color:white;";
    QTest::newRow("btnMin")
        << "btnMin"
        << "QToolButton{border-image:url(:/images/small-normal.png);}\nQToolButton:hover{border-"
           "image:url(:/images/small-streak.png);}\nQToolButton:pressed{border-image:url(:/images/"
           "small-select.png);}";
    QTest::newRow("btnClose")
        << "btnClose"
        << "QToolButton{border-image:url(:/images/close-normal.png);}\nQToolButton:hover{border-"
           "image:url(:/images/close-streak.png);}\nQToolButton:pressed{border-image:url(:/images/"
           "close-select.png);}";
    QTest::newRow("cmbDLType") << "cmbDLType" << ComboStyle;
    QTest::newRow("btnP2P selected") << "btnP2P" << SelectedStyle;
    QTest::newRow("btnStar unselected") << "btnStar" << UnselectedStyle;
    QTest::newRow("labRadioType") << "labRadioType" << QString();
    QTest::newRow("labVersion") << "labVersion" << QString();
    QTest::newRow("window") << "" << QString();
}

void TestMainWindow::styleSheets()
{
    QFETCH(QString, name);
    QFETCH(QString, style);

    QWidget *widget = name.isEmpty() ? mWindow.get() : mWindow->findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(widget->styleSheet(), style);
    QCOMPARE(qApp->styleSheet(), QString());
}

void TestMainWindow::embeddedImages_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("probe");
    QTest::addColumn<QColor>("colour");

    const QColor glyph(172, 215, 245);
    QTest::newRow("title left") << "background_title.png" << QSize(1004, 63) << QPoint(0, 30)
                                << QColor(27, 183, 229);
    QTest::newRow("title right") << "background_title.png" << QSize(1004, 63) << QPoint(1003, 30)
                                 << QColor(24, 135, 214);
    QTest::newRow("emblem ground")
        << "Config.png" << QSize(32, 32) << QPoint(1, 1) << QColor(0, 84, 164);
    QTest::newRow("small-normal") << "small-normal.png" << QSize(13, 13) << QPoint(6, 6) << glyph;
    QTest::newRow("small-streak") << "small-streak.png" << QSize(13, 13) << QPoint(6, 6)
                                  << QColor(194, 226, 248);
    QTest::newRow("small-select") << "small-select.png" << QSize(13, 13) << QPoint(6, 6)
                                  << QColor(160, 204, 235);
    QTest::newRow("close-normal") << "close-normal.png" << QSize(13, 13) << QPoint(6, 6) << glyph;
    QTest::newRow("close-streak") << "close-streak.png" << QSize(13, 13) << QPoint(6, 6)
                                  << QColor(194, 226, 248);
    QTest::newRow("close-select") << "close-select.png" << QSize(13, 13) << QPoint(6, 6)
                                  << QColor(255, 64, 1);
    QTest::newRow("arrow_down") << "arrow_down.png" << QSize(19, 22) << QPoint(9, 10)
                                << QColor(64, 64, 64);
    QTest::newRow("arrow_blue") << "arrow_blue.png" << QSize(38, 46) << QPoint(19, 23)
                                << QColor(0, 176, 240);
    QTest::newRow("arrow_gray") << "arrow_gray.png" << QSize(41, 46) << QPoint(20, 23)
                                << QColor(217, 217, 217);
    QTest::newRow("button-select border")
        << "button-select.png" << QSize(130, 36) << QPoint(1, 18) << QColor(0, 160, 227);
    QTest::newRow("button-select face")
        << "button-select.png" << QSize(130, 36) << QPoint(65, 18) << QColor(255, 255, 255);
    QTest::newRow("button-streak")
        << "button-streak.png" << QSize(130, 36) << QPoint(65, 18) << QColor(0, 136, 194);
    QTest::newRow("button-normal")
        << "button-normal.png" << QSize(130, 36) << QPoint(65, 18) << QColor(0, 160, 227);
    QTest::newRow("button-forbid")
        << "button-forbid.png" << QSize(130, 36) << QPoint(65, 18) << QColor(202, 202, 202);
}

void TestMainWindow::embeddedImages()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);
    QFETCH(QPoint, probe);
    QFETCH(QColor, colour);

    const QString path = ":/images/" + name;
    const QResource resource(path);
    QVERIFY2(resource.isValid(), qPrintable(path));
    QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);
    const QImage image(path);
    QCOMPARE(image.size(), size);
    const QRgb pixel = image.pixel(probe);
    QCOMPARE(qAlpha(pixel), 255);
    QVERIFY2(near(pixel, colour, 2), qPrintable(describe(pixel)));
    // The glyphs and arrows stand on a transparent ground.
    if (name.startsWith("small") || name.startsWith("close") || name.startsWith("arrow"))
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
}

void TestMainWindow::modelList()
{
    auto *combo = child<QComboBox>("cmbDLType");
    QCOMPARE(combo->count(), 3);
    const QStringList names{"MR300", "MR240", "MR300S"};
    for (int i = 0; i < names.size(); ++i) {
        QCOMPARE(combo->itemText(i), names.at(i));
        QCOMPARE(combo->itemData(i, Qt::UserRole), QVariant(i));
    }
    QCOMPARE(combo->currentIndex(), 0);
}

void TestMainWindow::pairForms()
{
    auto *stack = child<QStackedWidget>("stackedWidget");
    QCOMPARE(stack->count(), 2);
    QCOMPARE(stack->currentIndex(), 0);
    for (int page = 0; page < 2; ++page) {
        auto *form = qobject_cast<KcRadioConfigForm *>(stack->widget(page));
        QVERIFY(form);
        // Ground panels run the kinds 0 and 2, airborne panels 1 and 3.
        QCOMPARE(panel(page, "wgtGrdRadio")->configKind(), 2 * page);
        QCOMPARE(panel(page, "wgtAirRadio")->configKind(), 2 * page + 1);
        QCOMPARE(panel(page, "wgtGrdRadio")->radioType(), 0);
    }
    QCOMPARE(mWindow->findChildren<KcRadioConfigForm *>().size(), 2);
}

void TestMainWindow::modeButtons()
{
    auto *stack = child<QStackedWidget>("stackedWidget");
    auto *p2p = child<QPushButton>("btnP2P");
    auto *star = child<QPushButton>("btnStar");

    QTest::mouseClick(star, Qt::LeftButton);
    QCOMPARE(stack->currentIndex(), 1);
    QCOMPARE(p2p->styleSheet(), UnselectedStyle);
    QCOMPARE(star->styleSheet(), SelectedStyle);

    QTest::mouseClick(p2p, Qt::LeftButton);
    QCOMPARE(stack->currentIndex(), 0);
    QCOMPARE(p2p->styleSheet(), SelectedStyle);
    QCOMPARE(star->styleSheet(), UnselectedStyle);
}

void TestMainWindow::radioTypeReachesPanels_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("MR240") << 1;
    QTest::newRow("MR300S") << 2;
}

void TestMainWindow::radioTypeReachesPanels()
{
    QFETCH(int, index);

    child<QComboBox>("cmbDLType")->setCurrentIndex(index);
    for (int form = 0; form < 2; ++form) {
        QCOMPARE(panel(form, "wgtGrdRadio")->radioType(), index);
        QCOMPARE(panel(form, "wgtAirRadio")->radioType(), index);
    }
    child<QComboBox>("cmbDLType")->setCurrentIndex(0);
    QCOMPARE(panel(1, "wgtAirRadio")->radioType(), 0);
}

void TestMainWindow::mr240ForcesP2P_data()
{
    QTest::addColumn<bool>("startOnStar");
    QTest::newRow("from Star page") << true;
    QTest::newRow("from P2P page") << false;
}

void TestMainWindow::mr240ForcesP2P()
{
    QFETCH(bool, startOnStar);

    auto *stack = child<QStackedWidget>("stackedWidget");
    auto *combo = child<QComboBox>("cmbDLType");
    auto *p2p = child<QPushButton>("btnP2P");
    auto *star = child<QPushButton>("btnStar");
    if (startOnStar) {
        QTest::mouseClick(star, Qt::LeftButton);
        QCOMPARE(stack->currentIndex(), 1);
    }

    combo->setCurrentIndex(1);
    QCOMPARE(stack->currentIndex(), 0);
    QCOMPARE(p2p->styleSheet(), SelectedStyle);
    QCOMPARE(star->styleSheet(), UnselectedStyle);
    QVERIFY(star->isEnabled());

    combo->setCurrentIndex(2);
    QCOMPARE(stack->currentIndex(), 0);

    // Star may be chosen again afterwards, and other models keep the page.
    QTest::mouseClick(star, Qt::LeftButton);
    QCOMPARE(stack->currentIndex(), 1);
    combo->setCurrentIndex(0);
    QCOMPARE(stack->currentIndex(), 1);
    QCOMPARE(star->styleSheet(), SelectedStyle);
}

void TestMainWindow::lockDuringConfiguration_data()
{
    QTest::addColumn<int>("form");
    QTest::addColumn<QString>("panelName");

    QTest::newRow("P2P ground") << 0 << "wgtGrdRadio";
    QTest::newRow("P2P airborne") << 0 << "wgtAirRadio";
    QTest::newRow("Star ground") << 1 << "wgtGrdRadio";
    QTest::newRow("Star airborne") << 1 << "wgtAirRadio";
}

void TestMainWindow::lockDuringConfiguration()
{
    QFETCH(int, form);
    QFETCH(QString, panelName);

    KcRadioConfigItemForm *source = panel(form, panelName);
    QVERIFY(source);
    const QList<QWidget *> locked{child<QLabel>("labRadioType"), child<QComboBox>("cmbDLType"),
                                  child<QPushButton>("btnP2P"), child<QPushButton>("btnStar")};
    const QList<QWidget *> alwaysEnabled{child<QToolButton>("btnMin"),
                                         child<QToolButton>("btnClose")};

    emit source->sigRadioStartConfig();
    for (QWidget *w : locked)
        QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
    for (QWidget *w : alwaysEnabled)
        QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));

    emit source->sigRadioEndConfig();
    for (QWidget *w : locked)
        QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
}

void TestMainWindow::unlockIsNotCounted()
{
    auto *combo = child<QComboBox>("cmbDLType");
    emit panel(0, "wgtGrdRadio")->sigRadioStartConfig();
    emit panel(1, "wgtGrdRadio")->sigRadioStartConfig();
    QVERIFY(!combo->isEnabled());
    emit panel(1, "wgtAirRadio")->sigRadioEndConfig();
    QVERIFY(combo->isEnabled());
    QVERIFY(child<QPushButton>("btnStar")->isEnabled());
}

void TestMainWindow::dragging_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("moves");

    QTest::newRow("left on title") << "labTitle" << int(Qt::LeftButton) << true;
    QTest::newRow("left on icon") << "labIcon" << int(Qt::LeftButton) << true;
    QTest::newRow("left on group box") << "groupBox" << int(Qt::LeftButton) << true;
    QTest::newRow("left on version") << "labVersion" << int(Qt::LeftButton) << true;
    QTest::newRow("left on empty area") << "centralwidget" << int(Qt::LeftButton) << true;
    QTest::newRow("right on title") << "labTitle" << int(Qt::RightButton) << false;
    QTest::newRow("right on empty area") << "centralwidget" << int(Qt::RightButton) << false;
    QTest::newRow("left on close") << "btnClose" << int(Qt::LeftButton) << false;
    QTest::newRow("left on minimise") << "btnMin" << int(Qt::LeftButton) << false;
    QTest::newRow("left on mode button") << "btnStar" << int(Qt::LeftButton) << false;
    QTest::newRow("left on model list") << "cmbDLType" << int(Qt::LeftButton) << false;
}

void TestMainWindow::dragging()
{
    QFETCH(QString, target);
    QFETCH(int, button);
    QFETCH(bool, moves);

    showWindow();
    QWidget *widget = mWindow->findChild<QWidget *>(target);
    QVERIFY(widget);
    // A point on the target away from its children.
    const QPoint local = target == "centralwidget" ? QPoint(3, 60) : QPoint(2, 2);
    const QPoint grabLocal = widget->mapTo(mWindow.get(), local);
    const QPoint grabGlobal = widget->mapToGlobal(local);
    const QPoint start = mWindow->pos();
    const Qt::MouseButton mouseButton = Qt::MouseButton(button);

    QTest::mousePress(widget, mouseButton, Qt::NoModifier, local);
    const QPoint delta(57, 33);
    sendMove(grabGlobal + delta);
    if (moves) {
        QTRY_COMPARE(mWindow->pos(), start + delta);
        // The grab point stays under the cursor.
        QCOMPARE(mWindow->mapFromGlobal(grabGlobal + delta), grabLocal);
    } else {
        QTest::qWait(20);
        QCOMPARE(mWindow->pos(), start);
    }

    // Release away from buttons so that none is clicked.
    if (auto *combo = qobject_cast<QComboBox *>(widget))
        combo->hidePopup();
    QTest::mouseRelease(widget, mouseButton, Qt::NoModifier, QPoint(-200, -200));
    QVERIFY(mWindow->isVisible());

    // After the release, moving the mouse leaves the window where it is.
    const QPoint settled = mWindow->pos();
    sendMove(grabGlobal + QPoint(120, 90));
    QTest::qWait(20);
    QCOMPARE(mWindow->pos(), settled);
}

void TestMainWindow::titleBandAndOutlinePainted()
{
    showWindow();
    const QImage image = mWindow->grab().toImage();
    const int w = image.width();
    const int h = image.height();
    QCOMPARE(QSize(w, h), mWindow->size());

    // Row 1 lies above every child: the title band gradient from light to
    // darker blue.
    const QRgb left = image.pixel(12, 1);
    const QRgb right = image.pixel(w - 12, 1);
    const QRgb middle = image.pixel(w / 2, 1);
    QVERIFY2(near(left, QColor(27, 183, 229), 4), qPrintable(describe(left)));
    QVERIFY2(near(right, QColor(24, 135, 214), 4), qPrintable(describe(right)));
    QVERIFY2(qGreen(middle) < qGreen(left) && qGreen(middle) > qGreen(right),
             qPrintable(describe(middle)));
    QVERIFY(near(image.pixel(w / 2, 39), QColor(25, 159, 221), 6));
    // Below the band: white ground, a one-pixel grey outline on the edges.
    const QColor grey(180, 180, 180);
    for (const QPoint &edge : {QPoint(0, h - 40), QPoint(w - 1, h - 40), QPoint(w / 3, h - 1),
                               QPoint(0, 60), QPoint(w - 1, 60)})
        QVERIFY2(near(image.pixel(edge), grey, 0),
                 qPrintable(QString("(%1,%2) %3")
                                .arg(edge.x())
                                .arg(edge.y())
                                .arg(describe(image.pixel(edge)))));
    for (const QPoint &inside : {QPoint(2, h - 40), QPoint(w - 3, h - 40), QPoint(w / 3, h - 3)})
        QVERIFY2(near(image.pixel(inside), Qt::white, 0),
                 qPrintable(describe(image.pixel(inside))));
}

void TestMainWindow::minimise()
{
    showWindow();
    QTest::mouseClick(child<QToolButton>("btnMin"), Qt::LeftButton);
    QTRY_VERIFY(mWindow->isMinimized());
}

void TestMainWindow::closeEndsEventLoop()
{
    QVERIFY(qApp->quitOnLastWindowClosed());
    showWindow();
    auto *close = child<QToolButton>("btnClose");
    QTimer::singleShot(0, close, [close] { QTest::mouseClick(close, Qt::LeftButton); });
    // Guard: a loop that the close did not end stops with another code.
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(42); });
    guard.start(10000);
    const int result = QApplication::exec();
    QCOMPARE(result, 0);
    QVERIFY(!mWindow->isVisible());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

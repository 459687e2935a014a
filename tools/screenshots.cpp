// Takes the screenshots of the main window for the documentation. Starts
// virtual radios in this process, offers their paths to the port search,
// builds the real main window in the chosen language and drives it as an
// operator would, by clicking its buttons, saving a PNG at each moment worth
// showing. The radio timers run on the tests' virtual clock, at their real
// intervals but without waiting for them. Needs a display (Xvfb will do) so
// that fonts and styles are those of a real session.
//
// usage: screenshots --locale en_US|zh_CN --out <folder> [--dict <folder>]

#include "designfont.h"
#include "highdpi.h"
#include "kclinkview.h"
#include "kcradioconfigitemform.h"
#include "mainwindow.h"
#include "translationloader.h"
#include "virtualair.h"
#include "virtualclock.h"
#include "virtualradio.h"

#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTextStream>
#include <QTranslator>
#include <functional>
#include <memory>

namespace {

constexpr int NetModeP2P = 0;
constexpr int NetModeStar = 1;
constexpr int Ground = 0;
constexpr int Airborne = 1;
// Translation contexts of the tip lines.
const char Panel[] = "KcRadioConfigItemForm";
const char Reader[] = "KcRadioParamReader";

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

// One operator session on the main window.
class Operator
{
public:
    Operator(MainWindow &window, const QString &outDir) : mWindow(window), mOut(outDir) {}

    KcRadioConfigItemForm *panel(int netMode, int role) const
    {
        auto *stack = mWindow.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
        QWidget *form = stack ? stack->widget(netMode) : nullptr;
        if (!form)
            return nullptr;
        return form->findChild<KcRadioConfigItemForm *>(
            role == Ground ? QStringLiteral("wgtGrdRadio") : QStringLiteral("wgtAirRadio"));
    }

    template <typename T> static T *child(QWidget *parent, const char *name)
    {
        return parent ? parent->findChild<T *>(QString::fromLatin1(name)) : nullptr;
    }

    static QString tip(KcRadioConfigItemForm *panel)
    {
        auto *label = child<QLabel>(panel, "labTipInfo");
        return label ? label->text() : QString();
    }

    static QString reason(KcRadioConfigItemForm *panel)
    {
        auto *label = child<QLabel>(panel, "labReason");
        return label ? label->text() : QString();
    }

    // The panel's progress bar as "value/maximum: words" while it shows.
    static QString progress(KcRadioConfigItemForm *panel)
    {
        auto *bar = child<QProgressBar>(panel, "barProgress");
        if (!bar || !bar->isVisible())
            return QStringLiteral("none");
        return QStringLiteral("%1/%2 \"%3\"")
            .arg(bar->value())
            .arg(bar->maximum())
            .arg(bar->text());
    }

    // Counts the panel's ended runs, so that a wait can tell when one is over.
    void watch(KcRadioConfigItemForm *panel)
    {
        QObject::connect(panel, &KcRadioConfigItemForm::sigRadioEndConfig,
                         [this]() { ++mEndedRuns; });
    }

    bool click(QWidget *parent, const char *buttonName)
    {
        auto *button = child<QPushButton>(parent, buttonName);
        if (!button || !button->isVisible() || !button->isEnabled()) {
            out() << "cannot press " << buttonName << "\n";
            return false;
        }
        button->click();
        return true;
    }

    bool choosePort(KcRadioConfigItemForm *panel, const QString &path)
    {
        auto *combo = child<QComboBox>(panel, "cmbSerialPort");
        const int index = combo ? combo->findText(path) : -1;
        if (index < 0) {
            out() << "port " << path << " is not in the list\n";
            return false;
        }
        combo->setCurrentIndex(index);
        return true;
    }

    // Presses Configure; with grabWhileRunning the window is saved under
    // that name grabAfterMs (virtual) after the press, while the run goes on.
    bool configure(KcRadioConfigItemForm *panel, const QString &grabWhileRunning = QString(),
                   int grabAfterMs = 0)
    {
        const int endedBefore = mEndedRuns;
        if (!click(panel, "btnConfig"))
            return false;
        if (!grabWhileRunning.isEmpty()) {
            if (grabAfterMs > 0)
                VirtualClock::install().advanceBy(grabAfterMs);
            settle();
            save(grabWhileRunning);
        }
        if (!VirtualClock::install().runUntil([&]() { return mEndedRuns > endedBefore; })) {
            out() << "configuration did not end\n";
            return false;
        }
        settle();
        return true;
    }

    // Presses the pair form's Test link and waits for the verdict.
    bool testLink(int netMode, const QString &grabWhileRunning, int grabAfterMs)
    {
        auto *stack = mWindow.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
        auto *view = stack ? stack->widget(netMode)->findChild<KcLinkView *>() : nullptr;
        auto *button = child<QPushButton>(view, "btnTestLink");
        // Enabled once the panels have given their ports up.
        (void)VirtualClock::install().runUntil([&]() { return button && button->isEnabled(); });
        if (!view || !click(view, "btnTestLink"))
            return false;
        VirtualClock::install().advanceBy(grabAfterMs);
        settle();
        save(grabWhileRunning);
        if (!VirtualClock::install().runUntil([&]() { return !view->isWorking(); }, 60000)) {
            out() << "the link test did not end\n";
            return false;
        }
        settle();
        out() << "  link: \"" << child<QLabel>(view, "labLinkStatus")->text() << "\" / \""
              << child<QLabel>(view, "labLinkResult")->text().replace(QLatin1Char('\n'), " | ")
              << "\"\n";
        return true;
    }

    bool read(KcRadioConfigItemForm *panel)
    {
        if (!click(panel, "btnRead"))
            return false;
        // The panel is disabled while the reader works and enabled with the
        // result (which may read like the tip before it).
        const bool done = VirtualClock::install().runUntil([&]() { return panel->isEnabled(); });
        if (!done)
            out() << "the read did not end\n";
        settle();
        return done;
    }

    // Whether the panel's tip line shows the translation of key in context.
    static bool expectTip(KcRadioConfigItemForm *panel, const char *context, const char *key)
    {
        const QString wanted = QCoreApplication::translate(context, key);
        if (tip(panel) == wanted)
            return true;
        out() << "expected tip " << key << " (\"" << wanted << "\"), saw \"" << tip(panel)
              << "\"\n";
        return false;
    }

    // Lets pending layout and paint events run, so the grab shows the state
    // just reached.
    static void settle() { QTest::qWait(150); }

    void save(const QString &name)
    {
        saveImage(mWindow.grab(), name);
        describe(name);
    }

    void saveImage(const QPixmap &pixmap, const QString &name)
    {
        const QString path = mOut.filePath(name + QStringLiteral(".png"));
        if (pixmap.save(path, "PNG"))
            out() << "saved " << path << " (" << pixmap.width() << "x" << pixmap.height() << ")\n";
        else
            out() << "cannot save " << path << "\n";
    }

    // What the picture should show, for checking it by eye.
    void describe(const QString &name)
    {
        auto *stack = mWindow.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
        const int mode = stack ? stack->currentIndex() : -1;
        auto *arrow = child<QLabel>(stack ? stack->currentWidget() : nullptr, "labArrow");
        out() << "  " << name << ": " << mWindow.width() << "x" << mWindow.height() << " page "
              << mode << " selection "
              << (child<QWidget>(&mWindow, "cmbDLType")->isEnabled() ? "on" : "locked")
              << ", arrow " << (arrow && arrow->isEnabled() ? "blue" : "grey");
        for (int role : {Ground, Airborne}) {
            KcRadioConfigItemForm *p = panel(mode, role);
            out() << (role == Ground ? ", ground " : ", airborne ")
                  << (p->isEnabled() ? "enabled" : "disabled") << " tip \""
                  << QString(tip(p)).replace(QLatin1Char('\n'), QLatin1String("\\n"))
                  << "\" reason \"" << reason(p) << "\" progress " << progress(p);
        }
        out() << "\n";
        out().flush();
    }

    // The window with the message box drawn where it stands on the screen,
    // and the box alone.
    bool saveWithMessageBox(const QString &name)
    {
        QMessageBox *box = nullptr;
        // The box itself is the verdict; the wait's own result adds nothing.
        (void)QTest::qWaitFor(
            [&]() {
                for (QWidget *widget : QApplication::topLevelWidgets())
                    if (auto *candidate = qobject_cast<QMessageBox *>(widget);
                        candidate && candidate->isVisible())
                        box = candidate;
                return box != nullptr;
            },
            5000);
        if (!box) {
            out() << "no message box appeared\n";
            return false;
        }
        settle();
        QPixmap composite = mWindow.grab();
        const QPixmap boxImage = box->grab();
        {
            QPainter painter(&composite);
            painter.drawPixmap(box->frameGeometry().topLeft() - mWindow.pos(), boxImage);
        }
        saveImage(composite, name);
        saveImage(boxImage, name + QStringLiteral("-box"));
        describe(name);
        out() << "  message box: \"" << box->windowTitle() << "\" / \"" << box->text() << "\" / \""
              << box->informativeText() << "\" / button \"" << box->button(QMessageBox::Ok)->text()
              << "\"\n";
        box->close();
        settle();
        return true;
    }

private:
    MainWindow &mWindow;
    QDir mOut;
    int mEndedRuns = 0;
};

std::unique_ptr<VirtualRadio> startRadio(VirtualRadio::Options options)
{
    auto radio = std::make_unique<VirtualRadio>(options);
    if (!radio->start())
        return nullptr;
    return radio;
}

} // namespace

int main(int argc, char *argv[])
{
    // As the program does, so that QT_SCALE_FACTOR=2 shows it at 200 %.
    enableHighDpiScaling();
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Drives the main window against virtual radios and saves screenshots."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("locale"), QStringLiteral("Translation to load: en_US or zh_CN."),
         QStringLiteral("name"), QStringLiteral("en_US")},
        {QStringLiteral("out"), QStringLiteral("Folder for the PNG files."),
         QStringLiteral("folder"), QStringLiteral("screenshots")},
        {QStringLiteral("dict"), QStringLiteral("Folder with the Trns_<locale>.qm files."),
         QStringLiteral("folder"),
         QCoreApplication::applicationDirPath() + QStringLiteral("/../dict")},
    });
    parser.process(app);

    // Without the embedded images the pictures would show bare widgets.
    if (!QFile::exists(QStringLiteral(":/images/background_title.png"))) {
        out() << "the embedded images are missing from this build\n";
        return 1;
    }

    QTranslator translator;
    QMap<QString, QString> files;
    const QString locale = parser.value(QStringLiteral("locale"));
    const QString dictDir = QDir(parser.value(QStringLiteral("dict"))).absolutePath();
    if (!loadTranslationFrom(app, translator, files, dictDir, locale) || translator.isEmpty()) {
        out() << "no translation loaded from " << dictDir << "\n";
        return 1;
    }
    out() << "translation " << translator.filePath() << "\n";
    // Qt's own words (the message box's button) in the same language.
    QTranslator qtTranslator;
    if (loadQtTranslation(app, qtTranslator, chooseTranslationLocale(files, locale)))
        out() << "Qt translation " << qtTranslator.filePath() << "\n";
    else
        out() << "no Qt translation for " << locale << "\n";

    // As the program does: the design font's substitutes before the first widget.
    registerDesignFontSubstitutes();

    QDir outDir(parser.value(QStringLiteral("out")));
    if (!outDir.mkpath(QStringLiteral("."))) {
        out() << "cannot create " << outDir.path() << "\n";
        return 1;
    }

    VirtualClock::install();

    VirtualRadio::Options groundOptions;
    VirtualRadio::Options airborneOptions;
    airborneOptions.echo = true; // a star airborne radio is judged by its echoed "ATA"
    VirtualRadio::Options silentOptions;
    silentOptions.escapeAnswer = VirtualRadio::EscapeAnswer::Silence;
    auto ground = startRadio(groundOptions);
    auto airborne = startRadio(airborneOptions);
    auto silent = startRadio(silentOptions);
    auto pulled = startRadio(VirtualRadio::Options());
    VirtualRadio::Options refusingOptions;
    refusingOptions.refuseCommand = "AT&W";
    auto refusing = startRadio(refusingOptions);
    VirtualRadio::Options unpluggedOptions;
    unpluggedOptions.unplugAfterCommands = 4;
    auto unplugged = startRadio(unpluggedOptions);
    // Two more on an air that loses a fifth of its packets, for a link
    // test that fails; the first two share a clean air.
    auto lossyGround = startRadio(VirtualRadio::Options());
    auto lossyAirborne = startRadio(VirtualRadio::Options());
    if (!ground || !airborne || !silent || !pulled || !refusing || !unplugged || !lossyGround ||
        !lossyAirborne) {
        out() << "cannot start the virtual radios\n";
        return 1;
    }
    const QString pulledPath = pulled->portPath();
    const QStringList ports{ground->portPath(),      airborne->portPath(),
                            silent->portPath(),      pulledPath,
                            refusing->portPath(),    unplugged->portPath(),
                            lossyGround->portPath(), lossyAirborne->portPath()};
    VirtualAir cleanAir(VirtualAir::Options{});
    cleanAir.attach(ground.get());
    cleanAir.attach(airborne.get());
    VirtualAir::Options lossy;
    lossy.lossProbability = 0.2;
    lossy.seed = 31;
    VirtualAir lossyAir(lossy);
    for (VirtualRadio *radio : {lossyGround.get(), lossyAirborne.get()}) {
        radio->setRegister(104, QStringLiteral("2026"));
        lossyAir.attach(radio);
    }
    out() << "ports " << ports.join(QLatin1Char(' ')) << "\n";
    KcRadioConfigItemForm::setPortLister([ports]() {
        QList<KcPortEntry> entries;
        for (const QString &name : ports)
            entries.append({name, false});
        return entries;
    });

    MainWindow window;
    window.move(40, 40);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        out() << "the window was not shown\n";
        return 1;
    }
    Operator op(window, outDir.path());
    for (int mode : {NetModeP2P, NetModeStar})
        for (int role : {Ground, Airborne})
            op.watch(op.panel(mode, role));
    Operator::settle();

    bool ok = true;
    op.save(QStringLiteral("01-startup"));

    // P2P: ground first, then airborne on the second port.
    KcRadioConfigItemForm *p2pGround = op.panel(NetModeP2P, Ground);
    KcRadioConfigItemForm *p2pAir = op.panel(NetModeP2P, Airborne);
    // In the middle of the run: the fourth command has just gone out.
    ok = op.configure(p2pGround, QStringLiteral("02-p2p-ground-setting"), 8000) && ok;
    op.save(QStringLiteral("03-p2p-ground-ok"));
    ok = Operator::expectTip(p2pGround, Panel, "LabRadioSetSuccessful") && ok;
    ok = op.choosePort(p2pAir, airborne->portPath()) && ok;
    ok = op.configure(p2pAir) && ok;
    op.save(QStringLiteral("04-p2p-airborne-ok"));
    ok = Operator::expectTip(p2pAir, Panel, "LabRadioSetSuccessful") && ok;

    // The pair just configured passes its link test; a pair on the lossy air
    // does not. (Numbered after the other scenes, whose names stay.)
    ok = op.testLink(NetModeP2P, QStringLiteral("15-link-running"), 3000) && ok;
    op.save(QStringLiteral("16-link-passes"));
    ok = op.choosePort(p2pGround, lossyGround->portPath()) && ok;
    ok = op.choosePort(p2pAir, lossyAirborne->portPath()) && ok;
    ok = op.testLink(NetModeP2P, QStringLiteral("17-link-running-lossy"), 3000) && ok;
    op.save(QStringLiteral("18-link-fails"));

    ok = op.choosePort(p2pGround, ground->portPath()) && ok;
    ok = op.choosePort(p2pAir, airborne->portPath()) && ok;

    // Star: the same two radios, the airborne one as number 5.
    ok = op.click(&window, "btnStar") && ok;
    Operator::settle();
    KcRadioConfigItemForm *starGround = op.panel(NetModeStar, Ground);
    KcRadioConfigItemForm *starAir = op.panel(NetModeStar, Airborne);
    ok = op.configure(starGround) && ok;
    ok = op.choosePort(starAir, airborne->portPath()) && ok;
    if (auto *index = Operator::child<QComboBox>(starAir, "cmbAirborneIndex"))
        index->setCurrentText(QStringLiteral("5"));
    ok = op.configure(starAir, QStringLiteral("05-star-airborne-setting")) && ok;
    op.save(QStringLiteral("06-star-ok"));
    ok = Operator::expectTip(starGround, Panel, "LabRadioSetSuccessful") && ok;
    ok = Operator::expectTip(starAir, Panel, "LabRadioSetSuccessful") && ok;

    // Back to P2P: read the ground radio's ID and rate.
    ok = op.click(&window, "btnP2P") && ok;
    Operator::settle();
    ok = op.read(p2pGround) && ok;
    op.save(QStringLiteral("07-read"));
    ok = Operator::expectTip(p2pGround, Reader, "MsgRadioIDReadSuccessfully") && ok;

    // A radio that never answers the escape: the entry attempts run out,
    // for a configuration and for a read.
    ok = op.choosePort(p2pGround, silent->portPath()) && ok;
    ok = op.configure(p2pGround) && ok;
    op.save(QStringLiteral("08-entry-failure"));
    ok = Operator::expectTip(p2pGround, Panel, "MsgDatalinkEnterCmdModeFailed") && ok;
    ok = op.read(p2pGround) && ok;
    op.save(QStringLiteral("09-read-failure"));
    ok = Operator::expectTip(p2pGround, Reader, "MsgEnterCmdModeFailed") && ok;

    // A radio ID beyond 32 bits is refused before any command is sent.
    ok = op.choosePort(p2pGround, ground->portPath()) && ok;
    auto *idEdit = Operator::child<QLineEdit>(p2pGround, "leRadioID");
    const QString goodId = idEdit ? idEdit->text() : QString();
    if (idEdit)
        idEdit->setText(QStringLiteral("4294967296"));
    ok = op.configure(p2pGround) && ok;
    op.save(QStringLiteral("10-id-refused"));
    ok = Operator::expectTip(p2pGround, Panel, "LabIdExceeded") && ok;
    if (idEdit)
        idEdit->setText(goodId);

    // A port that vanished after the search: the open fails with a box, and
    // a read on it reports the failure in the tip line.
    pulled->unplug();
    ok = op.choosePort(p2pGround, pulledPath) && ok;
    ok = op.click(p2pGround, "btnConfig") && ok;
    ok = op.saveWithMessageBox(QStringLiteral("11-open-failure")) && ok;
    ok = op.read(p2pGround) && ok;
    op.save(QStringLiteral("12-read-open-failure"));
    ok = Operator::expectTip(p2pGround, Reader, "MsgSerialPortOpenFailed") && ok;

    // A radio that refuses to store, and one pulled out in the middle of the
    // run: the reason line says which command failed and how, or that the
    // port went away.
    ok = op.choosePort(p2pGround, refusing->portPath()) && ok;
    ok = op.configure(p2pGround) && ok;
    op.save(QStringLiteral("13-refused"));
    ok = Operator::expectTip(p2pGround, Panel, "LabRadioConfigFail") && ok;
    ok = op.choosePort(p2pGround, unplugged->portPath()) && ok;
    ok = op.configure(p2pGround) && ok;
    op.save(QStringLiteral("14-port-lost"));
    ok = Operator::expectTip(p2pGround, Panel, "LabRadioConfigFail") && ok;

    out() << (ok ? "all scenes done\n" : "some scenes failed\n");
    out().flush();
    return ok ? 0 : 1;
}

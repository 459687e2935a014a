#include "configharness.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>

namespace ConfigHarness {

void recordSignals(KcRadioConfigItemForm *panel, QStringList *log)
{
    QObject::connect(panel, &KcRadioConfigItemForm::sigRadioStartConfig,
                     [log]() { log->append(QStringLiteral("start")); });
    QObject::connect(panel, &KcRadioConfigItemForm::sigRadioEndConfig,
                     [log]() { log->append(QStringLiteral("end")); });
    QObject::connect(panel, &KcRadioConfigItemForm::sigGrdRadioConfigComplete, [log](bool ok) {
        log->append(ok ? QStringLiteral("grd:true") : QStringLiteral("grd:false"));
    });
    QObject::connect(panel, &KcRadioConfigItemForm::sigAirRadioConfigComplete, [log](bool ok) {
        log->append(ok ? QStringLiteral("air:true") : QStringLiteral("air:false"));
    });
}

QWidget *pairForm(MainWindow &window, int netMode)
{
    auto *stack = window.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    return stack ? stack->widget(netMode) : nullptr;
}

KcRadioConfigItemForm *panel(MainWindow &window, int netMode, int role)
{
    QWidget *form = pairForm(window, netMode);
    if (!form)
        return nullptr;
    return form->findChild<KcRadioConfigItemForm *>(role == 0 ? QStringLiteral("wgtGrdRadio")
                                                              : QStringLiteral("wgtAirRadio"));
}

QLabel *arrow(MainWindow &window, int netMode)
{
    QWidget *form = pairForm(window, netMode);
    return form ? form->findChild<QLabel *>(QStringLiteral("labArrow")) : nullptr;
}

QStringList understoodCommands(const VirtualRadio &radio)
{
    QStringList commands;
    for (const VirtualRadio::Received &received : radio.transcript())
        if (received.understood)
            commands << QString::fromLatin1(received.bytes).remove(QLatin1Char('\r'));
    return commands;
}

void offerPorts(const QStringList &names)
{
    KcRadioConfigItemForm::setPortLister([names]() {
        QList<KcPortEntry> ports;
        for (const QString &name : names)
            ports.append({name, false});
        return ports;
    });
}

bool configure(KcRadioConfigItemForm *panel, QStringList *log)
{
    const int endsBefore = log->count(QStringLiteral("end"));
    auto *button = panel->findChild<QPushButton *>(QStringLiteral("btnConfig"));
    if (!button || !button->isEnabled() || !panel->isEnabled())
        return false;
    button->click();
    return VirtualClock::install().runUntil(
        [&]() { return log->count(QStringLiteral("end")) > endsBefore; });
}

QList<KcFleetRecordEntry> windowRecordLines()
{
    QFile record(qEnvironmentVariable("KC_WINDOW_RECORD"));
    return KcFleetRecord::parse(record.open(QIODevice::ReadOnly) ? record.readAll() : "").entries;
}

QString tipOf(KcRadioConfigItemForm *panel)
{
    return child<QLabel>(panel, "labTipInfo")->text();
}

QString idOf(KcRadioConfigItemForm *panel)
{
    return child<QLineEdit>(panel, "leRadioID")->text();
}

QMessageBox *openMessageBox()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
            return box;
    return nullptr;
}

QList<QByteArray> escapes(int count)
{
    QList<QByteArray> list;
    for (int i = 0; i < count; ++i)
        list << QByteArray("+++");
    return list;
}

int enabledSelectionControls(MainWindow &window)
{
    const QStringList names{QStringLiteral("labRadioType"), QStringLiteral("cmbDLType"),
                            QStringLiteral("btnP2P"), QStringLiteral("btnStar")};
    int enabled = 0;
    for (const QString &name : names) {
        auto *widget = window.findChild<QWidget *>(name);
        if (widget && widget->isEnabled())
            ++enabled;
    }
    return enabled;
}

} // namespace ConfigHarness

WindowRig::WindowRig(const QList<VirtualRadio::Options> &radios, const QStringList &otherPorts)
    : mClock(VirtualClock::install())
{
    QStringList ports;
    for (const VirtualRadio::Options &options : radios) {
        mRadios.push_back(std::make_unique<VirtualRadio>(options));
        mReady = mRadios.back()->start() && mReady;
        ports << mRadios.back()->portPath();
    }
    ConfigHarness::offerPorts(ports + otherPorts);
    mWindow = std::make_unique<MainWindow>();
    for (int netMode = 0; netMode < 2; ++netMode)
        for (int role = 0; role < 2; ++role)
            ConfigHarness::recordSignals(panel(netMode, role), &log(netMode, role));
}

WindowRig::~WindowRig()
{
    mWindow.reset();
    // The ports the panels released go now, while their radios still exist.
    VirtualClock::settle();
    // Nothing a later test builds may reach the machine's own ports.
    ConfigHarness::offerPorts({});
}

KcRadioConfigItemForm *WindowRig::panel(int netMode, int role) const
{
    return ConfigHarness::panel(*mWindow, netMode, role);
}

bool WindowRig::configure(int netMode, int role)
{
    return ConfigHarness::configure(panel(netMode, role), &log(netMode, role));
}

#include "kcradioconfigform.h"
#include "ui_kcradioconfigform.h"

#include "kclinkview.h"

#include <QLabel>

namespace {
// Blue arrow while the airborne side may be configured, grey otherwise.
const char ArrowStyle[] = "QLabel{border-image:url(:/images/arrow_blue.png);}"
                          "QLabel:disabled{border-image:url(:/images/arrow_gray.png);}";

// Keeps room for two lines in a panel's tip line and in the reason line
// below it, so that neither a tip nor a reason makes the window jump. The
// lines are measured in the language shown (the panel's title, twice):
// Chinese letters come from a font with taller lines than Latin ones.
void reserveTipLines(KcRadioConfigItemForm *panel)
{
    auto *title = panel->findChild<QLabel *>(QStringLiteral("labTitle"));
    if (!title)
        return;
    const QString sample = title->text() + QLatin1Char('\n') + title->text();
    for (const QString &name : {QStringLiteral("labTipInfo"), QStringLiteral("labReason")}) {
        auto *label = panel->findChild<QLabel *>(name);
        if (!label)
            continue;
        const QRect lines = label->fontMetrics().boundingRect(QRect(0, 0, QWIDGETSIZE_MAX, 0),
                                                              Qt::AlignCenter, sample);
        label->setMinimumHeight(lines.height());
    }
}
} // namespace

KcRadioConfigForm::KcRadioConfigForm(QWidget *parent)
    : QWidget(parent), ui(new Ui::KcRadioConfigForm)
{
    ui->setupUi(this);
    ui->labArrow->setStyleSheet(QString::fromLatin1(ArrowStyle));

    reserveTipLines(ui->wgtGrdRadio);
    reserveTipLines(ui->wgtAirRadio);

    // The airborne radio waits for a successful ground configuration.
    ui->wgtAirRadio->setEnabled(false);
    ui->labArrow->setEnabled(false);

    KcRadioConfigItemForm *grd = ui->wgtGrdRadio;
    KcRadioConfigItemForm *air = ui->wgtAirRadio;
    // Only the ground panel hands its radio ID and baud rate over.
    connect(grd, &KcRadioConfigItemForm::sigGrdRadioIDChanged, air,
            &KcRadioConfigItemForm::onGrdRadioIDChanged);
    connect(grd, &KcRadioConfigItemForm::sigGrdRadioBaudRateChanged, air,
            &KcRadioConfigItemForm::onGrdRadioBaudRateChanged);
    connect(grd, &KcRadioConfigItemForm::sigGrdRadioConfigComplete, this,
            &KcRadioConfigForm::onGrdRadioConfigComplete);
    connect(air, &KcRadioConfigItemForm::sigAirRadioConfigComplete, this,
            &KcRadioConfigForm::onAirRadioConfigComplete);
    // The relays come before onRadioConfigStart, so the main window locks its
    // selection before the panels are disabled here.
    connect(grd, &KcRadioConfigItemForm::sigRadioStartConfig, this,
            &KcRadioConfigForm::sigRadioStartConfig);
    connect(grd, &KcRadioConfigItemForm::sigRadioEndConfig, this,
            &KcRadioConfigForm::sigRadioEndConfig);
    connect(air, &KcRadioConfigItemForm::sigRadioStartConfig, this,
            &KcRadioConfigForm::sigRadioStartConfig);
    connect(air, &KcRadioConfigItemForm::sigRadioEndConfig, this,
            &KcRadioConfigForm::sigRadioEndConfig);
    connect(grd, &KcRadioConfigItemForm::sigRadioStartConfig, this,
            &KcRadioConfigForm::onRadioConfigStart);
    connect(air, &KcRadioConfigItemForm::sigRadioStartConfig, this,
            &KcRadioConfigForm::onRadioConfigStart);

    KcLinkView *link = ui->wgtLinkView;
    for (KcRadioConfigItemForm *panel : {grd, air}) {
        connect(panel, &KcRadioConfigItemForm::sigPortChosen, this,
                &KcRadioConfigForm::updateLinkPorts);
        // A panel's run takes the last link result away and holds the test
        // until both panels have given their ports up.
        auto holdTest = [link]() {
            link->clearResult();
            link->setAllowed(false);
        };
        connect(panel, &KcRadioConfigItemForm::sigRadioStartConfig, link, holdTest);
        connect(panel, &KcRadioConfigItemForm::sigRunStarted, link, holdTest);
        connect(panel, &KcRadioConfigItemForm::sigRadioEndConfig, this,
                &KcRadioConfigForm::updateLinkAllowed);
        connect(panel, &KcRadioConfigItemForm::sigPortsReleased, this,
                &KcRadioConfigForm::updateLinkAllowed);
    }
    connect(link, &KcLinkView::sigLinkTestStarted, this, &KcRadioConfigForm::onLinkTestStarted);
    connect(link, &KcLinkView::sigLinkTestEnded, this, &KcRadioConfigForm::onLinkTestEnded);
    updateLinkPorts();
}

KcLinkView *KcRadioConfigForm::linkView() const
{
    return ui->wgtLinkView;
}

void KcRadioConfigForm::updateLinkPorts()
{
    ui->wgtLinkView->setPorts(ui->wgtGrdRadio->selectedPortName(),
                              ui->wgtAirRadio->selectedPortName());
}

void KcRadioConfigForm::updateLinkAllowed()
{
    ui->wgtLinkView->setAllowed(!ui->wgtGrdRadio->isWorking() && !ui->wgtAirRadio->isWorking());
}

void KcRadioConfigForm::onLinkTestStarted()
{
    // The main window locks its selection first, as for a panel's run.
    emit sigRadioStartConfig();
    mGrdEnabled = ui->wgtGrdRadio->isEnabled();
    mAirEnabled = ui->wgtAirRadio->isEnabled();
    mArrowEnabled = ui->labArrow->isEnabled();
    ui->wgtGrdRadio->setEnabled(false);
    ui->wgtAirRadio->setEnabled(false);
}

void KcRadioConfigForm::onLinkTestEnded()
{
    ui->wgtGrdRadio->setEnabled(mGrdEnabled);
    ui->wgtAirRadio->setEnabled(mAirEnabled);
    ui->labArrow->setEnabled(mArrowEnabled);
    emit sigRadioEndConfig();
}

KcRadioConfigForm::~KcRadioConfigForm()
{
    delete ui;
}

void KcRadioConfigForm::setupPanels(int radioType, int netMode)
{
    // The connections exist already, so the ID that the ground panel
    // generates here reaches the airborne panel at once.
    ui->wgtGrdRadio->setupRole(radioType, netMode, 0);
    ui->wgtAirRadio->setupRole(radioType, netMode, 1);
    updateLinkPorts();
}

void KcRadioConfigForm::setRadioType(int radioType)
{
    ui->wgtGrdRadio->setRadioType(radioType);
    ui->wgtAirRadio->setRadioType(radioType);
}

void KcRadioConfigForm::onRadioConfigStart()
{
    ui->wgtGrdRadio->setEnabled(false);
    ui->wgtAirRadio->setEnabled(false);
}

void KcRadioConfigForm::onGrdRadioConfigComplete(bool ok)
{
    // The ground panel has enabled itself already.
    ui->labArrow->setEnabled(ok);
    ui->wgtAirRadio->setEnabled(ok);
}

void KcRadioConfigForm::onAirRadioConfigComplete(bool ok)
{
    // The pair is configured: the link view asks for its test.
    if (ok)
        ui->wgtLinkView->invite();
    ui->labArrow->setEnabled(true);
    ui->wgtGrdRadio->setEnabled(true);
    ui->wgtAirRadio->setEnabled(true);
}

#include "kcradioconfigitemform.h"
#include "ui_kcradioconfigitemform.h"

#include "kcconfigsequence.h"
#include "kcenterclicks.h"
#include "kclogging.h"
#include "kcportlist.h"
#include "kcportprefetch.h"
#include "kcportwatch.h"
#include "kcradiocommandlink.h"
#include "kcradioeraser.h"
#include "kcradioid.h"
#include "kcradioparamreader.h"
#include "kcradioprotocol.h"
#include "kcradiotimer.h"
#include "kcradiotiming.h"
#include "kcserialports.h"
#include "kctranscript.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>

#include <memory>

namespace {

using namespace KcRadioProtocol;

enum ConfigKind
{
    P2PGround = 0,
    P2PAirborne = 1,
    StarGround = 2,
    StarAirborne = 3
};

KcRadioConfigItemForm::PortLister &portLister()
{
    static KcRadioConfigItemForm::PortLister lister = &KcRadioConfigItemForm::systemPorts;
    return lister;
}

// Whether the lister is the system's, whose answer changes only with the
// system's change stamp.
bool &listsSystemPorts()
{
    static bool system = true;
    return system;
}

// The four panels of the main window are set up one after the other before
// control first returns to the event loop: one port enumeration serves them
// all instead of one each (an enumeration costs about 15 ms). The window may
// have started it on a worker thread beforehand. The list expires when
// control returns to the event loop and whenever the lister is replaced; the
// Search button always enumerates afresh.
struct SetupPortList
{
    QList<KcPortEntry> ports;
    bool valid = false;
    std::unique_ptr<KcPortPrefetch> prefetch;
};

SetupPortList &setupPortList()
{
    static SetupPortList list;
    return list;
}

QList<KcPortEntry> portsForSetup()
{
    SetupPortList &list = setupPortList();
    if (!list.valid) {
        if (list.prefetch) {
            list.ports = list.prefetch->result();
            list.prefetch.reset();
        } else {
            list.ports = portLister()();
        }
        list.valid = true;
        QTimer::singleShot(0, []() { setupPortList().valid = false; });
    }
    return list.ports;
}

// Linux grants serial ports to the members of the dialout group; the advice
// to join it is given there only.
#ifdef Q_OS_LINUX
constexpr bool AdviseDialoutGroup = true;
#else
constexpr bool AdviseDialoutGroup = false;
#endif

bool baudRateRowApplies(int radioType)
{
    return radioType == MR300 || radioType == MR300S;
}

} // namespace

KcRadioConfigItemForm::KcRadioConfigItemForm(QWidget *parent)
    : QWidget(parent), ui(new Ui::KcRadioConfigItemForm),
      mLink(new KcRadioCommandLink(KcLinkProfile::panel(), this)), mReport(new KcRunReport(this))
{
    ui->setupUi(this);
    connect(mReport, &KcRunReport::progressChanged, this, &KcRadioConfigItemForm::showProgress);
    connect(mReport, &KcRunReport::ended, ui->labReason, &QLabel::setText);
    mPortList = new KcPortList(
        ui->cmbSerialPort, [this](const KcPortEntry &port) { return portToolTip(port); },
        [this]() { return isPortListHeld(); }, this);
    connect(portWatch(), &KcPortWatch::listed, mPortList, &KcPortList::follow);
    portWatch()->addFollower(this);
    KcEnterClicks::install(this, findChildren<QAbstractButton *>());

    // The panel's port is the one selected in its list, read at every open;
    // an empty list fails the open without a report.
    mLink->setPortNameSource([this]() -> std::optional<QString> {
        if (ui->cmbSerialPort->count() == 0)
            return std::nullopt;
        return mPortList->selectedName();
    });
    connect(mLink, &KcRadioCommandLink::commandModeEntered, this,
            &KcRadioConfigItemForm::onCommandModeEntered);
    connect(mLink, &KcRadioCommandLink::gaveUp, this, &KcRadioConfigItemForm::onCommandModeGivenUp);
    connect(mLink, &KcRadioCommandLink::openFailed, this, &KcRadioConfigItemForm::onOpenFailed);
    // A panel that gives up sends the radio back to data mode before the
    // port goes: an escape it took without a word must not leave it in
    // command mode.
    mLink->setReleasesOnGivingUp(true);
    mReport->watch(mLink);
    KcLinkTranscript::follow(mLink);
    connect(mLink, &KcRadioCommandLink::portReleased, this, &KcRadioConfigItemForm::onLinkReleased);
    connect(mLink, &KcRadioCommandLink::portLost, this, &KcRadioConfigItemForm::onPortLost);

    // The closed port list shows the chosen port's details on hover too.
    connect(ui->cmbSerialPort, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this](int index) {
                ui->cmbSerialPort->setToolTip(
                    ui->cmbSerialPort->itemData(index, Qt::ToolTipRole).toString());
                emit sigPortChosen();
            });
    connect(ui->leRadioID, &QLineEdit::textChanged, this,
            &KcRadioConfigItemForm::sigGrdRadioIDChanged);
    connect(ui->cmbBaudRate, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &KcRadioConfigItemForm::sigGrdRadioBaudRateChanged);

    QStringList indexes;
    for (int index = 1; index <= 100; ++index)
        indexes << QString::number(index);
    ui->cmbAirborneIndex->addItems(indexes);
    // The item data is the radio's S102 code for the rate.
    ui->cmbBaudRate->addItem(QStringLiteral("9600"), 7);
    ui->cmbBaudRate->addItem(QStringLiteral("115200"), 1);
    ui->cmbBaudRate->addItem(QStringLiteral("230400"), 0);

    ui->labBaudRate->hide();
    ui->cmbBaudRate->hide();
    ui->btnQuit->hide();
    ui->btnRead->hide();
    ui->btnEarse->hide();

    // The bar keeps its room while hidden, so that neither the panel nor the
    // window moves when a run shows it.
    QSizePolicy barPolicy = ui->barProgress->sizePolicy();
    barPolicy.setRetainSizeWhenHidden(true);
    ui->barProgress->setSizePolicy(barPolicy);
    ui->barProgress->hide();
}

KcRadioConfigItemForm::~KcRadioConfigItemForm()
{
    delete ui;
}

void KcRadioConfigItemForm::setPortLister(PortLister lister)
{
    listsSystemPorts() = !lister;
    portLister() = lister ? std::move(lister) : PortLister(&KcRadioConfigItemForm::systemPorts);
    setupPortList().valid = false;
    setupPortList().prefetch.reset();
}

void KcRadioConfigItemForm::prefetchPorts()
{
    // Only the system's lister runs on the worker thread; any other lister
    // (a test's) is asked on the GUI thread when the panels need it.
    SetupPortList &list = setupPortList();
    if (!listsSystemPorts() || list.valid || list.prefetch)
        return;
    list.prefetch = std::make_unique<KcPortPrefetch>(&KcRadioConfigItemForm::systemPorts);
    list.prefetch->start();
}

QList<KcPortEntry> KcRadioConfigItemForm::systemPorts()
{
    QList<KcPortEntry> ports;
    for (const KcSerialPorts::Port &port : KcSerialPorts::list())
        ports.append(
            {port.name, port.busy, port.description, port.manufacturer, port.serialNumber, true});
    return ports;
}

KcPortWatch *KcRadioConfigItemForm::portWatch()
{
    // Lives as long as the application; follows whatever lister is set.
    static QPointer<KcPortWatch> watch;
    if (!watch)
        watch = new KcPortWatch([]() { return portLister()(); },
                                [](const QStringList &names) {
                                    return listsSystemPorts() ? KcSerialPorts::changeStamp(names)
                                                              : QByteArray();
                                },
                                QCoreApplication::instance());
    return watch;
}

void KcRadioConfigItemForm::setupRole(int radioType, int netMode, int role)
{
    mRadioType = radioType;
    mNetMode = netMode;
    mRadioRole = role;
    mConfigKind = netMode * 2 + role;

    const bool ground = role == Ground;
    if (netMode == P2P || ground) {
        ui->labAirborneIndex->hide();
        ui->cmbAirborneIndex->hide();
    }
    if (!ground) {
        ui->leRadioID->hide();
        ui->btnGenerateRadioID->hide();
    }
    if (netMode == P2P && ground) {
        ui->labBaudRate->setVisible(baudRateRowApplies(radioType));
        ui->cmbBaudRate->setVisible(baudRateRowApplies(radioType));
        ui->btnRead->show();
    }
    ui->labTitle->setText(ground ? tr("LabRadioOfGround") : tr("LabRadioOfAirborne"));
    if (ground)
        on_btnGenerateRadioID_clicked();

    adjustSize();
    fillPortList(portsForSetup());
}

void KcRadioConfigItemForm::setRadioType(int radioType)
{
    mRadioType = radioType;
    ui->labBaudRate->setVisible(baudRateRowApplies(radioType));
    ui->cmbBaudRate->setVisible(baudRateRowApplies(radioType));
}

void KcRadioConfigItemForm::searchPorts()
{
    fillPortList(portLister()());
}

void KcRadioConfigItemForm::fillPortList(const QList<KcPortEntry> &ports)
{
    mPortList->rebuild(ports);
}

// While the panel works on a radio (or waits for one), its port stays put.
bool KcRadioConfigItemForm::isPortListHeld() const
{
    return mReport->isRunning() || mAwaitedRelease || !isEnabled();
}

QString KcRadioConfigItemForm::portToolTip(const KcPortEntry &port) const
{
    QStringList lines;
    if (!port.description.isEmpty())
        lines << tr("LabPortDescription").arg(port.description);
    if (!port.manufacturer.isEmpty())
        lines << tr("LabPortManufacturer").arg(port.manufacturer);
    if (!port.serialNumber.isEmpty())
        lines << tr("LabPortSerialNumber").arg(port.serialNumber);
    return lines.join(QLatin1Char('\n'));
}

void KcRadioConfigItemForm::on_btnSearch_clicked()
{
    searchPorts();
}

// --- Radio ID ---------------------------------------------------------------

void KcRadioConfigItemForm::on_btnGenerateRadioID_clicked()
{
    // Never an ID that the record holds for a radio configured before.
    const QSet<quint64> taken = KcWindowRecord::recordedIds();
    auto seed = quint32(QDateTime::currentMSecsSinceEpoch() & 0xffffffffULL);
    quint64 id = KcRadioId::generate(seed);
    while (taken.contains(id))
        id = KcRadioId::generate(++seed);
    ui->leRadioID->setText(QString::number(id));
}

void KcRadioConfigItemForm::onGrdRadioIDChanged(QString idStr)
{
    ui->leRadioID->setText(idStr);
    qCDebug(kcPanelLog) << "KcRadioConfigItemForm::onGrdRadioIDChanged" << mRadioType << mNetMode
                        << mRadioRole << idStr;
}

void KcRadioConfigItemForm::onGrdRadioBaudRateChanged(int baudRateIndex)
{
    ui->cmbBaudRate->setCurrentIndex(baudRateIndex);
}

// --- Port -------------------------------------------------------------------

bool KcRadioConfigItemForm::openSerialport()
{
    return mLink->openSerialport();
}

bool KcRadioConfigItemForm::closeSerialPort()
{
    return mLink->closeSerialPort();
}

QString KcRadioConfigItemForm::selectedPortName() const
{
    return ui->cmbSerialPort->count() == 0 ? QString() : mPortList->selectedName();
}

void KcRadioConfigItemForm::onOpenFailed(const QString &portName, const QString &reason)
{
    mOpenError = reason;
    const QString advice =
        AdviseDialoutGroup ? tr("MsgOpenSerialPortFail") : tr("MsgOpenSerialPortFailGeneral");
    const QString text = QStringLiteral("%1 [%2]").arg(advice, portName);
    // One box per panel: a port that keeps failing updates the box instead
    // of stacking new ones. The box stays above the window without blocking
    // it: a modal box would make the window ignore a close from the window
    // manager (and the radio timers keep time either way).
    if (!mOpenFailureBox) {
        mOpenFailureBox =
            new QMessageBox(QMessageBox::Critical, tr("MsgError"), text, QMessageBox::Ok, window());
        mOpenFailureBox->setAttribute(Qt::WA_DeleteOnClose);
        mOpenFailureBox->setWindowModality(Qt::NonModal);
        mOpenFailureBox->show();
    }
    mOpenFailureBox->setText(text);
    // The system's own words: permission denied, busy, no such device.
    mOpenFailureBox->setInformativeText(reason);
}

// --- Configuration ----------------------------------------------------------

void KcRadioConfigItemForm::on_btnConfig_clicked()
{
    ui->labReason->clear();
    emit sigRadioStartConfig();
    bool goesOn = false;
    if (mConfigKind >= P2PGround && mConfigKind <= StarAirborne && prepareConfig()) {
        ensureSequenceTimer(mConfigKind);
        startRun(KcRunReport::Kind::Config, mLink,
                 int(KcConfigSequence::commands(mRunSettings).size()) + 1);
        startCmdModeTimer();
        goesOn = true;
    }
    qCDebug(kcPanelLog) << "kcradioconfigitemform" << __LINE__
                        << "KcRadioConfigItemForm::on_btnConfig_clicked" << goesOn;
}

bool KcRadioConfigItemForm::prepareConfig()
{
    mOpenError.clear();
    if (!openSerialport()) {
        endConfigRefused();
        // The system's words go to the record; an empty list names no port.
        KcRunReason reason;
        if (!mOpenError.isEmpty()) {
            reason.cause = KcRunReason::Cause::PortFailed;
            reason.port = mLink->portName();
            reason.systemError = mOpenError;
        }
        mRecord.begin();
        mReport->end(reason);
        recordRun(QStringLiteral("port-failed"), ui->leRadioID->text().trimmed());
        return false;
    }
    const std::optional<QString> digits = KcRadioId::acceptedDigits(ui->leRadioID->text());
    if (!digits) {
        ui->labTipInfo->setText(tr("LabIdExceeded"));
        closeSerialPort();
        endConfigRefused();
        return false;
    }
    mRunSettings.radioType = mRadioType;
    mRunSettings.netMode = mNetMode;
    mRunSettings.role = mRadioRole;
    mRunSettings.baudRateCode = ui->cmbBaudRate->currentData().toInt();
    mRunSettings.radioId = *digits;
    mRunSettings.airborneIndex = ui->cmbAirborneIndex->currentText().toInt();
    ui->labTipInfo->setText(tr("LabSetting"));
    setEnabled(false);
    return true;
}

void KcRadioConfigItemForm::endConfigRefused()
{
    emit sigRadioEndConfig();
    setEnabled(true);
    emitVerdict(false);
}

void KcRadioConfigItemForm::emitVerdict(bool ok)
{
    if (mRadioRole == Ground)
        emit sigGrdRadioConfigComplete(ok);
    else
        emit sigAirRadioConfigComplete(ok);
}

void KcRadioConfigItemForm::startCmdModeTimer()
{
    mLink->startCommandModeEntry();
}

void KcRadioConfigItemForm::onCommandModeEntered()
{
    qCDebug(kcPanelLog) << "kcradioconfigitemform" << __LINE__
                        << "KcRadioConfigItemForm::onSerialReadyRead"
                        << "change cmd send time";
    // Every chunk that arrives before the first command restarts the wait, so
    // the first command follows the radio's last word by a full interval.
    ensureSequenceTimer(mConfigKind)->start(KcRadioTiming::commandIntervalMs());
}

void KcRadioConfigItemForm::onCommandModeGivenUp()
{
    ui->labTipInfo->setText(tr("MsgDatalinkEnterCmdModeFailed"));
    const KcRunReason reason = mReport->escapeReason();
    if (endsAfterReturn(mLink, tr("MsgDatalinkEnterCmdModeFailed"), QStringLiteral("silent"),
                        mRunSettings.radioId, reason, [this]() { emit sigRadioEndConfig(); }))
        return;
    setEnabled(true);
    endRun(reason);
    recordRun(QStringLiteral("silent"), mRunSettings.radioId);
    emit sigRadioEndConfig();
}

bool KcRadioConfigItemForm::endsAfterReturn(KcRadioCommandLink *link, const QString &tip,
                                            const QString &outcome, const QString &id,
                                            const KcRunReason &reason, std::function<void()> then)
{
    if (!link->isPortOpen() || link->inCommandMode() || link->isReleasing())
        return false;
    ui->labTipInfo->setText(tip);
    ui->labReason->setText(KcRunReport::text(reason));
    afterRelease(link, [this, outcome, id, reason, then]() {
        endReturnedRun(outcome, id, reason);
        setEnabled(true);
        if (then)
            then();
    });
    return true;
}

void KcRadioConfigItemForm::afterRelease(KcRadioCommandLink *link,
                                         std::function<void()> whenReleased)
{
    mAwaitedRelease = link;
    mAfterRelease = std::move(whenReleased);
    mReport->showReturning();
}

// A run whose radio went back to data mode at the end: the closing "ATA"s
// tell whether it had been in command mode, and the rate it answered at.
void KcRadioConfigItemForm::endReturnedRun(const QString &outcome, const QString &id,
                                           KcRunReason reason)
{
    reason.backFromCommandMode = mAwaitedRelease && mAwaitedRelease->backFromCommandMode();
    endRun(reason);
    recordRun(outcome, id);
}

KcRadioTimer *KcRadioConfigItemForm::sequenceTimer(int kind) const
{
    switch (kind) {
    case P2PGround:
        return mP2PGrdSendTimer;
    case P2PAirborne:
        return mP2PAirSendTimer;
    case StarGround:
        return mStarGrdSendTimer;
    case StarAirborne:
        return mStarAirSendTimer;
    default:
        return nullptr;
    }
}

KcRadioTimer *KcRadioConfigItemForm::ensureSequenceTimer(int kind)
{
    if (KcRadioTimer *timer = sequenceTimer(kind))
        return timer;
    auto *timer = new KcRadioTimer(this);
    switch (kind) {
    case P2PGround:
        connect(timer, &KcRadioTimer::timeout, this, &KcRadioConfigItemForm::onP2PGrdSendTimeout);
        mP2PGrdSendTimer = timer;
        break;
    case P2PAirborne:
        connect(timer, &KcRadioTimer::timeout, this, &KcRadioConfigItemForm::onP2PAirSendTimeout);
        mP2PAirSendTimer = timer;
        break;
    case StarGround:
        connect(timer, &KcRadioTimer::timeout, this, &KcRadioConfigItemForm::onStarGrdSendTimeout);
        mStarGrdSendTimer = timer;
        break;
    default:
        connect(timer, &KcRadioTimer::timeout, this, &KcRadioConfigItemForm::onStarAirSendTimeout);
        mStarAirSendTimer = timer;
        break;
    }
    return timer;
}

void KcRadioConfigItemForm::onP2PGrdSendTimeout()
{
    runSequenceStep(P2PGround);
}
void KcRadioConfigItemForm::onP2PAirSendTimeout()
{
    runSequenceStep(P2PAirborne);
}
void KcRadioConfigItemForm::onStarGrdSendTimeout()
{
    runSequenceStep(StarGround);
}
void KcRadioConfigItemForm::onStarAirSendTimeout()
{
    runSequenceStep(StarAirborne);
}

void KcRadioConfigItemForm::runSequenceStep(int kind)
{
    const int step = mLink->sendStep();
    const std::optional<QString> command = KcConfigSequence::commandForStep(mRunSettings, step);
    if (!command) {
        finishSequence(kind);
        return;
    }
    mLink->setSendStep(step + 1);
    mLink->writeCommand(*command);
}

void KcRadioConfigItemForm::finishSequence(int kind)
{
    mLink->setLastCmd(QString());
    mLink->setSendStep(0);
    sequenceTimer(kind)->stop();

    const int okInBuffer = mLink->recvBuffer().count(OkToken);
    setEnabled(true);
    qCDebug(kcPanelLog) << "mOKCount:" << mLink->okCount() << "count:" << okInBuffer;

    // Every command must have been acknowledged on its own; counting replies
    // would let an echo or a stray "OK" pass a refused configuration.
    const KcCommandVerdict verdict =
        KcConfigSequence::judge(KcConfigSequence::commands(mRunSettings), mLink->replies());
    if (verdict.ok) {
        ui->labTipInfo->setText(tr("LabRadioSetSuccessful"));
        emitVerdict(true);
    } else {
        qCDebug(kcPanelLog) << "KcRadioConfigItemForm::finishSequence"
                            << qPrintable(verdict.describe());
        emitVerdict(false);
        setEnabled(true);
        ui->labTipInfo->setText(tr("LabRadioConfigFail"));
    }
    endRun(verdict.ok ? KcRunReason() : mReport->verdictReason(verdict));
    recordRun(verdict.ok ? QStringLiteral("configured") : KcRunReport::verdictOutcome(verdict),
              mRunSettings.radioId);

    mLink->clearRecvBuffer();
    mLink->resetReplies();
    mLink->resetOkCount();
    // "ATA" has left before the port closes and restores its line settings.
    mLink->releasePort();
    emit sigRadioEndConfig();
}

// --- Leaving command mode ---------------------------------------------------

void KcRadioConfigItemForm::on_btnQuit_clicked()
{
    if (!openSerialport())
        return;
    setEnabled(false);
    mLink->writeCommand(QString::fromLatin1(DataModeCmd));
    KcRadioTimer::singleShot(KcRadioTiming::replyWaitMs(), this, [this]() {
        // The answer to "ATA" is nobody's business: the next configuration
        // on this panel must not be judged on it.
        mLink->setLastCmd(QString());
        mLink->clearRecvBuffer();
        mLink->resetReplies();
        closeSerialPort();
        setEnabled(true);
    });
}

// --- Read and erase ---------------------------------------------------------

void KcRadioConfigItemForm::on_btnRead_clicked()
{
    closeSerialPort();
    if (!mParamReader) {
        mParamReader = new KcRadioParamReader(this);
        connect(mParamReader, &KcRadioParamReader::sigRadioIDReady, this,
                &KcRadioConfigItemForm::onRadioIDReady);
        connect(mParamReader, &KcRadioParamReader::sigListingVerdict, mReport,
                &KcRunReport::setVerdict);
        mParamReader->link()->setReleasesOnGivingUp(true);
        // The reader reports a port that does not open on the tip line; the
        // system's words go to the record.
        connect(mParamReader->link(), &KcRadioCommandLink::openFailed, this,
                [this](const QString &, const QString &reason) { mOpenError = reason; });
        mReport->watch(mParamReader->link());
        KcLinkTranscript::follow(mParamReader->link());
        connect(mParamReader->link(), &KcRadioCommandLink::portReleased, this,
                &KcRadioConfigItemForm::onLinkReleased);
    }
    setEnabled(false);
    startRun(KcRunReport::Kind::Read, mParamReader->link(),
             KcRadioParamReader::CommandsAfterEscape + 1);
    mOpenError.clear();
    mParamReader->readRadioParam(mPortList->selectedName());
}

void KcRadioConfigItemForm::onRadioIDReady(bool isSucc, QString resultStr, QString idStr,
                                           int baudRateFlag)
{
    qCDebug(kcPanelLog) << "KcRadioConfigItemForm::onRadioIDReady" << isSucc << resultStr << idStr
                        << baudRateFlag;
    KcRunReason reason = isSucc ? KcRunReason() : mReport->failureReason();
    const QString outcome =
        isSucc ? QStringLiteral("read") : QStringLiteral("read-") + mReport->failureOutcome();
    // An empty list names no port: nothing to say beyond the tip.
    if (outcome == QLatin1String("read-port-failed") && !mOpenError.isEmpty() &&
        !mParamReader->link()->portName().isEmpty()) {
        reason.cause = KcRunReason::Cause::PortFailed;
        reason.port = mParamReader->link()->portName();
        reason.systemError = mOpenError;
    }
    if (!isSucc && endsAfterReturn(mParamReader->link(), resultStr, outcome, QString(), reason))
        return;
    setEnabled(true);
    endRun(reason);
    recordRun(outcome, isSucc ? idStr : QString());
    if (isSucc) {
        ui->leRadioID->setText(idStr);
        // Rates the list lacks leave the selection as it was.
        const int index = ui->cmbBaudRate->findText(QString::number(baudRateForCode(baudRateFlag)));
        if (index >= 0)
            ui->cmbBaudRate->setCurrentIndex(index);
    }
    ui->labTipInfo->setText(resultStr);
}

void KcRadioConfigItemForm::on_btnEarse_clicked()
{
    closeSerialPort();
    if (!mRadioEraser) {
        mRadioEraser = new KcRadioEraser(this);
        connect(mRadioEraser, &KcRadioEraser::sigEarseRadioResult, this,
                &KcRadioConfigItemForm::onEarseRadioResult);
        connect(mRadioEraser, &KcRadioEraser::sigEraseVerdict, mReport, &KcRunReport::setVerdict);
        mRadioEraser->link()->setReleasesOnGivingUp(true);
        mReport->watch(mRadioEraser->link());
        KcLinkTranscript::follow(mRadioEraser->link());
        connect(mRadioEraser->link(), &KcRadioCommandLink::portReleased, this,
                &KcRadioConfigItemForm::onLinkReleased);
    }
    setEnabled(false);
    startRun(KcRunReport::Kind::Erase, mRadioEraser->link(),
             KcRadioEraser::CommandsAfterEscape + 1);
    mRadioEraser->earseRadio(mPortList->selectedName());
}

void KcRadioConfigItemForm::onEarseRadioResult(bool isSucc)
{
    qCDebug(kcPanelLog) << "KcRadioConfigItemForm::onEarseRadioResult" << isSucc;
    const QString tip = isSucc ? tr("MsgRadioEarseSuccessfully") : tr("MsgRadioEarseFailed");
    const KcRunReason reason = isSucc ? KcRunReason() : mReport->failureReason();
    const QString outcome =
        isSucc ? QStringLiteral("erased") : QStringLiteral("erase-") + mReport->failureOutcome();
    if (!isSucc && endsAfterReturn(mRadioEraser->link(), tip, outcome, QString(), reason))
        return;
    setEnabled(true);
    endRun(reason);
    recordRun(outcome, QString());
    ui->labTipInfo->setText(tip);
}

// --- Stopping as the window closes -----------------------------------------

bool KcRadioConfigItemForm::isWorking() const
{
    if (mReport->isRunning() || mAwaitedRelease)
        return true;
    for (const KcRadioCommandLink *link : {mLink, mParamReader ? mParamReader->link() : nullptr,
                                           mRadioEraser ? mRadioEraser->link() : nullptr})
        if (link && link->isReleasing())
            return true;
    return false;
}

void KcRadioConfigItemForm::stopRun()
{
    mStopping = true;
    const KcRunReport::Kind kind = mReport->kind();
    // A run that is already sending its radio back to data mode ends by
    // itself once the port is given up.
    if (kind != KcRunReport::Kind::None && !mAwaitedRelease) {
        // The sequence's timer stops first, so that the release's "ATA" is
        // the only command still written; the last command stays known, so
        // that an escape in flight is waited out.
        if (KcRadioTimer *timer = sequenceTimer(mConfigKind))
            timer->stop();
        mLink->setSendStep(0);
        KcRadioCommandLink *link = mReport->link();
        // The run ends for good: an escape left unanswered so far may still
        // put the radio in command mode (a radio that answers late), so each
        // rate one went out at gets "ATA" too before the port is given up.
        link->setRecoversCommandMode(true);
        // kcradio records a run it was told to stop as "aborted". A radio
        // that acknowledged every command up to the final "ATA" (which the
        // release sends) holds its configuration: that is what is recorded,
        // else what the commands it acknowledged have left in it. Both are
        // judged, and the line written, once the port is given up: by then
        // every answer to a command written before has come, and an escape
        // answered late has told the rate the radio was at.
        afterRelease(link, [this, kind]() {
            if (kind != KcRunReport::Kind::Config) {
                endRun();
                recordRun((kind == KcRunReport::Kind::Read ? QStringLiteral("read-")
                                                           : QStringLiteral("erase-")) +
                              QStringLiteral("aborted"),
                          QString());
                return;
            }
            const bool stored = isConfigurationStored();
            endRun(stored ? KcRunReason() : stoppedReason());
            recordRun(stored ? QStringLiteral("configured") : QStringLiteral("aborted"),
                      mRunSettings.radioId);
        });
        ui->barProgress->hide();
        setEnabled(true);
        if (kind == KcRunReport::Kind::Config) {
            emit sigRadioEndConfig();
            mLink->releasePort();
        } else if (kind == KcRunReport::Kind::Read) {
            mParamReader->abort();
        } else {
            mRadioEraser->abort();
        }
    }
    onLinkReleased();
}

bool KcRadioConfigItemForm::isConfigurationStored() const
{
    QStringList stored = KcConfigSequence::commands(mRunSettings);
    if (!stored.isEmpty() && stored.last() == QLatin1String(DataModeCmd))
        stored.removeLast();
    return KcConfigSequence::judge(stored, mLink->replies()).ok;
}

KcRunReason KcRadioConfigItemForm::stoppedReason() const
{
    QStringList stored = KcConfigSequence::commands(mRunSettings);
    stored.removeLast(); // "ATA", which the release sends
    KcRunReason reason;
    reason.cause = KcRunReason::Cause::StoppedAfter;
    reason.command = KcConfigSequence::lastAcknowledged(stored, mLink->replies());
    return reason;
}

void KcRadioConfigItemForm::onLinkReleased()
{
    if (mAwaitedRelease && !mAwaitedRelease->isReleasing() && !mAwaitedRelease->hasPort()) {
        const std::function<void()> then = std::move(mAfterRelease);
        mAfterRelease = nullptr;
        then();
        mAwaitedRelease = nullptr;
    }
    if (!isWorking())
        emit sigPortsReleased();
    if (!mStopping || isWorking())
        return;
    mStopping = false;
    emit sigRunStopped();
}

// --- Progress and reasons ---------------------------------------------------
//
// The run's report follows the links (entry attempts, command mode, commands
// written) and turns them and the verdicts into progress and reasons; here
// they only become the bar, the reason line and the record's line.

void KcRadioConfigItemForm::startRun(KcRunReport::Kind kind, KcRadioCommandLink *link, int commands)
{
    mRecord.begin();
    ui->labReason->clear();
    mReport->start(kind, link, commands);
    ui->barProgress->show();
    emit sigRunStarted();
}

void KcRadioConfigItemForm::endRun(const KcRunReason &reason)
{
    ui->barProgress->hide();
    mReport->end(reason);
}

void KcRadioConfigItemForm::showProgress(int value, int maximum, const QString &text)
{
    QProgressBar *bar = ui->barProgress;
    bar->setRange(0, maximum);
    bar->setValue(value);
    // The bar is too slim to print its words: they are its text for
    // assistive technology.
    bar->setFormat(text);
    bar->setAccessibleDescription(text);
}

// Nothing written from now on reaches the radio: the configuration ends here
// as a failed one. (The reader and the eraser end by themselves.)
void KcRadioConfigItemForm::onPortLost(const QString &portName)
{
    // A run that is returning its radio to data mode ends (and is recorded)
    // once the release is over, which the loss cuts short.
    if (mReport->kind() != KcRunReport::Kind::Config || mAwaitedRelease)
        return;
    qCDebug(kcPanelLog) << "KcRadioConfigItemForm::onPortLost" << portName;
    mLink->stopCommandModeEntry();
    if (KcRadioTimer *timer = sequenceTimer(mConfigKind))
        timer->stop();
    mLink->setLastCmd(QString());
    mLink->setSendStep(0);

    emitVerdict(false);
    setEnabled(true);
    ui->labTipInfo->setText(tr("LabRadioConfigFail"));
    endRun(mReport->portLostReason(portName));
    recordRun(QStringLiteral("port-lost"), mRunSettings.radioId);

    mLink->clearRecvBuffer();
    mLink->resetReplies();
    mLink->resetOkCount();
    mLink->releasePort();
    emit sigRadioEndConfig();
}

void KcRadioConfigItemForm::recordRun(const QString &outcome, const QString &id)
{
    KcWindowRecordLine line;
    line.role = mRadioRole;
    const KcPortEntry port = mPortList->selectedPort();
    line.port = port.name;
    line.adapterSerial = port.serialNumber;
    line.radioType = mRadioType;
    line.netMode = mNetMode;
    line.id = id;
    line.index = mConfigKind == StarAirborne ? ui->cmbAirborneIndex->currentText().toInt() : 0;
    // The rate is known once the radio answered an escape, whether the run
    // then succeeded or not.
    line.rateFound = outcome.endsWith(QLatin1String("port-failed")) ? 0 : mReport->rateFound();
    line.rateSet = outcome == QLatin1String("configured") ? mRunSettings.serialRate()
                   : outcome == QLatin1String("erased")   ? 9600
                                                          : 0;
    line.outcome = outcome;
    // Scripts read one language: the record keeps kcradio's English words.
    line.reason = mReport->reason().englishText();
    QString error;
    // The radio work is done and told; a record that cannot be written is
    // said once on the reason line and never stops the window.
    if (!mRecord.append(line, &error) && KcWindowRecord::isFirstFailure()) {
        const QString note = tr("LabRecordUnwritable").arg(error);
        const QString shown = ui->labReason->text();
        ui->labReason->setText(shown.isEmpty() ? note : shown + QLatin1Char('\n') + note);
    }
}

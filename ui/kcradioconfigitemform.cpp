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

// Fills the numbered places of a translated text. A key that has no
// translation has no places and is shown as it stands.
template <typename... Values> QString filled(const QString &text, const Values &...values)
{
    return text.contains(QLatin1Char('%')) ? text.arg(values...) : text;
}

int wholeSeconds(int ms)
{
    return (ms + 999) / 1000;
}

} // namespace

KcRadioConfigItemForm::KcRadioConfigItemForm(QWidget *parent)
    : QWidget(parent), ui(new Ui::KcRadioConfigItemForm),
      mLink(new KcRadioCommandLink(KcLinkProfile::panel(), this))
{
    ui->setupUi(this);
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
    watchRunLink(mLink);
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
    const QStringList extras = KcSerialPorts::extraPaths();
    QList<KcPortEntry> ports;
    for (const KcSerialPorts::Port &port : KcSerialPorts::list())
        ports.append({port.name, port.busy, port.description, port.manufacturer, port.serialNumber,
                      !extras.contains(port.name)});
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
    return mRun.kind != RunKind::None || !isEnabled();
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
    const QString advice =
        AdviseDialoutGroup ? tr("MsgOpenSerialPortFail") : tr("MsgOpenSerialPortFailGeneral");
    const QString text = QStringLiteral("%1 [%2]").arg(advice, portName);
    // One box per panel: a port that keeps failing during the entry attempts
    // updates the box instead of stacking new ones. The box is modal to the
    // window but does not stop the event loop, so the radio timers keep time.
    if (!mOpenFailureBox) {
        mOpenFailureBox =
            new QMessageBox(QMessageBox::Critical, tr("MsgError"), text, QMessageBox::Ok, window());
        mOpenFailureBox->setAttribute(Qt::WA_DeleteOnClose);
        mOpenFailureBox->open();
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
        startRun(RunKind::Config, mLink, KcConfigSequence::commands(mRunSettings).size() + 1);
        startCmdModeTimer();
        goesOn = true;
    }
    qCDebug(kcPanelLog) << "kcradioconfigitemform" << __LINE__
                        << "KcRadioConfigItemForm::on_btnConfig_clicked" << goesOn;
}

bool KcRadioConfigItemForm::prepareConfig()
{
    if (!openSerialport()) {
        endConfigRefused();
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
    setEnabled(true);
    endRun(escapeReason());
    recordRun(QStringLiteral("silent"), mRunSettings.radioId);
    emit sigRadioEndConfig();
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
    endRun(verdict.ok ? QString() : verdictReason(verdict));
    recordRun(verdict.ok ? QStringLiteral("configured") : failedVerdictOutcome(verdict),
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
        connect(mParamReader, &KcRadioParamReader::sigListingVerdict, this,
                &KcRadioConfigItemForm::onRunVerdict);
        watchRunLink(mParamReader->link());
    }
    setEnabled(false);
    startRun(RunKind::Read, mParamReader->link(), KcRadioParamReader::CommandsAfterEscape + 1);
    mParamReader->readRadioParam(mPortList->selectedName());
}

void KcRadioConfigItemForm::onRadioIDReady(bool isSucc, QString resultStr, QString idStr,
                                           int baudRateFlag)
{
    qCDebug(kcPanelLog) << "KcRadioConfigItemForm::onRadioIDReady" << isSucc << resultStr << idStr
                        << baudRateFlag;
    setEnabled(true);
    endRun(isSucc ? QString() : failureReason());
    recordRun(isSucc ? QStringLiteral("read") : QStringLiteral("read-") + failureOutcome(),
              isSucc ? idStr : QString());
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
        connect(mRadioEraser, &KcRadioEraser::sigEraseVerdict, this,
                &KcRadioConfigItemForm::onRunVerdict);
        watchRunLink(mRadioEraser->link());
    }
    setEnabled(false);
    startRun(RunKind::Erase, mRadioEraser->link(), KcRadioEraser::CommandsAfterEscape + 1);
    mRadioEraser->earseRadio(mPortList->selectedName());
}

void KcRadioConfigItemForm::onEarseRadioResult(bool isSucc)
{
    setEnabled(true);
    endRun(isSucc ? QString() : failureReason());
    recordRun(isSucc ? QStringLiteral("erased") : QStringLiteral("erase-") + failureOutcome(),
              QString());
    qCDebug(kcPanelLog) << "KcRadioConfigItemForm::onEarseRadioResult" << isSucc;
    ui->labTipInfo->setText(isSucc ? tr("MsgRadioEarseSuccessfully") : tr("MsgRadioEarseFailed"));
}

// --- Stopping as the window closes -----------------------------------------

bool KcRadioConfigItemForm::isWorking() const
{
    if (mRun.kind != RunKind::None)
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
    const RunKind kind = mRun.kind;
    if (kind != RunKind::None) {
        // The sequence's timer stops first, so that the release's "ATA" is
        // the only command still written; the last command stays known, so
        // that an escape in flight is waited out.
        if (KcRadioTimer *timer = sequenceTimer(mConfigKind))
            timer->stop();
        mLink->setSendStep(0);
        // The run ends for good: an escape left unanswered so far may still
        // put the radio in command mode (a radio that answers late), so each
        // rate one went out at gets "ATA" too before the port is given up.
        mRun.link->setRecoversCommandMode(true);
        endRun(QString());
        // kcradio records a run it was told to stop as "aborted". A radio
        // that acknowledged every command up to the final "ATA" (which the
        // release sends) holds its configuration: that is what is recorded.
        const QString aborted = QStringLiteral("aborted");
        if (kind == RunKind::Config)
            recordRun(isConfigurationStored() ? QStringLiteral("configured") : aborted,
                      mRunSettings.radioId);
        else
            recordRun((kind == RunKind::Read ? QStringLiteral("read-") : QStringLiteral("erase-")) +
                          aborted,
                      QString());
        setEnabled(true);
        if (kind == RunKind::Config) {
            emit sigRadioEndConfig();
            mLink->releasePort();
        } else if (kind == RunKind::Read) {
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

void KcRadioConfigItemForm::onLinkReleased()
{
    if (!isWorking())
        emit sigPortsReleased();
    if (!mStopping || isWorking())
        return;
    mStopping = false;
    emit sigRunStopped();
}

// --- Progress and reasons ---------------------------------------------------
//
// The links report each entry attempt, the entry into command mode, each
// command written and a port that is lost; the verdicts come from the shared
// judgement (KcConfigSequence::judge, through the reader and the eraser).
// Here they only become the bar and the words of the running panel.

void KcRadioConfigItemForm::watchRunLink(KcRadioCommandLink *link)
{
    connect(link, &KcRadioCommandLink::entryAttempt, this, &KcRadioConfigItemForm::onEntryAttempt);
    connect(link, &KcRadioCommandLink::commandModeEntered, this,
            &KcRadioConfigItemForm::onRunCommandModeEntered);
    connect(link, &KcRadioCommandLink::commandWritten, this,
            &KcRadioConfigItemForm::onRunCommandWritten);
    connect(link, &KcRadioCommandLink::portReleased, this, &KcRadioConfigItemForm::onLinkReleased);
}

void KcRadioConfigItemForm::startRun(RunKind kind, KcRadioCommandLink *link, int commands)
{
    mRun = RunProgress();
    mRun.kind = kind;
    mRun.link = link;
    // The reader and the eraser write an escape as entry starts (attempt 0).
    mRun.firstAttempt = link->profile().escapeAtStart ? 0 : 1;
    mRun.commands = commands;
    mRun.portsLostBefore = link->portsLost();
    mRecord.begin();
    ui->labReason->clear();
    showProgress(0, KcRadioCommandLink::MaxEntryAttempts + commands, tr("LabProgressStarting"));
    ui->barProgress->show();
}

void KcRadioConfigItemForm::endRun(const QString &reason)
{
    mRun.kind = RunKind::None;
    ui->barProgress->hide();
    ui->labReason->setText(reason);
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

// The bar counts intervals: those of the entry attempts so far, then one per
// command after the answered escape and one for the verdict. Until command
// mode is entered its end assumes that the last attempt will be answered.
void KcRadioConfigItemForm::onEntryAttempt(int attempt, int rate)
{
    if (mRun.kind == RunKind::None)
        return;
    mRun.ticks = attempt;
    mRun.tried = true;
    const int attempts = KcRadioCommandLink::MaxEntryAttempts - mRun.firstAttempt + 1;
    showProgress(attempt, KcRadioCommandLink::MaxEntryAttempts + mRun.commands,
                 filled(tr("LabProgressEntry"), QString::number(rate),
                        QString::number(attempt - mRun.firstAttempt + 1),
                        QString::number(attempts)));
}

void KcRadioConfigItemForm::onRunCommandModeEntered()
{
    // The radio may confirm more than once before the first command.
    if (mRun.kind == RunKind::None || mRun.written > 0)
        return;
    mRun.written = 1; // the escape it answered
    showCommandProgress();
}

void KcRadioConfigItemForm::onRunCommandWritten(const QString &command)
{
    if (mRun.kind == RunKind::None)
        return;
    // The reader writes its listing command as it hears of command mode,
    // before this panel does: the answered escape counts first.
    if (mRun.written == 0 && command != QLatin1String(Escape) && mRun.link &&
        mRun.link->inCommandMode())
        mRun.written = 1;
    if (mRun.written == 0)
        return;
    // A run that found the radio in command mode before its first escape
    // writes the escape as a step of its own: one interval more.
    if (command == QLatin1String(Escape))
        ++mRun.ticks;
    else
        mRun.written = qMin(mRun.written + 1, mRun.commands);
    showCommandProgress();
}

void KcRadioConfigItemForm::showCommandProgress()
{
    const int value = mRun.ticks + mRun.written - 1;
    const int maximum = mRun.ticks + mRun.commands;
    // The cadence is fixed: each command still to come and the verdict after
    // the last take one interval each; a read ends one reply wait after it
    // asked for the listing.
    const int msLeft = mRun.kind == RunKind::Read
                           ? KcRadioTiming::replyWaitMs()
                           : (maximum - value) * KcRadioTiming::commandIntervalMs();
    showProgress(value, maximum,
                 filled(tr("LabProgressCommand"), QString::number(mRun.written),
                        QString::number(mRun.commands), QString::number(wholeSeconds(msLeft))));
}

void KcRadioConfigItemForm::onRunVerdict(const KcCommandVerdict &verdict)
{
    mRun.judged = true;
    mRun.verdict = verdict;
}

// Nothing written from now on reaches the radio: the configuration ends here
// as a failed one. (The reader and the eraser end by themselves.)
void KcRadioConfigItemForm::onPortLost(const QString &portName)
{
    if (mRun.kind != RunKind::Config)
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
    endRun(filled(tr("LabReasonPortLost"), portName));
    recordRun(QStringLiteral("port-lost"), mRunSettings.radioId);

    mLink->clearRecvBuffer();
    mLink->resetReplies();
    mLink->resetOkCount();
    mLink->releasePort();
    emit sigRadioEndConfig();
}

// The record's word for a command at fault, as kcradio's record has it: one
// the radio refused, or one it left without an answer within its wait.
QString KcRadioConfigItemForm::failedVerdictOutcome(const KcCommandVerdict &verdict)
{
    return verdict.fault == KcCommandVerdict::Fault::Unanswered ? QStringLiteral("unanswered")
                                                                : QStringLiteral("refused");
}

// Why a read or an erase failed, from what ended it: the port went away, a
// command was judged at fault (or a read found no radio ID in a listing the
// radio gave), or no escape was answered. An open failure has its tip only.
QString KcRadioConfigItemForm::failureReason() const
{
    // The reader and the eraser may report before this panel hears of the
    // loss: the link's count tells.
    if (mRun.link && mRun.link->portsLost() > mRun.portsLostBefore)
        return filled(tr("LabReasonPortLost"), mRun.link->portName());
    if (mRun.judged) {
        if (!mRun.verdict.ok)
            return verdictReason(mRun.verdict);
        return mRun.kind == RunKind::Read ? tr("LabReasonNoRadioId") : QString();
    }
    return mRun.tried ? escapeReason() : QString();
}

// The record's word for what ended a failed read or erase, as failureReason()
// tells it.
QString KcRadioConfigItemForm::failureOutcome() const
{
    if (mRun.link && mRun.link->portsLost() > mRun.portsLostBefore)
        return QStringLiteral("port-lost");
    if (mRun.judged)
        return mRun.verdict.ok ? QStringLiteral("no-id") : failedVerdictOutcome(mRun.verdict);
    return mRun.tried ? QStringLiteral("silent") : QStringLiteral("port-failed");
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
    // then succeeded or not. A port that did not open ends a configuration
    // before its run starts, so what the run holds is an earlier one's.
    const bool answered = mRun.written > 0 && !outcome.endsWith(QLatin1String("port-failed"));
    line.rate = answered ? (mRun.link ? mRun.link : mLink)->baudRate() : 0;
    line.outcome = outcome;
    line.reason = ui->labReason->text();
    QString error;
    // The radio work is done and told; a record that cannot be written is
    // said once on the reason line and never stops the window.
    if (!mRecord.append(line, &error) && KcWindowRecord::isFirstFailure()) {
        const QString note = filled(tr("LabRecordUnwritable"), error);
        ui->labReason->setText(line.reason.isEmpty() ? note
                                                     : line.reason + QLatin1Char('\n') + note);
    }
}

QString KcRadioConfigItemForm::verdictReason(const KcCommandVerdict &verdict) const
{
    switch (verdict.fault) {
    case KcCommandVerdict::Fault::Refused:
        return filled(tr("LabReasonRefused"), verdict.command);
    case KcCommandVerdict::Fault::Unanswered: {
        // The time it had: up to the next command, or for a read the wait
        // for its listing.
        const int ms = mRun.kind == RunKind::Read ? KcRadioTiming::replyWaitMs()
                                                  : KcRadioTiming::commandIntervalMs();
        return filled(tr("LabReasonUnanswered"), verdict.command,
                      QString::number(wholeSeconds(ms)));
    }
    case KcCommandVerdict::Fault::NotSent:
        return filled(tr("LabReasonNotSent"), verdict.command);
    case KcCommandVerdict::Fault::None:
        break;
    }
    return QString();
}

QString KcRadioConfigItemForm::escapeReason() const
{
    const KcRadioCommandLink *link = mRun.link ? mRun.link : mLink;
    const QList<int> rates = link->baudRateList();
    // Bytes that were no text came: an answer sent at another rate, too late
    // for the rate it was meant for. The radio did answer, only unreadably.
    return filled(link->unreadableDuringEntry() ? tr("LabReasonEscapeUnreadable")
                                                : tr("LabReasonNoEscapeAnswer"),
                  QString::number(rates.value(0)), QString::number(rates.value(1)),
                  QString::number(rates.value(2)));
}

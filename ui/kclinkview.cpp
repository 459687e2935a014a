#include "kclinkview.h"
#include "ui_kclinkview.h"

#include "kcenterclicks.h"
#include "kclinktest.h"
#include "kcrunreport.h"
#include "kcwindowrecord.h"

#include "kclogging.h"

namespace {
const char SuccessStyle[] = "color:rgb(20, 140, 60);";
const char FailureStyle[] = "color:rgb(200, 50, 30);";
} // namespace

KcLinkView::KcLinkView(QWidget *parent) : QWidget(parent), ui(new Ui::KcLinkView)
{
    ui->setupUi(this);
    ui->barLink->setVisible(false);
    KcEnterClicks::install(this, {ui->btnTestLink});
    mRun = new KcRunReport(this);
    connect(mRun, &KcRunReport::progressChanged, this, &KcLinkView::showProgress);
    connect(mRun, &KcRunReport::ended, this, &KcLinkView::showEnd);
    // A line without words takes no room: an idle view is one button high,
    // so that the window keeps within its bounds beside the panels' reasons.
    setLine(ui->labLinkStatus, QString());
    setLine(ui->labLinkResult, QString());
    updateButton();
}

KcLinkView::~KcLinkView()
{
    delete ui;
}

void KcLinkView::setLine(QLabel *label, const QString &text)
{
    // The lines never widen the window: one cut short by a large font
    // shows whole in its tooltip.
    label->setText(text);
    label->setToolTip(label == ui->labLinkResult && !text.isEmpty()
                          ? text + QStringLiteral("\n\n") + tr("LinkLatencyTip")
                          : text);
    label->setVisible(!text.isEmpty());
}

void KcLinkView::setPorts(const QString &ground, const QString &airborne)
{
    mGroundPort = ground;
    mAirbornePort = airborne;
    updateButton();
}

void KcLinkView::setAllowed(bool allowed)
{
    mAllowed = allowed;
    updateButton();
}

void KcLinkView::updateButton()
{
    ui->btnTestLink->setEnabled(mAllowed && !mTest && !mGroundPort.isEmpty() &&
                                !mAirbornePort.isEmpty());
}

void KcLinkView::invite()
{
    if (mTest)
        return;
    clearResult();
    setLine(ui->labLinkStatus, tr("LinkInvite"));
}

void KcLinkView::clearResult()
{
    if (mTest)
        return;
    setLine(ui->labLinkStatus, QString());
    ui->labLinkStatus->setStyleSheet(QString());
    setLine(ui->labLinkResult, QString());
}

void KcLinkView::on_btnTestLink_clicked()
{
    if (mTest || mGroundPort.isEmpty() || mAirbornePort.isEmpty())
        return;
    emit sigLinkTestStarted();
    clearResult();
    const QList<KcLinkRadio> radios{
        KcLinkRadio{mGroundPort, QStringLiteral("ground"), 0, QString()},
        KcLinkRadio{mAirbornePort, QStringLiteral("airborne"), 0, QString()}};
    mTest = new KcLinkTest(radios, KcLinkTest::Options(), this);
    mReport.start(mTest);
    connect(mTest, &KcLinkTest::radioRead, this, [this](int radio) {
        mReport.radioRead(radio);
        showStep();
    });
    connect(mTest, &KcLinkTest::trafficStarted, this, [this]() {
        mReport.trafficStarted();
        showStep();
    });
    connect(mTest, &KcLinkTest::frames, this, [this](int from, int, int sent, int) {
        mReport.frames(from, sent);
        showStep();
    });
    connect(mTest, &KcLinkTest::finished, this, &KcLinkView::onFinished);
    qCDebug(kcPanelLog) << "KcLinkView::on_btnTestLink_clicked" << mGroundPort << mAirbornePort;
    updateButton();
    ui->barLink->setVisible(true);
    setLine(ui->labLinkResult, QString());
    mRun->start(KcRunReport::Kind::Link, nullptr, 0);
    showStep();
    mTest->start();
}

void KcLinkView::showStep()
{
    mRun->showStep(mReport.progressValue(), mReport.progressMaximum(), mReport.progressText());
}

void KcLinkView::showProgress(int value, int maximum, const QString &text)
{
    ui->barLink->setRange(0, maximum);
    ui->barLink->setValue(value);
    setLine(ui->labLinkStatus, text);
}

void KcLinkView::showEnd(const QString &reasonText)
{
    ui->barLink->setVisible(false);
    setLine(ui->labLinkResult, mReport.directionLines().join(QLatin1Char('\n')));
    const bool passed = reasonText.isEmpty();
    setLine(ui->labLinkStatus, passed ? mReport.verdict() : reasonText);
    ui->labLinkStatus->setStyleSheet(QString::fromLatin1(passed ? SuccessStyle : FailureStyle));
}

void KcLinkView::onFinished()
{
    KcLinkTest *test = mTest;
    QString error;
    KcWindowRecord::appendLink(mReport.recordLine(), &error);
    if (!error.isEmpty())
        qCWarning(kcPanelLog) << "KcLinkView: the record cannot be written:" << error;
    qCDebug(kcPanelLog) << "KcLinkView::onFinished" << KcLinkTest::outcomeName(test->outcome())
                        << test->reason();
    mRun->end(mReport.reason());
    const bool linked = mReport.passed();
    test->deleteLater();
    mTest = nullptr;
    updateButton();
    emit sigLinkTestEnded(linked);
    if (mStopping) {
        mStopping = false;
        emit sigRunStopped();
    }
}

void KcLinkView::stopRun()
{
    if (!mTest) {
        emit sigRunStopped();
        return;
    }
    mStopping = true;
    mTest->abort();
}

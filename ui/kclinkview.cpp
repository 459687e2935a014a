#include "kclinkview.h"
#include "ui_kclinkview.h"

#include "kcenterclicks.h"
#include "kclinktest.h"
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
    ui->labLinkResult->setToolTip(tr("LinkLatencyTip"));
    // Room for the verdict and the two lines of a result, measured in the
    // language shown, so that the window does not jump when they come; the
    // bar shows over the result's place while the test runs.
    const QString line = tr("BtnTestLink");
    auto heightOf = [](const QLabel *label, const QString &text) {
        return label->fontMetrics().boundingRect(QRect(0, 0, QWIDGETSIZE_MAX, 0), 0, text).height();
    };
    ui->labLinkStatus->setMinimumHeight(heightOf(ui->labLinkStatus, line));
    ui->labLinkResult->setMinimumHeight(
        heightOf(ui->labLinkResult, line + QLatin1Char('\n') + line));
    updateButton();
}

KcLinkView::~KcLinkView()
{
    delete ui;
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
    ui->labLinkStatus->setText(tr("LinkInvite"));
}

void KcLinkView::clearResult()
{
    if (mTest)
        return;
    ui->labLinkStatus->clear();
    ui->labLinkStatus->setStyleSheet(QString());
    ui->labLinkResult->clear();
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
        showProgress();
    });
    connect(mTest, &KcLinkTest::trafficStarted, this, [this]() {
        mReport.trafficStarted();
        showProgress();
    });
    connect(mTest, &KcLinkTest::frames, this, [this](int from, int, int sent, int) {
        mReport.frames(from, sent);
        showProgress();
    });
    connect(mTest, &KcLinkTest::finished, this, &KcLinkView::onFinished);
    qCDebug(kcPanelLog) << "KcLinkView::on_btnTestLink_clicked" << mGroundPort << mAirbornePort;
    updateButton();
    ui->barLink->setVisible(true);
    ui->labLinkResult->clear();
    showProgress();
    mTest->start();
}

void KcLinkView::showProgress()
{
    ui->barLink->setRange(0, mReport.progressMaximum());
    ui->barLink->setValue(mReport.progressValue());
    ui->labLinkStatus->setText(mReport.progressText());
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
    ui->barLink->setVisible(false);
    ui->labLinkResult->setText(mReport.directionLines().join(QLatin1Char('\n')));
    ui->labLinkStatus->setText(mReport.verdict());
    ui->labLinkStatus->setStyleSheet(
        QString::fromLatin1(mReport.passed() ? SuccessStyle : FailureStyle));
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

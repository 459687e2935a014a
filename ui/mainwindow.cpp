#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "kcenterclicks.h"
#include "kcinterrupt.h"
#include "kclinkview.h"
#include "kcradioconfigform.h"
#include "kcradioconfigitemform.h"

#include <QBrush>
#include <QCloseEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPen>
#include <QWindow>

namespace {
const char VersionText[] = "V" KC_VERSION;
constexpr int TitleBandHeight = 40;
constexpr int NetModeP2P = 0;
constexpr int NetModeStar = 1;
constexpr int RadioTypeMR240 = 1;

// The button of the shown mode: blue bold text over a light-blue underline.
const QString &selectedModeStyle()
{
    static const QString style = QStringLiteral(
        "QPushButton{background:transparent; color:rgb(25, 141, 216);font: 75 10pt "
        "\"微软雅黑\";border-width:2px; border-style:none none solid none;border-color:rgb(86, "
        "203, 255);}QPushButton:disabled{background:transparent; color:gray;border-width:2px; "
        "border-style:none none solid none;border-color:gray;}");
    return style;
}

const QString &unselectedModeStyle()
{
    static const QString style = QStringLiteral(
        "QPushButton{background:transparent; color:black;font: 75 10pt "
        "\"微软雅黑\";border:none;}QPushButton:disabled{background:transparent; color:gray;}");
    return style;
}

QPoint globalPoint(const QMouseEvent *event)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return event->globalPosition().toPoint();
#else
    return event->globalPos();
#endif
}
} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), ui(new Ui::MainWindow),
      mTitleImage(QStringLiteral(":/images/background_title.png"))
{
    // The port enumeration runs beside the building of the widgets.
    KcRadioConfigItemForm::prefetchPorts();
    ui->setupUi(this);
    setAttribute(Qt::WA_MouseTracking);
    // The window draws its own frame and title band.
    setWindowFlags(Qt::FramelessWindowHint);
    ui->labVersion->setText(QString::fromLatin1(VersionText));
    setupRadioSelection();
    setupKeyboard();
}

MainWindow::~MainWindow()
{
    delete ui;
    qDeleteAll(mRadioConfigForms);
    mRadioConfigForms.clear();
}

void MainWindow::setupRadioSelection()
{
    // The first item runs on_cmbDLType_currentIndexChanged while no pair form
    // exists yet, which does nothing.
    ui->cmbDLType->addItem(QStringLiteral("MR300"), 0);
    ui->cmbDLType->addItem(QStringLiteral("MR240"), 1);
    ui->cmbDLType->addItem(QStringLiteral("MR300S"), 2);

    addRadioConfigForm(NetModeP2P);
    addRadioConfigForm(NetModeStar);

    ui->btnP2P->setStyleSheet(selectedModeStyle());
    ui->btnStar->setStyleSheet(unselectedModeStyle());
}

void MainWindow::setupKeyboard()
{
    KcEnterClicks::install(this, {ui->btnMin, ui->btnClose, ui->btnP2P, ui->btnStar});
    // Tab goes round from top to bottom: model, mode, the panels, then the
    // title band's buttons and back to the model. The first focus is on the
    // model list rather than on Minimise, where Enter would hide the window.
    ui->cmbDLType->setFocus();
}

void MainWindow::addRadioConfigForm(int netMode)
{
    // The page index in the stacked widget equals the network mode.
    auto *form = new KcRadioConfigForm(this);
    form->setupPanels(0, netMode);
    connect(form, &KcRadioConfigForm::sigRadioStartConfig, this, &MainWindow::onRadioStartConfig);
    connect(form, &KcRadioConfigForm::sigRadioEndConfig, this, &MainWindow::onRadioEndConfig);
    ui->stackedWidget->addWidget(form);
    mRadioConfigForms.append(form);
}

bool MainWindow::event(QEvent *event)
{
    const bool handled = QMainWindow::event(event);
    if (event->type() == QEvent::LayoutRequest && isVisible())
        fitContents();
    return handled;
}

void MainWindow::fitContents()
{
    // The window has no handles to resize it: it takes the least size its
    // layout allows. Each panel keeps room for a two-line tip and a two-line
    // reason; a longer one (large fonts) wraps to more lines, which
    // QMainWindow's layout does not count, so the window grows by what the
    // tallest panel lacks, and returns to its size once the text is gone.
    int missing = 0;
    if (const QWidget *page = ui->stackedWidget->currentWidget()) {
        for (const KcRadioConfigItemForm *panel : page->findChildren<KcRadioConfigItemForm *>()) {
            int lacking = 0;
            for (const QString &name : {QStringLiteral("labTipInfo"), QStringLiteral("labReason")})
                if (const QLabel *label = panel->findChild<QLabel *>(name);
                    label && label->isVisible())
                    lacking +=
                        qMax(0, label->heightForWidth(label->width()) - label->minimumHeight());
            missing = qMax(missing, lacking);
        }
        // The pair's link view steps aside while a panel needs more lines
        // than it keeps (a long failure reason): the window then grows by
        // what the panel lacks beyond the view's room, and stays within its
        // bounds. A running test keeps its view.
        if (auto *link = page->findChild<KcLinkView *>())
            link->setVisible(missing == 0 || link->isWorking());
    }
    const QSize wanted = minimumSize() + QSize(0, missing);
    if (size() != wanted)
        resize(wanted);
}

void MainWindow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    // The platform moves the window itself where it offers to: the window
    // manager knows the screens' edges, and on Wayland a window may not place
    // itself at all. Elsewhere (offscreen, some X servers) the window follows
    // the pointer by itself.
    QWindow *handle = windowHandle();
    if (handle && handle->startSystemMove()) {
        mDragging = false;
        return;
    }
    mDragging = true;
    mDragOffset = globalPoint(event) - pos();
}

void MainWindow::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        mDragging = false;
}

void MainWindow::mouseMoveEvent(QMouseEvent *event)
{
    // Keeps the grab point under the cursor.
    if (mDragging)
        move(globalPoint(event) - mDragOffset);
}

void MainWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setBrush(QBrush(Qt::white, Qt::SolidPattern));
    painter.setPen(
        QPen(QBrush(QColor(180, 180, 180)), 2.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    // Half of the 2-pixel line falls outside the window: a 1-pixel outline.
    painter.drawRect(0, 0, width(), height());
    painter.drawPixmap(QRect(0, 0, width(), TitleBandHeight), mTitleImage);
}

void MainWindow::closeOnInterrupt()
{
    KcInterrupt::onInterrupt(this, [this]() { close(); });
}

// Nothing to confirm or save. A panel or link view at work on a radio ends
// its run first (the radios back in data mode, the run recorded); the window
// closes once every one has given its ports up, a wait the links' release
// bounds.
void MainWindow::closeEvent(QCloseEvent *event)
{
    const QList<QWidget *> working = workingPanels();
    if (working.isEmpty())
        return;
    event->ignore();
    if (mWindingDown)
        return; // the same request, under way
    mWindingDown = true;
    // Queued: the close that follows comes after this event, not inside it.
    const auto queued = Qt::ConnectionType(Qt::QueuedConnection | Qt::UniqueConnection);
    for (QWidget *view : working) {
        if (auto *panel = qobject_cast<KcRadioConfigItemForm *>(view)) {
            connect(panel, &KcRadioConfigItemForm::sigRunStopped, this,
                    &MainWindow::onPanelRunStopped, queued);
            panel->stopRun();
        } else if (auto *link = qobject_cast<KcLinkView *>(view)) {
            connect(link, &KcLinkView::sigRunStopped, this, &MainWindow::onPanelRunStopped, queued);
            link->stopRun();
        }
    }
    // Nothing new starts meanwhile.
    ui->stackedWidget->setEnabled(false);
    setSelectionEnabled(false);
}

void MainWindow::onPanelRunStopped()
{
    if (!mWindingDown || !workingPanels().isEmpty())
        return;
    mWindingDown = false;
    close();
}

QList<QWidget *> MainWindow::workingPanels() const
{
    QList<QWidget *> working;
    for (KcRadioConfigItemForm *panel : findChildren<KcRadioConfigItemForm *>())
        if (panel->isWorking())
            working.append(panel);
    for (KcLinkView *link : findChildren<KcLinkView *>())
        if (link->isWorking())
            working.append(link);
    return working;
}

void MainWindow::on_btnClose_clicked()
{
    close();
}

void MainWindow::on_btnMin_clicked()
{
    showMinimized();
}

void MainWindow::showNetMode(int netMode)
{
    ui->btnP2P->setStyleSheet(netMode == NetModeP2P ? selectedModeStyle() : unselectedModeStyle());
    ui->btnStar->setStyleSheet(netMode == NetModeStar ? selectedModeStyle()
                                                      : unselectedModeStyle());
    ui->stackedWidget->setCurrentIndex(netMode);
}

void MainWindow::on_btnP2P_clicked()
{
    showNetMode(NetModeP2P);
}

void MainWindow::on_btnStar_clicked()
{
    showNetMode(NetModeStar);
}

void MainWindow::on_cmbDLType_currentIndexChanged(int)
{
    const int radioType = ui->cmbDLType->currentData(Qt::UserRole).toInt();
    for (KcRadioConfigForm *form : qAsConst(mRadioConfigForms))
        form->setRadioType(radioType);
    // The MR240 works point-to-point only.
    if (radioType == RadioTypeMR240)
        on_btnP2P_clicked();
}

void MainWindow::onRadioStartConfig()
{
    setSelectionEnabled(false);
}

void MainWindow::onRadioEndConfig()
{
    // While the window winds down nothing new may start.
    if (!mWindingDown)
        setSelectionEnabled(true);
}

void MainWindow::setSelectionEnabled(bool enabled)
{
    ui->labRadioType->setEnabled(enabled);
    ui->cmbDLType->setEnabled(enabled);
    ui->btnP2P->setEnabled(enabled);
    ui->btnStar->setEnabled(enabled);
}

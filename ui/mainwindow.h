#pragma once

#include <QList>
#include <QMainWindow>
#include <QPixmap>
#include <QPoint>

class KcRadioConfigForm;
class KcRadioConfigItemForm;

namespace Ui {
class MainWindow;
}

// The program's only window: frameless, painted with a white ground, a grey
// outline and a blue title band, moved by dragging it with the left button.
// It has no handles to resize it: it always takes the least size its
// contents allow.
// It holds the radio model list, the P2P / Star mode buttons and one radio
// pair form per mode.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Closes the window, as its Close button does, when the process is asked
    // to stop: SIGTERM, SIGINT or SIGHUP on Unix; Ctrl-C or the console
    // closing on Windows, where a window manager's close comes as a close
    // event. Once per process.
    void closeOnInterrupt();

protected:
    bool event(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private slots:
    void on_btnClose_clicked();
    void on_btnMin_clicked();
    void on_btnP2P_clicked();
    void on_btnStar_clicked();
    void on_cmbDLType_currentIndexChanged(int index);
    void onRadioStartConfig();
    void onRadioEndConfig();
    void onPanelRunStopped();

private:
    void setupRadioSelection();
    void setupKeyboard();
    void addRadioConfigForm(int netMode);
    void showNetMode(int netMode);
    void setSelectionEnabled(bool enabled);
    void fitContents();
    // The panels and link views at work on a radio.
    QList<QWidget *> workingPanels() const;

    Ui::MainWindow *ui;
    QList<KcRadioConfigForm *> mRadioConfigForms; // P2P form first, then Star
    bool mDragging = false;
    QPoint mDragOffset;
    QPixmap mTitleImage;       // loaded once rather than at every paint
    bool mWindingDown = false; // a close waits for the panels to stop their runs
};

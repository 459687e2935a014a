#pragma once

#include <QWidget>

namespace Ui {
class KcRadioConfigForm;
}
class KcLinkView;

// A ground radio panel and an airborne radio panel side by side for one
// network mode. The ground panel's radio ID and baud-rate entry flow to the
// airborne panel; the airborne panel becomes usable only after a successful
// ground configuration. Under the panels, the link view tests the pair's link
// on their two ports; while it runs the panels are disabled, and the window's
// selection with them (through sigRadioStartConfig and sigRadioEndConfig).
class KcRadioConfigForm : public QWidget
{
    Q_OBJECT

public:
    explicit KcRadioConfigForm(QWidget *parent = nullptr);
    ~KcRadioConfigForm() override;

    // netMode: 0 = P2P, 1 = Star. The ground panel takes role 0, the airborne
    // panel role 1.
    void setupPanels(int radioType, int netMode);
    void setRadioType(int radioType);
    KcLinkView *linkView() const;

signals:
    void sigRadioStartConfig();
    void sigRadioEndConfig();

private slots:
    void onRadioConfigStart();
    void onGrdRadioConfigComplete(bool ok);
    void onAirRadioConfigComplete(bool ok);
    void onLinkTestStarted();
    void onLinkTestEnded();
    void updateLinkPorts();
    void updateLinkAllowed();

private:
    Ui::KcRadioConfigForm *ui;
    // The enabled states of the panels and the arrow before a link test.
    bool mGrdEnabled = true;
    bool mAirEnabled = false;
    bool mArrowEnabled = false;
};

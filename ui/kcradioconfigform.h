#pragma once

#include <QWidget>

namespace Ui {
class KcRadioConfigForm;
}

// A ground radio panel and an airborne radio panel side by side for one
// network mode. The ground panel's radio ID and baud-rate entry flow to the
// airborne panel; the airborne panel becomes usable only after a successful
// ground configuration.
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

signals:
    void sigRadioStartConfig();
    void sigRadioEndConfig();

private slots:
    void onRadioConfigStart();
    void onGrdRadioConfigComplete(bool ok);
    void onAirRadioConfigComplete(bool);

private:
    Ui::KcRadioConfigForm *ui;
};

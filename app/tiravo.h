#pragma once

#include <QPointer>
#include <QSerialPort>
#include <QString>
#include <QWidget>

#include "link/paramexchange.h"
#include "ui/texts.h"

class QKeyEvent;
class QTimer;
class Ui_Tiravo;

// The one window of the program: it owns the form, the link data and the
// 50 ms tick, and moves data between them and the widgets.
class Tiravo : public QWidget
{
    Q_OBJECT

public:
    explicit Tiravo(QWidget *parent = nullptr);
    ~Tiravo() override;

    // Read-only view of the link data, for programs and tests that embed the window.
    const ParamExchange &exchange() const { return link; }

private slots:
    // The order of these slots is the order of the meta-object table; keep it.
    void my_readuart();
    void SYS_QTimerUpDate();
    void on_startPushButton_clicked();
    void keyPressEvent(QKeyEvent *event) override;
    void LangureCharLoad();
    void ChangeLangure();
    void LangureTypeWR(unsigned char);
    void on_updatePushButton_clicked();
    void on_downloadPushButton_clicked();
    void on_programPushButton_clicked();
    void on_chRadioButton_clicked();
    void on_enRadioButton_clicked();

private:
    void probePorts();
    void readChannelCombos();

    Ui_Tiravo *ui;
    QSerialPort probePort;
    QPointer<QSerialPort> serialPort;
    QTimer *sysTimer = nullptr;
    ParamExchange link;
    QString LangureChar[kTextTableSize];
};

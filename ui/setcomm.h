// The dialog "通讯设置": the serial port and its line settings, saved into Config.ini.
#pragma once

#include "core/config.h"
#include "dialogs.h"

#include <QDialog>
#include <optional>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace dielmon {

class TfrmSetComm : public QDialog {
    Q_OBJECT
public:
    // `settings` are the program's settings, changed by a successful Save only. `fixedPort`:
    // the port this run was started with (--port, --simulate), shown and not to be changed;
    // the port of Config.ini stays as it is.
    TfrmSetComm(Settings& settings, std::string configFileName, Dialogs& dialogs,
                QWidget* parent = nullptr, std::string sysClassTty = "/sys/class/tty",
                std::optional<std::string> fixedPort = std::nullopt);

    QComboBox* CombComm = nullptr;
    QLineEdit* Edt_DataNum = nullptr;
    QComboBox* Edt_StopNum = nullptr;
    QComboBox* CBx_Mark = nullptr;
    QComboBox* CombBaud = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QLabel* Lbl_FixedPort = nullptr; // shown when the port is fixed for this run

    void FormShow();
    void BitBtn1Click();
    void BitBtn2Click();

private:
    Settings& Settings_;
    std::string ConfigFileName_;
    Dialogs& Dialogs_;
    std::string SysClassTty_;
    std::optional<std::string> FixedPort_;
};

} // namespace dielmon

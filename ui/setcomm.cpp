#include "setcomm.h"

#include "core/texts.h"
#include "mainwindow.h"
#include "qtgbk.h"
#include "serial/portlist.h"
#include "widgets.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace dielmon {

TfrmSetComm::TfrmSetComm(Settings& settings, std::string configFileName, Dialogs& dialogs,
                         QWidget* parent, std::string sysClassTty,
                         std::optional<std::string> fixedPort)
    : QDialog(parent), Settings_(settings), ConfigFileName_(std::move(configFileName)),
      Dialogs_(dialogs), SysClassTty_(std::move(sysClassTty)), FixedPort_(std::move(fixedPort)) {
    setObjectName(QStringLiteral("frmSetComm"));
    setWindowTitle(QStringLiteral("通讯设置"));
    setFont(SongFont(13));
    setFixedSize(255, 232);
    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setGeometry(0, 0, 255, 232);

    auto label = [panel](const char* name, const QString& text, int x, int y) {
        auto* l = new QLabel(text, panel);
        l->setObjectName(QString::fromLatin1(name));
        l->move(x, y);
        l->adjustSize();
    };
    auto combo = [panel](const char* name, bool editable, int x, int y, int w) {
        auto* c = new QComboBox(panel);
        c->setObjectName(QString::fromLatin1(name));
        c->setEditable(editable);
        // Enter in a typed text keeps the text; it never grows the list.
        c->setInsertPolicy(QComboBox::NoInsert);
        c->setGeometry(x, y, w, 22);
        return c;
    };
    label("Label22", QStringLiteral("通讯串口："), 42, 23);
    CombComm = combo("CombComm", true, 110, 19, 105);
    for (int k = 1; k <= 16; ++k) {
        CombComm->addItem(QStringLiteral("COM%1").arg(k));
    }
    CombComm->setEditText(QStringLiteral("COM1"));
    label("Label2", QStringLiteral("数据位："), 42, 50);
    Edt_DataNum = new QLineEdit(QStringLiteral("8"), panel);
    Edt_DataNum->setObjectName(QStringLiteral("Edt_DataNum"));
    Edt_DataNum->setGeometry(110, 46, 105, 22);
    label("Label3", QStringLiteral("停止位："), 42, 82);
    Edt_StopNum = combo("Edt_StopNum", false, 110, 78, 105);
    for (const std::string& item : StopBitItems()) {
        Edt_StopNum->addItem(Q(item));
    }
    Edt_StopNum->setCurrentIndex(0);
    label("Label4", QStringLiteral("校验位："), 42, 111);
    CBx_Mark = combo("CBx_Mark", false, 111, 107, 105);
    for (const std::string& item : ParityItems()) {
        CBx_Mark->addItem(Q(item));
    }
    CBx_Mark->setCurrentIndex(0);
    label("Label21", QStringLiteral("波特率："), 42, 140);
    CombBaud = combo("CombBaud", true, 110, 136, 105);
    for (const std::string& item : BaudItems()) {
        CombBaud->addItem(Q(item));
    }
    CombBaud->setCurrentIndex(CombBaud->findText(QStringLiteral("9600")));

    Lbl_FixedPort = new QLabel(QStringLiteral("串口由命令行指定，本次运行不能更改。"), panel);
    Lbl_FixedPort->setObjectName(QStringLiteral("Lbl_FixedPort"));
    Lbl_FixedPort->setGeometry(20, 161, 215, 20);
    Lbl_FixedPort->setAlignment(Qt::AlignCenter);
    Lbl_FixedPort->setVisible(FixedPort_.has_value());

    BitBtn1 = new QPushButton(QStringLiteral("保存"), panel);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(40, 184, 75, 25);
    BitBtn2 = new QPushButton(QStringLiteral("关闭"), panel);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setGeometry(136, 184, 75, 25);
    BitBtn1->setAutoDefault(false);
    BitBtn2->setAutoDefault(false);
    connect(BitBtn1, &QPushButton::clicked, this, &TfrmSetComm::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TfrmSetComm::BitBtn2Click);

    setTabOrder(CombComm, Edt_DataNum);
    setTabOrder(Edt_DataNum, Edt_StopNum);
    setTabOrder(Edt_StopNum, CBx_Mark);
    setTabOrder(CBx_Mark, CombBaud);
    setTabOrder(CombBaud, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);
    GuardComboWheel(this);
    CentreWhenShown(this);
    FormShow();
}

void TfrmSetComm::FormShow() {
    CombComm->clear();
    for (const SerialPortInfo& port : ListSerialPorts(SysClassTty_)) {
        CombComm->addItem(QString::fromStdString(port.name));
        if (!port.description.empty()) {
            CombComm->setItemData(CombComm->count() - 1, QString::fromStdString(port.description),
                                  Qt::ToolTipRole);
        }
    }
    // A port fixed for this run is the one shown; the settings file keeps its own.
    const QString shown = FixedPort_ ? QString::fromStdString(*FixedPort_) : Q(Settings_.ComName);
    CombComm->setCurrentIndex(CombComm->findText(shown, Qt::MatchExactly));
    CombComm->setEditText(shown);
    CombComm->setEnabled(!FixedPort_);
    Edt_DataNum->setText(QString::number(Settings_.DataNum));
    Edt_StopNum->setCurrentIndex(Settings_.StopNum);
    CBx_Mark->setCurrentIndex(Settings_.Mark);
    const int baud = CombBaud->findText(QString::number(Settings_.Baud), Qt::MatchExactly);
    CombBaud->setCurrentIndex(baud);
    if (baud < 0) {
        CombBaud->setEditText(QString());
    }
}

void TfrmSetComm::BitBtn1Click() {
    SettingsForm form;
    form.ComText = FixedPort_ ? Settings_.ComName : G(CombComm->currentText());
    form.DataNumText = G(Edt_DataNum->text());
    form.StopIndex = Edt_StopNum->currentIndex();
    form.MarkIndex = CBx_Mark->currentIndex();
    // A typed rate counts only when it is one of the listed items.
    form.BaudIndex = BaudItemIndex(G(CombBaud->currentText()));
    const auto checked = ValidateSettingsForm(form, Settings_);
    if (const auto* refusal = std::get_if<std::string>(&checked)) {
        // Every field is checked before anything changes, in memory or on disk.
        Dialogs_.Message(this, Q(*refusal), Q(texts::kPrompt), Dialogs::Icon::Warning,
                         Dialogs::Buttons::Ok);
        return;
    }
    const Settings& updated = std::get<Settings>(checked);
    const std::string error = SaveConfig(ConfigFileName_, updated);
    if (!error.empty()) {
        Dialogs_.Message(this, Q(error), Q(texts::kPrompt), Dialogs::Icon::Warning,
                         Dialogs::Buttons::Ok);
        return;
    }
    Settings_ = updated;
    Dialogs_.Message(this, Q(texts::kSaveSucceeded), Q(texts::kPrompt), Dialogs::Icon::Information,
                     Dialogs::Buttons::Ok);
}

void TfrmSetComm::BitBtn2Click() {
    close();
}

} // namespace dielmon

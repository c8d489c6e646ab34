#include "mainwindow.h"

#include "core/commands.h"
#include "core/helpers.h"
#include "core/history.h"
#include "core/texts.h"
#include "portrefusal.h"
#include "qtgbk.h"
#include "serial/commport.h"
#include "serial/portlist.h"
#include "setcomm.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QFont>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenuBar>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <iostream>
#include <sys/stat.h>

namespace dielmon {

void InstallFontSubstitutes() {
    QFont::insertSubstitutions(
        QStringLiteral("宋体"),
        {QStringLiteral("SimSun"), QStringLiteral("NSimSun"), QStringLiteral("AR PL UMing CN"),
         QStringLiteral("AR PL UMing TW"), QStringLiteral("Noto Serif CJK SC"),
         QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Zen Hei")});
}

QFont SongFont(int pixelSize, bool bold) {
    QFont f(QStringLiteral("宋体"));
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

namespace {

TextLabel* MakeLabel(const QString& name, int pixelSize, Qt::Alignment align, QWidget* parent,
                     bool bold = false) {
    auto* l = new TextLabel(name, parent);
    l->setFont(SongFont(pixelSize, bold));
    l->setAlignment(align);
    l->setWordWrap(false);
    return l;
}

QLabel* Caption(const QString& text, QWidget* parent, int x, int y) {
    auto* l = new QLabel(text, parent);
    l->move(x, y);
    l->adjustSize();
    return l;
}

} // namespace

TfrmDielmon::TfrmDielmon(const WindowSetup& setup, QWidget* parent)
    : QMainWindow(parent), Clock_(setup.TimeSource != nullptr ? setup.TimeSource : &DefaultClock()),
      Dialogs_(setup.DialogSource), AppPath_(setup.AppPath), PortOverride_(setup.Port),
      Trace_(setup.Trace), Log_(setup.AppPath, *Clock_),
      HandOver_(
          [this](FrameHandOver::Job job) {
              // The analogue of a message sent to the window: run on its thread, in order.
              QMetaObject::invokeMethod(this, std::move(job), Qt::QueuedConnection);
          },
          [this](const std::uint8_t* frame, int length) { DispatchFrame(frame, length); }),
      Receiver_(Log_, HandOver_) {
    if (Dialogs_ == nullptr) {
        OwnDialogs_ = std::make_unique<QtDialogs>();
        Dialogs_ = OwnDialogs_.get();
    }
    if (Trace_) {
        Receiver_.SetTrace(
            [](const std::string& text) { std::cerr << GbkToUtf8(text) << std::endl; });
    }
    Receiver_.SetLineLost([this] {
        QMetaObject::invokeMethod(
            this, [this] { LineLost(); }, Qt::QueuedConnection);
    });

    // FormCreate
    S_ = TestControlState{};
    S_.MessageTime = Now();
    ConfigFileName_ = AppPath_ + "Config.ini";
    Settings_ = LoadConfig(ConfigFileName_);

    setObjectName(QStringLiteral("frmDielmon"));
    setWindowTitle(Q(texts::kCaption));
    setFont(SongFont(13));
    resize(1280, 720);

    BuildMenu();
    auto* central = new QWidget(this);
    auto* columns = new QHBoxLayout(central);
    columns->setContentsMargins(4, 4, 4, 4);
    columns->addWidget(BuildParameterPanel());
    auto* right = new QVBoxLayout;
    right->addWidget(BuildOperations());
    Nbk_AllState = new TNotebook(QStringLiteral("Nbk_AllState"), central);
    Nbk_AllState->AddPage(QStringLiteral("Default"), BuildDefaultPage());
    Nbk_AllState->AddPage(QStringLiteral("HisData"), BuildHistoryPage());
    Nbk_AllState->AddPage(QStringLiteral("UpHis"), BuildUploadedPage());
    right->addWidget(Nbk_AllState, 1);
    columns->addLayout(right, 1);
    setCentralWidget(central);

    Timer_Now = new QTimer(this);
    Timer_Now->setObjectName(QStringLiteral("Timer_Now"));
    Timer_Now->setInterval(500);
    connect(Timer_Now, &QTimer::timeout, this, &TfrmDielmon::Timer_NowTimer);
    Timer_Now->start();
    N4->setEnabled(false);
    N3->setEnabled(false);
}

TfrmDielmon::~TfrmDielmon() {
    // FormDestroy: the reader is stopped and let out of any hand-over before the port closes.
    if (FComm) {
        if (S_.PortOpen) {
            FComm->Close();
        }
        FComm.reset();
    }
}

void TfrmDielmon::BuildMenu() {
    auto* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    auto action = [this](QMenu* menu, const QString& name, const QString& caption, auto slot) {
        QAction* a = menu != nullptr ? menu->addAction(caption) : menuBar()->addAction(caption);
        a->setObjectName(name);
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    QMenu* connectMenu = bar->addMenu(QStringLiteral("连接设备"));
    connectMenu->setObjectName(QStringLiteral("N1menu"));
    N1 = connectMenu->menuAction();
    N1->setObjectName(QStringLiteral("N1"));
    N7 = action(connectMenu, QStringLiteral("N7"), QStringLiteral("连接"), &TfrmDielmon::N7Click);
    N8 = action(connectMenu, QStringLiteral("N8"), QStringLiteral("断开连接"),
                &TfrmDielmon::N8Click);
    N2 = action(nullptr, QStringLiteral("N2"), QStringLiteral("通讯设置"), &TfrmDielmon::N2Click);
    N9 = action(nullptr, QStringLiteral("N9"), QStringLiteral("打开文件"), &TfrmDielmon::N9Click);
    N3 = action(nullptr, QStringLiteral("N3"), QStringLiteral("保存"), &TfrmDielmon::N3Click);
    N4 = action(nullptr, QStringLiteral("N4"), QStringLiteral("打印"), &TfrmDielmon::N4Click);
    N5 = action(nullptr, QStringLiteral("N5"), QStringLiteral("帮助"), &TfrmDielmon::N5Click);
    N6 = action(nullptr, QStringLiteral("N6"), QStringLiteral("退出"), &TfrmDielmon::N6Click);
}

QWidget* TfrmDielmon::BuildParameterPanel() {
    auto* column = new QWidget;
    column->setObjectName(QStringLiteral("Pnl_Left"));
    column->setFixedWidth(337);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);

    auto combo = [this](const QString& name, QWidget* parent, int x, int y, int width) {
        auto* c = new QComboBox(parent);
        c->setObjectName(name);
        c->setEditable(false);
        c->setGeometry(x, y, width, 24);
        connect(c, &QComboBox::activated, this, [this, c](int index) { PanelChoice(c, index); });
        return c;
    };
    auto edit = [this](const QString& name, QWidget* parent, int x, int y, int width) {
        auto* e = new QLineEdit(parent);
        e->setObjectName(name);
        e->setGeometry(x, y, width, 24);
        e->installEventFilter(this);
        return e;
    };

    auto* basic = new QGroupBox(QStringLiteral(" 基本参数设置"));
    basic->setObjectName(QStringLiteral("GroupBox1"));
    basic->setFixedHeight(232);
    Caption(QStringLiteral("仪器供电："), basic, 16, 34);
    CBox_EleType = combo(QStringLiteral("CBox_EleType"), basic, 96, 30, kConnTypeWide);
    Caption(QStringLiteral("接线方式："), basic, 16, 74);
    CBox_ConnType = combo(QStringLiteral("CBox_ConnType"), basic, 96, 70, kConnTypeNarrow);
    CBox_Model = combo(QStringLiteral("CBox_Model"), basic, 96 + kConnTypeWide - 97, 70, 97);
    Caption(QStringLiteral("标准电容："), basic, 16, 114);
    CBox_U = combo(QStringLiteral("CBox_U"), basic, 96, 110, kConnTypeWide);
    Caption(QStringLiteral("测试频率："), basic, 16, 154);
    CBox_Freq = combo(QStringLiteral("CBox_Freq"), basic, 96, 150, kConnTypeWide);
    Caption(QStringLiteral("测试电压："), basic, 16, 194);
    CBox_TestVolt = combo(QStringLiteral("CBox_TestVolt"), basic, 96, 190, kConnTypeNarrow);
    Edt_Volt = edit(QStringLiteral("Edt_Volt"), basic, 96 + kConnTypeNarrow + 2, 190, 85);
    Label2 = Caption(QStringLiteral("V"), basic, 96 + kConnTypeNarrow + 2 + 85 + 3, 194);
    Label2->setObjectName(QStringLiteral("Label2"));
    layout->addWidget(basic);

    auto* external = new QGroupBox(QStringLiteral("外标准电容参数设置"));
    external->setObjectName(QStringLiteral("GroupBox2"));
    external->setFixedHeight(112);
    Caption(QStringLiteral("电容值："), external, 16, 34);
    Edt_C = edit(QStringLiteral("Edt_C"), external, 96, 30, 190);
    Caption(QStringLiteral("pF"), external, 292, 34)->setObjectName(QStringLiteral("Label17"));
    Caption(QStringLiteral("介损值："), external, 16, 74);
    Edt_JS = edit(QStringLiteral("Edt_JS"), external, 96, 70, 190);
    Caption(QStringLiteral("%"), external, 292, 74)->setObjectName(QStringLiteral("Label18"));
    layout->addWidget(external);

    auto* cvt = new QGroupBox(QStringLiteral("CVT自激法参数设置"));
    cvt->setObjectName(QStringLiteral("GroupBox3"));
    cvt->setFixedHeight(192);
    Caption(QStringLiteral("高压电压上限："), cvt, 16, 34);
    CBox_VoltUp = edit(QStringLiteral("CBox_VoltUp"), cvt, 116, 30, 170);
    Caption(QStringLiteral("V"), cvt, 292, 34)->setObjectName(QStringLiteral("Label13"));
    Caption(QStringLiteral("高压电流上限："), cvt, 16, 74);
    CBox_CurrentUp = combo(QStringLiteral("CBox_CurrentUp"), cvt, 116, 70, 170);
    Caption(QStringLiteral("激励电压上限："), cvt, 16, 114);
    CBox_JLVoltUp = combo(QStringLiteral("CBox_JLVoltUp"), cvt, 116, 110, 170);
    Caption(QStringLiteral("激励电流上限："), cvt, 16, 154);
    CBox_JLCultUp = combo(QStringLiteral("CBox_JLCultUp"), cvt, 116, 150, 170);
    layout->addWidget(cvt);
    layout->addStretch(1);

    for (QLineEdit* e : {Edt_Volt, Edt_C, Edt_JS, CBox_VoltUp}) {
        connect(e, &QLineEdit::textEdited, this, [this, e](const QString& text) {
            const std::string gbk = G(text);
            if (e == Edt_Volt) {
                Panel_.Edt_Volt.Text = gbk;
            } else if (e == Edt_C) {
                Panel_.Edt_C.Text = gbk;
            } else if (e == Edt_JS) {
                Panel_.Edt_JS.Text = gbk;
            } else {
                Panel_.CBox_VoltUp.Text = gbk;
            }
        });
    }
    ApplyPanel();
    return column;
}

QWidget* TfrmDielmon::BuildOperations() {
    auto* box = new QGroupBox(QStringLiteral("操作选择"));
    box->setObjectName(QStringLiteral("GroupBox4"));
    auto* row = new QHBoxLayout(box);
    auto button = [this, box, row](const QString& name, const QString& caption, auto slot) {
        auto* b = new QPushButton(caption, box);
        b->setObjectName(name);
        b->setMinimumSize(130, 32);
        connect(b, &QPushButton::clicked, this, slot);
        row->addWidget(b);
        return b;
    };
    BBtn_StopTest = button(QStringLiteral("BBtn_StopTest"), QStringLiteral("停止测试"),
                           &TfrmDielmon::BBtn_StopTestClick);
    BBtn_StartTest = button(QStringLiteral("BBtn_StartTest"), QStringLiteral("开始测试"),
                            &TfrmDielmon::BBtn_StartTestClick);
    BBtn_UpHis = button(QStringLiteral("BBtn_UpHis"), QStringLiteral("上传历史数据索引"),
                        &TfrmDielmon::BBtn_UpHisClick);
    BBtn_DelHis = button(QStringLiteral("BBtn_DelHis"), QStringLiteral("清空历史数据"),
                         &TfrmDielmon::BBtn_DelHisClick);
    return box;
}

namespace {

// A panel of a result page: title strip of 35 pixels and the main result below it.
QWidget* ResultBlock(const QString& name, const QString& titleName, TextLabel*& title,
                     const QString& mainName, TextLabel*& main, QWidget* parent) {
    auto* block = new QWidget(parent);
    block->setObjectName(name);
    block->setFixedHeight(157);
    auto* v = new QVBoxLayout(block);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);
    title = MakeLabel(titleName, 27, Qt::AlignCenter, block);
    title->setFixedHeight(35);
    main = MakeLabel(mainName, 27, Qt::AlignHCenter | Qt::AlignBottom, block, true);
    v->addWidget(title);
    v->addWidget(main, 1);
    return block;
}

// The bordered box of transient notices, centred over a result page by ShowHint.
QWidget* HintPanel(const QString& name, const QString& labelName, TextLabel*& label,
                   QWidget* parent) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(name);
    panel->setFrameShape(QFrame::Box);
    panel->setLineWidth(1);
    panel->setAutoFillBackground(true);
    panel->setFixedSize(270, 161);
    label = MakeLabel(labelName, 24, Qt::AlignCenter, panel);
    label->setWordWrap(true);
    auto* v = new QVBoxLayout(panel);
    v->addWidget(label);
    panel->hide();
    return panel;
}

} // namespace

QWidget* TfrmDielmon::BuildDefaultPage() {
    auto* group = new QGroupBox(QStringLiteral("状态显示"));
    group->setObjectName(QStringLiteral("GroupBox5"));
    auto* v = new QVBoxLayout(group);
    Nbk_Sstate = new TNotebook(QStringLiteral("Nbk_Sstate"), group);

    auto* def = new QWidget;
    auto* defLayout = new QVBoxLayout(def);
    Lbl_Default1 = MakeLabel(QStringLiteral("Lbl_Default1"), 37, Qt::AlignCenter, def);
    defLayout->addWidget(Lbl_Default1);
    Nbk_Sstate->AddPage(QStringLiteral("DefPage"), def);

    auto* error = new QWidget;
    auto* errorLayout = new QVBoxLayout(error);
    Lbl_Error = MakeLabel(QStringLiteral("Lbl_Error"), 29, Qt::AlignCenter, error);
    Lbl_Error->setWordWrap(true);
    errorLayout->addWidget(Lbl_Error);
    Nbk_Sstate->AddPage(QStringLiteral("Error"), error);

    auto* info = new QWidget;
    auto* infoLayout = new QVBoxLayout(info);
    Lbl_Info = MakeLabel(QStringLiteral("Lbl_Info"), 29, Qt::AlignCenter, info);
    Lbl_Info->setWordWrap(true);
    infoLayout->addWidget(Lbl_Info);
    Nbk_Sstate->AddPage(QStringLiteral("Info"), info);

    auto* upVolt = new QWidget;
    auto* upLayout = new QVBoxLayout(upVolt);
    Lbl_Guding = MakeLabel(QStringLiteral("Lbl_Guding"), 27, Qt::AlignCenter, upVolt);
    Lbl_UpInfo = MakeLabel(QStringLiteral("Lbl_UpInfo"), 35, Qt::AlignCenter, upVolt);
    Lbl_UpInfo->SetGbkText(texts::kBoostingWait);
    auto* gaugeStrip = new QWidget(upVolt);
    gaugeStrip->setObjectName(QStringLiteral("Pnl_Gauge"));
    gaugeStrip->setFixedHeight(40);
    ProgBar_Step = new QProgressBar(gaugeStrip);
    ProgBar_Step->setObjectName(QStringLiteral("ProgBar_Step"));
    ProgBar_Step->setFixedSize(480, 24);
    ProgBar_Step->setRange(0, 10);
    ProgBar_Step->setValue(0);
    upLayout->addWidget(Lbl_Guding);
    upLayout->addWidget(Lbl_UpInfo, 1);
    upLayout->addWidget(gaugeStrip);
    Nbk_Sstate->AddPage(QStringLiteral("UpVolt"), upVolt);

    auto* show = new QWidget;
    auto* showLayout = new QVBoxLayout(show);
    showLayout->setSpacing(0);
    Panel13 = ResultBlock(QStringLiteral("Panel13"), QStringLiteral("Lbl_ShowState"), Lbl_ShowState,
                          QStringLiteral("LblCxRx"), LblCxRx, show);
    Label19 = MakeLabel(QStringLiteral("Label19"), 27, Qt::AlignHCenter | Qt::AlignTop, show);
    BitBtn4 = MakeButton(QStringLiteral("BitBtn4"), QStringLiteral("仪器保存"), nullptr);
    BitBtn5 = MakeButton(QStringLiteral("BitBtn5"), QStringLiteral("仪器打印"), nullptr);
    BitBtn6 = MakeButton(QStringLiteral("BitBtn6"), QStringLiteral("返回"), nullptr);
    auto* buttons = KeepButtonRow(QStringLiteral("Pnl_ShowStateButtons"),
                                  new ButtonRow(BitBtn4, BitBtn5, BitBtn6, show));
    showLayout->addWidget(Panel13);
    showLayout->addWidget(Label19, 1);
    showLayout->addWidget(buttons);
    Pnl_Hint = HintPanel(QStringLiteral("Pnl_Hint"), QStringLiteral("Label21"), Label21, show);
    connect(BitBtn4, &QPushButton::clicked, this, &TfrmDielmon::BitBtn4Click);
    connect(BitBtn5, &QPushButton::clicked, this, &TfrmDielmon::BitBtn5Click);
    connect(BitBtn6, &QPushButton::clicked, this, &TfrmDielmon::BitBtn6Click);
    Nbk_Sstate->AddPage(QStringLiteral("ShowState"), show);

    LblTime = MakeLabel(QStringLiteral("LblTime"), 20, Qt::AlignCenter, group);
    LblTime->setFixedHeight(32);
    v->addWidget(Nbk_Sstate, 1);
    v->addWidget(LblTime);
    return group;
}

ButtonRow* TfrmDielmon::KeepButtonRow(const QString& name, ButtonRow* row) {
    row->setObjectName(name);
    row->setFixedHeight(41);
    ButtonRows_.push_back(row);
    return row;
}

QWidget* TfrmDielmon::BuildHistoryPage() {
    auto* group = new QGroupBox(QStringLiteral("历史数据显示"));
    group->setObjectName(QStringLiteral("GroupBox6"));
    auto* v = new QVBoxLayout(group);
    Nbk_ShowHis = new TNotebook(QStringLiteral("Nbk_ShowHis"), group);

    auto* all = new QWidget;
    auto* allLayout = new QVBoxLayout(all);
    allLayout->setContentsMargins(0, 0, 0, 0);
    Lbl_Num = MakeLabel(QStringLiteral("Lbl_Num"), 27, Qt::AlignCenter, all);
    Lbl_Num->setFixedHeight(47);
    Lbl_Num->SetGbkText(HistoryCountText(9));
    LView_History = new QTableWidget(0, 3, all);
    LView_History->setObjectName(QStringLiteral("LView_History"));
    LView_History->setHorizontalHeaderLabels(
        {QString(), QStringLiteral("编号"), QStringLiteral("测试时间")});
    LView_History->verticalHeader()->hide();
    LView_History->horizontalHeader()->setMinimumSectionSize(0);
    LView_History->setColumnWidth(0, 2);
    LView_History->setColumnWidth(1, 130);
    LView_History->setColumnWidth(2, 400);
    LView_History->setSelectionBehavior(QAbstractItemView::SelectRows);
    LView_History->setSelectionMode(QAbstractItemView::SingleSelection);
    LView_History->setEditTriggers(QAbstractItemView::NoEditTriggers);
    LView_History->setShowGrid(true);
    LView_History->setSortingEnabled(false);
    LView_History->setFont(SongFont(24));
    LView_History->verticalHeader()->setDefaultSectionSize(30);
    connect(LView_History, &QTableWidget::cellDoubleClicked, this, [this] { BitBtn7Click(); });
    BitBtn7 = MakeButton(QStringLiteral("BitBtn7"), QStringLiteral("打开"), nullptr);
    BitBtn8 = MakeButton(QStringLiteral("BitBtn8"), QStringLiteral("删除"), nullptr);
    BitBtn9 = MakeButton(QStringLiteral("BitBtn9"), QStringLiteral("返回"), nullptr);
    auto* allButtons = KeepButtonRow(QStringLiteral("Pnl_ShowAllButtons"),
                                     new ButtonRow(BitBtn7, BitBtn8, BitBtn9, all));
    allLayout->addWidget(Lbl_Num);
    allLayout->addWidget(LView_History, 1);
    allLayout->addWidget(allButtons);
    connect(BitBtn7, &QPushButton::clicked, this, &TfrmDielmon::BitBtn7Click);
    connect(BitBtn8, &QPushButton::clicked, this, &TfrmDielmon::BitBtn8Click);
    connect(BitBtn9, &QPushButton::clicked, this, &TfrmDielmon::BitBtn9Click);
    Nbk_ShowHis->AddPage(QStringLiteral("ShowAll"), all);

    auto* one = new QWidget;
    auto* oneLayout = new QVBoxLayout(one);
    oneLayout->setSpacing(0);
    Panel27 = ResultBlock(QStringLiteral("Panel27"), QStringLiteral("Label22"), Label22,
                          QStringLiteral("Label23"), Label23, one);
    Label24 = MakeLabel(QStringLiteral("Label24"), 27, Qt::AlignHCenter | Qt::AlignTop, one);
    BitBtn10 = MakeButton(QStringLiteral("BitBtn10"), QStringLiteral("仪器打印"), nullptr);
    BitBtn11 = MakeButton(QStringLiteral("BitBtn11"), QStringLiteral("删除"), nullptr);
    BitBtn12 = MakeButton(QStringLiteral("BitBtn12"), QStringLiteral("返回"), nullptr);
    auto* oneButtons = KeepButtonRow(QStringLiteral("Pnl_ShowOneButtons"),
                                     new ButtonRow(BitBtn10, BitBtn11, BitBtn12, one));
    oneLayout->addWidget(Panel27);
    oneLayout->addWidget(Label24, 1);
    oneLayout->addWidget(oneButtons);
    Panel33 = HintPanel(QStringLiteral("Panel33"), QStringLiteral("Label26"), Label26, one);
    connect(BitBtn10, &QPushButton::clicked, this, &TfrmDielmon::BitBtn10Click);
    connect(BitBtn11, &QPushButton::clicked, this, &TfrmDielmon::BitBtn8Click);
    connect(BitBtn12, &QPushButton::clicked, this, &TfrmDielmon::BitBtn12Click);
    Nbk_ShowHis->AddPage(QStringLiteral("ShowOne"), one);

    auto* wait = new QWidget;
    auto* waitLayout = new QVBoxLayout(wait);
    LblHis_ShowInfo = MakeLabel(QStringLiteral("LblHis_ShowInfo"), 29, Qt::AlignCenter, wait);
    LblHis_ShowInfo->SetGbkText(texts::kReadingData);
    waitLayout->addWidget(LblHis_ShowInfo);
    Nbk_ShowHis->AddPage(QStringLiteral("ShowInfo"), wait);

    v->addWidget(Nbk_ShowHis);
    return group;
}

QWidget* TfrmDielmon::BuildUploadedPage() {
    auto* group = new QGroupBox(QStringLiteral("上位机历史数据显示"));
    group->setObjectName(QStringLiteral("GroupBox7"));
    auto* v = new QVBoxLayout(group);
    v->setSpacing(0);
    Label20 = MakeLabel(QStringLiteral("Label20"), 27, Qt::AlignCenter, group);
    Label20->setFixedHeight(35);
    Label25 =
        MakeLabel(QStringLiteral("Label25"), 27, Qt::AlignHCenter | Qt::AlignBottom, group, true);
    Label25->setFixedHeight(158);
    Label27 = MakeLabel(QStringLiteral("Label27"), 27, Qt::AlignHCenter | Qt::AlignTop, group);
    BitBtn15 = MakeButton(QStringLiteral("BitBtn15"), QStringLiteral("返回"), nullptr);
    auto* buttons =
        KeepButtonRow(QStringLiteral("Pnl_UpHisButtons"), new ButtonRow(BitBtn15, group));
    connect(BitBtn15, &QPushButton::clicked, this, &TfrmDielmon::BitBtn15Click);
    v->addWidget(Label20);
    v->addWidget(Label25);
    v->addWidget(Label27, 1);
    v->addWidget(buttons);
    return group;
}

void TfrmDielmon::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!Shown_) {
        Shown_ = true;
        FormShow();
    }
}

void TfrmDielmon::FormShow() {
    Nbk_AllState->SetActivePage(QStringLiteral("Default"));
    Nbk_Sstate->SetActivePage(QStringLiteral("DefPage"));
    // Digits only in the two voltage fields.
    static const QRegularExpression digits(QStringLiteral("[0-9]*"));
    Edt_Volt->setValidator(new QRegularExpressionValidator(digits, Edt_Volt));
    CBox_VoltUp->setValidator(new QRegularExpressionValidator(digits, CBox_VoltUp));
    ResetPanel(false);
    Panel_.FillFrequencyList();
    ApplyPanel();
    OpenPort();
    BBtn_StopTest->setEnabled(false);
    Pnl_Hint->hide();
    Panel33->hide();
    ArrangeLayout();
}

void TfrmDielmon::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    ArrangeLayout();
}

void TfrmDielmon::ArrangeLayout() {
    LblTime->move(0, LblTime->y());
    if (QWidget* strip = ProgBar_Step->parentWidget()) {
        ProgBar_Step->move((strip->width() - ProgBar_Step->width()) / 2,
                           (strip->height() - ProgBar_Step->height()) / 2);
    }
    for (ButtonRow* row : ButtonRows_) {
        row->Arrange();
    }
    Lbl_Default1->SetGbkText(texts::kIdleText);
}

std::string TfrmDielmon::PortPath() const {
    return PortOverride_ ? *PortOverride_ : DevicePath(Settings_.ComName);
}

void TfrmDielmon::OpenPort() {
    const std::string path = PortPath();
    if (!FComm) {
        FComm = std::make_unique<TSerialComm>(Log_);
    }
    if (S_.PortOpen) {
        FComm->Close();
    }
    S_.PortOpen = false;
    LineLost_ = false;
    FComm->SetReceiveCallback(&Receiver_);
    if (FComm->Open(path, static_cast<std::uint32_t>(Settings_.Baud),
                    static_cast<std::uint8_t>(Settings_.DataNum),
                    static_cast<std::uint8_t>(Settings_.Mark),
                    static_cast<std::uint8_t>(Settings_.StopNum), 0)) {
        S_.PortOpen = true;
    } else {
        Message(path + texts::kOpenPortFailed + PortRefusalSecondLine(FComm->LastRefusal(), path),
                Dialogs::Icon::None);
    }
}

void TfrmDielmon::Timer_NowTimer() {
    // 1. An instrument error has been on show for 6 s: the test is over.
    if (S_.ErrorShown && SecondsSince(S_.MessageTime) > 5) {
        S_.TestRunning = false;
        Nbk_AllState->SetActivePage(QStringLiteral("Default"));
        Nbk_Sstate->SetActivePage(QStringLiteral("DefPage"));
        ArrangeLayout();
        ReturnToIdle();
        S_.ErrorShown = false;
        SetPanelLocked(false);
    }
    // 2. A transient notice has been on show for 3 s.
    if (S_.InfoShown && SecondsSince(S_.MessageTime) > 2) {
        if (S_.HintVisible) {
            ShowHint({}, false);
        } else if (Nbk_AllState->ActivePage() == QStringLiteral("Default")) {
            Nbk_Sstate->SetActivePage(QStringLiteral("DefPage"));
        }
        S_.InfoShown = false;
    }
    // 3. No answer to "连接" within 6 s.
    if (!S_.InstrumentAnswered && SecondsSince(S_.MessageTime) > 5) {
        Nbk_AllState->SetActivePage(QStringLiteral("Default"));
        Lbl_Info->SetGbkText(texts::kPortError);
        Nbk_Sstate->SetActivePage(QStringLiteral("Info"));
    }
    // 4. The clock.
    LblTime->SetGbkText(ClockText(ToLocal(Now())));
    // 5. A close that the instrument did not answer within 3 s.
    if (S_.CloseRequested && !S_.TestRunning && SecondsSince(S_.CloseRequestTime) > 2) {
        S_.CloseAllowed = true;
        close();
    }
    // A vanished line is reopened as soon as its device is back.
    if (LineLost_ && DeviceExists(PortPath())) {
        LineLost_ = false;
        if (FComm) {
            FComm->Close();
            S_.PortOpen = FComm->Open(PortPath(), static_cast<std::uint32_t>(Settings_.Baud),
                                      static_cast<std::uint8_t>(Settings_.DataNum),
                                      static_cast<std::uint8_t>(Settings_.Mark),
                                      static_cast<std::uint8_t>(Settings_.StopNum), 0);
            LineLost_ = !S_.PortOpen;
        }
    }
}

void TfrmDielmon::LineLost() {
    // As when an error page expires: the test ends, the panel is unlocked, and the operator
    // reads why. A panel that no instrument has filled (not connected yet, or waiting for the
    // answer to "连接") stays empty and disabled: there is nothing to start a test with.
    const bool panelInUse = S_.TestRunning || Panel_.BBtn_StartTest || BBtn_StopTest->isEnabled();
    LineLost_ = true;
    DeletePending_ = false;
    if (FComm) {
        FComm->Close();
    }
    S_.PortOpen = false;
    S_.TestRunning = false;
    if (panelInUse) {
        ReturnToIdle();
        SetPanelLocked(false);
    }
    Nbk_AllState->SetActivePage(QStringLiteral("Default"));
    Lbl_Info->SetGbkText(texts::kPortError);
    Nbk_Sstate->SetActivePage(QStringLiteral("Info"));
    UpdateFileMenu();
}

void TfrmDielmon::closeEvent(QCloseEvent* event) {
    if (FormCloseQuery()) {
        event->accept();
    } else {
        event->ignore();
    }
}

bool TfrmDielmon::FormCloseQuery() {
    S_.CloseRequestTime = Now();
    S_.CloseRequested = true;
    if (S_.TestRunning) {
        Message(texts::kStopTestFirst, Dialogs::Icon::Information);
        return false;
    }
    if (!S_.CloseAllowed) {
        SendShortCommand(CmdDisconnect);
        return false;
    }
    return true;
}

void TfrmDielmon::N7Click() {
    DeletePending_ = false;
    ResetPanel(false);
    S_.MessageTime = Now();
    S_.InstrumentAnswered = false;
    SendShortCommand(CmdConnect);
}

void TfrmDielmon::N8Click() {
    SendShortCommand(CmdDisconnect);
    ResetPanel(false);
}

void TfrmDielmon::N2Click() {
    {
        TfrmSetComm dialog(Settings_, ConfigFileName_, *Dialogs_, this);
        dialog.exec();
    }
    OpenPort();
}

void TfrmDielmon::N5Click() {
    const QString path = Q(Settings_.HelpFileName);
    if (!path.isEmpty() && QFileInfo::exists(path)) {
        Dialogs_->OpenDocument(path);
    }
}

void TfrmDielmon::N6Click() {
    close();
}

void TfrmDielmon::ReturnToIdle() {
    S_.InstrumentAnswered = true;
    Nbk_AllState->SetActivePage(QStringLiteral("Default"));
    Nbk_Sstate->SetActivePage(QStringLiteral("DefPage"));
    Panel_.ResetPanel(true);
    Panel_.SetExternalStandardEnabled(Panel_.CBox_U.Text() == texts::kExternalStandard);
    Panel_.SetCvtMode(Panel_.CBox_ConnType.Text() == texts::kWiringCvt);
    ApplyPanel();
    BBtn_StopTest->setEnabled(false);
    BBtn_StartTest->setEnabled(true);
}

void TfrmDielmon::UpdateFileMenu() {
    const QString all = Nbk_AllState->ActivePage();
    const bool result = all == QStringLiteral("UpHis") ||
                        (all == QStringLiteral("HisData") &&
                         Nbk_ShowHis->ActivePage() == QStringLiteral("ShowOne")) ||
                        (all == QStringLiteral("Default") &&
                         Nbk_Sstate->ActivePage() == QStringLiteral("ShowState"));
    N3->setEnabled(result);
    N4->setEnabled(result);
}

void TfrmDielmon::SendShortCommand(std::uint8_t code, std::uint8_t record) {
    const auto frame = BuildShortCommand(code, record);
    Send(frame.data(), static_cast<int>(frame.size()));
}

void TfrmDielmon::Send(const std::uint8_t* frame, int length) {
    if (!FComm) {
        FComm = std::make_unique<TSerialComm>(Log_);
    }
    FComm->Send(frame, length);
}

Dialogs::Answer TfrmDielmon::Message(const std::string& text, Dialogs::Icon icon,
                                     Dialogs::Buttons buttons) {
    return Dialogs_->Message(this, Q(text), Q(texts::kPrompt), icon, buttons);
}

} // namespace dielmon

#include "mainwindow.h"

#include "archivewindow.h"
#include "core/commands.h"
#include "core/config.h"
#include "core/gbk.h"
#include "core/helpers.h"
#include "core/history.h"
#include "core/texts.h"
#include "labserver.h"
#include "portrefusal.h"
#include "qtgbk.h"
#include "serial/commport.h"
#include "serial/portlist.h"
#include "serial/portlock.h"
#include "setcomm.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QFont>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenuBar>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <iostream>
#include <sys/stat.h>

namespace dielmon {

namespace {

const QStringList& SongStandIns() {
    static const QStringList faces{QStringLiteral("SimSun"),
                                   QStringLiteral("NSimSun"),
                                   QStringLiteral("AR PL UMing CN"),
                                   QStringLiteral("AR PL UMing TW"),
                                   QStringLiteral("Noto Serif CJK SC"),
                                   QStringLiteral("Noto Sans CJK SC"),
                                   QStringLiteral("WenQuanYi Zen Hei")};
    return faces;
}

} // namespace

void InstallFontSubstitutes() {
    QFont::insertSubstitutions(QStringLiteral("宋体"), SongStandIns());
}

QString SongFamily() {
    // Named outright rather than left to the substitutes, the face draws a label's letters and
    // digits as well as its Chinese: a guessed family leaves each script to the fallback rules.
    for (const QString& face : QStringList{QStringLiteral("宋体")} + SongStandIns()) {
        if (QFontDatabase::hasFamily(face)) {
            return face;
        }
    }
    return QStringLiteral("宋体");
}

QFont SongFont(int pixelSize, bool bold) {
    QFont f(SongFamily());
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

Dialogs::Icon IconOf(MessageRequest::Icon icon) {
    switch (icon) {
    case MessageRequest::Icon::None:
        break;
    case MessageRequest::Icon::Information:
        return Dialogs::Icon::Information;
    case MessageRequest::Icon::Question:
        return Dialogs::Icon::Question;
    case MessageRequest::Icon::Warning:
        return Dialogs::Icon::Warning;
    }
    return Dialogs::Icon::None;
}

QLabel* Caption(const QString& text, QWidget* parent, int x, int y) {
    auto* l = new QLabel(text, parent);
    l->move(x, y);
    l->adjustSize();
    return l;
}

// The verdict on a result, below its texts: a line of its own that moves none of them.
QLabel* VerdictLabel(const QString& name, QWidget* parent) {
    auto* l = new QLabel(parent);
    l->setObjectName(name);
    l->setAlignment(Qt::AlignCenter);
    l->setWordWrap(true);
    l->setFont(SongFont(16, true));
    l->setContentsMargins(6, 3, 6, 3);
    l->hide();
    return l;
}

} // namespace

TfrmDielmon::TfrmDielmon(const WindowSetup& setup, QWidget* parent)
    : QMainWindow(parent), Clock_(setup.TimeSource != nullptr ? setup.TimeSource : &DefaultClock()),
      Dialogs_(setup.DialogSource), Folders_(setup.ChosenFolders()),
      ProgramFolder_(setup.ProgramFolder), PortOverride_(setup.Port), Trace_(setup.Trace),
      Controller_(*Clock_), Log_(DebugLog::Folder{Folders_.LogFolder}, *Clock_),
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
            this, [this] { Apply(Controller_.LineLost()); }, Qt::QueuedConnection);
    });

    // FormCreate
    ConfigFileName_ = Folders_.ConfigFile;
    Settings_ = LoadConfig(ConfigFileName_);
    // The archive of every result and the conditions given last time; what it must tell is
    // told once the window is on screen.
    archive::ResultKeeper::Options keeping;
    keeping.DataFolder = Folders_.DataFolder;
    keeping.Time = Clock_;
    Keeper_ = std::make_unique<archive::ResultKeeper>(keeping);
    StartTell_ = Keeper_->Start();
    // The correction methods and limit profiles shipped beside the program and the lab's own.
    const std::string program = ProgramFolder_.empty()
                                    ? QCoreApplication::applicationDirPath().toStdString() + "/"
                                    : ProgramFolder_;
    Judge_.Load(assess::ShippedFolder(program), assess::LabFolder(Folders_));
    // The lab's server of Config.ini: synchronised from the start, on the worker's thread.
    LabSync::Setup lab;
    lab.ArchivePath = Keeper_->ArchivePath();
    lab.Time = Clock_;
    Lab_ = std::make_unique<LabSync>(std::move(lab));
    Lab_->SetServer(LoadArchiveServer(ConfigFileName_));

    setObjectName(QStringLiteral("frmDielmon"));
    setWindowTitle(Q(texts::kCaption));
    setFont(SongFont(13));
    resize(1280, 720);
    // Below this the pages scroll; the panel and the operation buttons always fit across.
    setMinimumSize(960, 540);

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
    Labels_ = {LblTime, Lbl_Default1,    Lbl_Error, Lbl_Info, Lbl_Guding, Lbl_UpInfo, Lbl_ShowState,
               LblCxRx, Label19,         Label21,   Lbl_Num,  Label22,    Label23,    Label24,
               Label26, LblHis_ShowInfo, Label20,   Label25,  Label27};
    Mirror();
}

TfrmDielmon::~TfrmDielmon() {
    // FormDestroy: the reader is stopped and let out of any hand-over before the port closes.
    if (FComm) {
        if (State().PortOpen) {
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

    // The result archive, after every item of the specified menu.
    QMenu* archiveMenu = bar->addMenu(QStringLiteral("结果档案"));
    archiveMenu->setObjectName(QStringLiteral("N_ArchiveMenu"));
    N_Archive = archiveMenu->menuAction();
    N_Archive->setObjectName(QStringLiteral("N_Archive"));
    N_ArchiveOpen = action(archiveMenu, QStringLiteral("N_ArchiveOpen"),
                           QStringLiteral("结果档案…"), &TfrmDielmon::N_ArchiveOpenClick);
    N_ArchiveDownload =
        action(archiveMenu, QStringLiteral("N_ArchiveDownload"), QStringLiteral("下载全部记录…"),
               &TfrmDielmon::N_ArchiveDownloadClick);
    archiveMenu->addSeparator();
    N_ArchiveServer = action(archiveMenu, QStringLiteral("N_ArchiveServer"),
                             QStringLiteral("档案服务器…"), &TfrmDielmon::N_ArchiveServerClick);
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
    layout->addWidget(BuildConditions());
    layout->addStretch(1);

    const std::pair<QLineEdit*, PanelEdit> fields[] = {{Edt_Volt, PanelEdit::Edt_Volt},
                                                       {Edt_C, PanelEdit::Edt_C},
                                                       {Edt_JS, PanelEdit::Edt_JS},
                                                       {CBox_VoltUp, PanelEdit::CBox_VoltUp}};
    for (const auto& [e, field] : fields) {
        connect(e, &QLineEdit::textEdited, this, [this, field](const QString& text) {
            Apply(Controller_.PanelEdited(field, G(text)));
        });
    }
    GuardComboWheel(column);
    // On a short screen the column scrolls; its 337 pixels stay clear of the scroll bar.
    auto* scroll = ScrollPage(column);
    scroll->setObjectName(QStringLiteral("Pnl_LeftScroll"));
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setFixedWidth(337 + scroll->verticalScrollBar()->sizeHint().width());
    return scroll;
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
    main->SetHalfCellGrid(true);
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
    Nbk_Sstate->AddPage(QStringLiteral("DefPage"), ScrollPage(def));

    auto* error = new QWidget;
    auto* errorLayout = new QVBoxLayout(error);
    Lbl_Error = MakeLabel(QStringLiteral("Lbl_Error"), 29, Qt::AlignCenter, error);
    Lbl_Error->setWordWrap(true);
    errorLayout->addWidget(Lbl_Error);
    Nbk_Sstate->AddPage(QStringLiteral("Error"), ScrollPage(error));

    auto* info = new QWidget;
    auto* infoLayout = new QVBoxLayout(info);
    Lbl_Info = MakeLabel(QStringLiteral("Lbl_Info"), 29, Qt::AlignCenter, info);
    Lbl_Info->setWordWrap(true);
    infoLayout->addWidget(Lbl_Info);
    Nbk_Sstate->AddPage(QStringLiteral("Info"), ScrollPage(info));

    auto* upVolt = new QWidget;
    auto* upLayout = new QVBoxLayout(upVolt);
    Lbl_Guding = MakeLabel(QStringLiteral("Lbl_Guding"), 27, Qt::AlignCenter, upVolt);
    Lbl_UpInfo = MakeLabel(QStringLiteral("Lbl_UpInfo"), 35, Qt::AlignCenter, upVolt);
    Lbl_UpInfo->SetHalfCellGrid(true);
    auto* gaugeStrip = new QWidget(upVolt);
    gaugeStrip->setObjectName(QStringLiteral("Pnl_Gauge"));
    gaugeStrip->setFixedHeight(40);
    ProgBar_Step = new QProgressBar(gaugeStrip);
    ProgBar_Step->setObjectName(QStringLiteral("ProgBar_Step"));
    ProgBar_Step->setFixedSize(480, 24);
    ProgBar_Step->setRange(0, 10);
    ProgBar_Step->setValue(0);
    ProgBar_Step->setTextVisible(false);
    upLayout->addWidget(Lbl_Guding);
    upLayout->addWidget(Lbl_UpInfo, 1);
    upLayout->addWidget(gaugeStrip);
    Nbk_Sstate->AddPage(QStringLiteral("UpVolt"), ScrollPage(upVolt));

    auto* show = new QWidget;
    auto* showLayout = new QVBoxLayout(show);
    showLayout->setSpacing(0);
    Panel13 = ResultBlock(QStringLiteral("Panel13"), QStringLiteral("Lbl_ShowState"), Lbl_ShowState,
                          QStringLiteral("LblCxRx"), LblCxRx, show);
    Label19 = MakeLabel(QStringLiteral("Label19"), 27, Qt::AlignHCenter | Qt::AlignTop, show);
    Label19->SetHalfCellGrid(true);
    BitBtn4 = MakeButton(QStringLiteral("BitBtn4"), QStringLiteral("仪器保存"), nullptr);
    BitBtn5 = MakeButton(QStringLiteral("BitBtn5"), QStringLiteral("仪器打印"), nullptr);
    BitBtn6 = MakeButton(QStringLiteral("BitBtn6"), QStringLiteral("返回"), nullptr);
    auto* buttons = KeepButtonRow(QStringLiteral("Pnl_ShowStateButtons"),
                                  new ButtonRow(BitBtn4, BitBtn5, BitBtn6, show));
    showLayout->addWidget(Panel13);
    showLayout->addWidget(Label19, 1);
    Lbl_Assessment = VerdictLabel(QStringLiteral("Lbl_Assessment"), show);
    showLayout->addWidget(Lbl_Assessment);
    showLayout->addWidget(buttons);
    Pnl_Hint = HintPanel(QStringLiteral("Pnl_Hint"), QStringLiteral("Label21"), Label21, show);
    connect(BitBtn4, &QPushButton::clicked, this, &TfrmDielmon::BitBtn4Click);
    connect(BitBtn5, &QPushButton::clicked, this, &TfrmDielmon::BitBtn5Click);
    connect(BitBtn6, &QPushButton::clicked, this, &TfrmDielmon::BitBtn6Click);
    Nbk_Sstate->AddPage(QStringLiteral("ShowState"), ScrollPage(show));

    // The clock's strip spans the group inside its margins, so that ArrangeLayout's left edge
    // and the layout's agree and the clock never shifts between pages and frames.
    auto* clockStrip = new QWidget(group);
    clockStrip->setObjectName(QStringLiteral("Pnl_Time"));
    clockStrip->setFixedHeight(32);
    auto* clockLayout = new QHBoxLayout(clockStrip);
    clockLayout->setContentsMargins(0, 0, 0, 0);
    LblTime = MakeLabel(QStringLiteral("LblTime"), 20, Qt::AlignCenter, clockStrip);
    clockLayout->addWidget(LblTime);
    v->addWidget(Nbk_Sstate, 1);
    v->addWidget(clockStrip);
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
    LView_History->horizontalHeader()->setFont(LView_History->font());
    LView_History->verticalHeader()->setDefaultSectionSize(30);
    connect(LView_History, &QTableWidget::cellDoubleClicked, this, [this] { BitBtn7Click(); });
    connect(LView_History, &QTableWidget::itemSelectionChanged, this, [this] {
        const auto rows = LView_History->selectionModel()->selectedRows();
        Apply(Controller_.SelectRecord(rows.isEmpty() ? -1 : rows.first().row()));
    });
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
    Nbk_ShowHis->AddPage(QStringLiteral("ShowAll"), ScrollPage(all));

    auto* one = new QWidget;
    auto* oneLayout = new QVBoxLayout(one);
    oneLayout->setSpacing(0);
    Panel27 = ResultBlock(QStringLiteral("Panel27"), QStringLiteral("Label22"), Label22,
                          QStringLiteral("Label23"), Label23, one);
    Label24 = MakeLabel(QStringLiteral("Label24"), 27, Qt::AlignHCenter | Qt::AlignTop, one);
    Label24->SetHalfCellGrid(true);
    BitBtn10 = MakeButton(QStringLiteral("BitBtn10"), QStringLiteral("仪器打印"), nullptr);
    BitBtn11 = MakeButton(QStringLiteral("BitBtn11"), QStringLiteral("删除"), nullptr);
    BitBtn12 = MakeButton(QStringLiteral("BitBtn12"), QStringLiteral("返回"), nullptr);
    auto* oneButtons = KeepButtonRow(QStringLiteral("Pnl_ShowOneButtons"),
                                     new ButtonRow(BitBtn10, BitBtn11, BitBtn12, one));
    oneLayout->addWidget(Panel27);
    oneLayout->addWidget(Label24, 1);
    Lbl_AssessmentOne = VerdictLabel(QStringLiteral("Lbl_AssessmentOne"), one);
    oneLayout->addWidget(Lbl_AssessmentOne);
    oneLayout->addWidget(oneButtons);
    Panel33 = HintPanel(QStringLiteral("Panel33"), QStringLiteral("Label26"), Label26, one);
    connect(BitBtn10, &QPushButton::clicked, this, &TfrmDielmon::BitBtn10Click);
    connect(BitBtn11, &QPushButton::clicked, this, &TfrmDielmon::BitBtn8Click);
    connect(BitBtn12, &QPushButton::clicked, this, &TfrmDielmon::BitBtn12Click);
    Nbk_ShowHis->AddPage(QStringLiteral("ShowOne"), ScrollPage(one));

    auto* wait = new QWidget;
    auto* waitLayout = new QVBoxLayout(wait);
    LblHis_ShowInfo = MakeLabel(QStringLiteral("LblHis_ShowInfo"), 29, Qt::AlignCenter, wait);
    waitLayout->addWidget(LblHis_ShowInfo);
    Nbk_ShowHis->AddPage(QStringLiteral("ShowInfo"), ScrollPage(wait));

    v->addWidget(Nbk_ShowHis);
    return group;
}

QWidget* TfrmDielmon::BuildUploadedPage() {
    auto* group = new QGroupBox(QStringLiteral("上位机历史数据显示"));
    group->setObjectName(QStringLiteral("GroupBox7"));
    auto* outer = new QVBoxLayout(group);
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);
    Label20 = MakeLabel(QStringLiteral("Label20"), 27, Qt::AlignCenter, page);
    Label20->setFixedHeight(35);
    Label25 =
        MakeLabel(QStringLiteral("Label25"), 27, Qt::AlignHCenter | Qt::AlignBottom, page, true);
    // A file's main result may hold more lines than a live one: the strip grows to show them.
    Label25->setMinimumHeight(158);
    Label25->SetHalfCellGrid(true);
    Label27 = MakeLabel(QStringLiteral("Label27"), 27, Qt::AlignHCenter | Qt::AlignTop, page);
    Label27->SetHalfCellGrid(true);
    BitBtn15 = MakeButton(QStringLiteral("BitBtn15"), QStringLiteral("返回"), nullptr);
    auto* buttons =
        KeepButtonRow(QStringLiteral("Pnl_UpHisButtons"), new ButtonRow(BitBtn15, page));
    connect(BitBtn15, &QPushButton::clicked, this, &TfrmDielmon::BitBtn15Click);
    v->addWidget(Label20);
    v->addWidget(Label25);
    v->addWidget(Label27, 1);
    v->addWidget(buttons);
    outer->addWidget(ScrollPage(page));
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
    // Digits only in the two voltage fields.
    static const QRegularExpression digits(QStringLiteral("[0-9]*"));
    Edt_Volt->setValidator(new QRegularExpressionValidator(digits, Edt_Volt));
    CBox_VoltUp->setValidator(new QRegularExpressionValidator(digits, CBox_VoltUp));
    Apply(Controller_.FormShow());
    OpenPort();
    Tell(StartTell_);
    StartTell_.clear();
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
}

std::string TfrmDielmon::PortPath() const {
    return PortOverride_ ? *PortOverride_ : DevicePath(Settings_.ComName);
}

void TfrmDielmon::OpenPort() {
    const std::string path = PortPath();
    if (!FComm) {
        FComm = std::make_unique<TSerialComm>(Log_);
    }
    if (State().PortOpen) {
        FComm->Close();
    }
    FComm->SetReceiveCallback(&Receiver_);
    const bool ok = FComm->Open(path, static_cast<std::uint32_t>(Settings_.Baud),
                                static_cast<std::uint8_t>(Settings_.DataNum),
                                static_cast<std::uint8_t>(Settings_.Mark),
                                static_cast<std::uint8_t>(Settings_.StopNum), 0);
    LogOpenFailure(ok, path, true);
    Apply(Controller_.PortOpened(
        ok, path, ok ? std::string() : PortRefusalSecondLine(FComm->LastRefusal(), path)));
}

void TfrmDielmon::LogOpenFailure(bool ok, const std::string& path, bool always) {
    // Why a port did not open goes to the debug log; the clock's attempts to reopen it write a
    // line only when the reason changes.
    const std::string why = ok ? std::string() : DescribeOpenFailure(FComm->LastRefusal());
    if (!ok && (always || why != LastOpenFailure_)) {
        Log_.WriteLog(Utf8ToGbk("串口 " + path + " 打开失败：") + why);
    }
    LastOpenFailure_ = why;
}

void TfrmDielmon::ReopenPort() {
    // A vanished line is reopened as soon as its device is back.
    if (!FComm || !DeviceExists(PortPath())) {
        return;
    }
    FComm->Close();
    const bool ok = FComm->Open(PortPath(), static_cast<std::uint32_t>(Settings_.Baud),
                                static_cast<std::uint8_t>(Settings_.DataNum),
                                static_cast<std::uint8_t>(Settings_.Mark),
                                static_cast<std::uint8_t>(Settings_.StopNum), 0);
    LogOpenFailure(ok, PortPath(), false);
    Apply(Controller_.PortReopened(ok));
}

void TfrmDielmon::DispatchFrame(const std::uint8_t* frame, int length) {
    if (length >= 5) {
        ++FramesDispatched_;
    }
    Apply(Controller_.Frame(frame, length));
}

void TfrmDielmon::Timer_NowTimer() {
    Apply(Controller_.Tick());
}

void TfrmDielmon::Apply(const Effects& e) {
    // A completed result is committed to the archive before anything of it is on show.
    std::vector<std::string> tell;
    KeepResults(e, tell);
    Mirror();
    for (const auto& frame : e.Frames) {
        Send(frame.data(), static_cast<int>(frame.size()));
    }
    if (Trace_) {
        for (const std::string& text : e.DebugOutput) {
            std::cerr << GbkToUtf8(text) << std::endl;
        }
    }
    for (const MessageRequest& m : e.Messages) {
        Message(m.Text, IconOf(m.Kind));
    }
    Tell(tell);
    if (e.Download) {
        ShowDownload(*e.Download);
    }
    if (DownloadLost_ > 0 && Controller_.Downloading()) {
        // The archive takes no more records: reading on would keep nothing.
        Apply(Controller_.CancelDownload());
    }
    if (e.ClosePort && FComm) {
        FComm->Close();
    }
    if (e.ReopenPort) {
        ReopenPort();
    }
    if (e.CloseWindow) {
        close();
    }
}

void TfrmDielmon::Mirror() {
    const WindowView& v = Controller_.View();
    Nbk_AllState->SetActivePage(QLatin1String(PageName(v.AllState)));
    Nbk_Sstate->SetActivePage(QLatin1String(PageName(v.Sstate)));
    Nbk_ShowHis->SetActivePage(QLatin1String(PageName(v.ShowHis)));
    // The gauge first: whoever watches a label change (the measuring programs) finds the
    // gauge of the same frame.
    if (ProgBar_Step->maximum() != v.GaugeMaximum) {
        ProgBar_Step->setMaximum(v.GaugeMaximum);
    }
    ProgBar_Step->setValue(v.GaugePosition);
    ProgBar_Step->setProperty("steps", v.GaugeSteps);
    for (int k = 0; k < kLabelCount; ++k) {
        if (Labels_[static_cast<std::size_t>(k)]->GbkText() !=
            v.Texts[static_cast<std::size_t>(k)]) {
            Labels_[static_cast<std::size_t>(k)]->SetGbkText(v.Texts[static_cast<std::size_t>(k)]);
        }
    }
    // A hint is centred over its page when it is put on show.
    for (auto [panel, visible] :
         {std::pair{Pnl_Hint, v.Pnl_HintVisible}, std::pair{Panel33, v.Panel33Visible}}) {
        if (visible && !panel->isVisible()) {
            const QWidget* parent = panel->parentWidget();
            panel->move((parent->width() - panel->width()) / 2,
                        (parent->height() - panel->height()) / 2);
            panel->raise();
        }
        panel->setVisible(visible);
    }
    if (Panel13->height() != v.Panel13Height) {
        Panel13->setFixedHeight(v.Panel13Height);
    }
    if (Panel27->height() != v.Panel27Height) {
        Panel27->setFixedHeight(v.Panel27Height);
    }
    BBtn_StopTest->setEnabled(v.BBtn_StopTest);
    N3->setEnabled(v.N3);
    N4->setEnabled(v.N4);
    if (PanelMirrored_ != v.PanelRevision) {
        PanelMirrored_ = v.PanelRevision;
        ApplyPanel();
    }
    MirrorHistory();
}

void TfrmDielmon::closeEvent(QCloseEvent* event) {
    const Effects e = Controller_.CloseRequested();
    Apply(e);
    event->setAccepted(e.CloseAccepted);
    if (e.CloseAccepted) {
        Keeper_->SetNext(Keeper_->Next(), true);
        if (ArchiveWindow_) {
            ArchiveWindow_->close();
        }
    }
}

void TfrmDielmon::N7Click() {
    Apply(Controller_.Connect());
}

void TfrmDielmon::N8Click() {
    Apply(Controller_.Disconnect());
}

void TfrmDielmon::N2Click() {
    {
        TfrmSetComm dialog(Settings_, ConfigFileName_, *Dialogs_, this, "/sys/class/tty",
                           PortOverride_);
        dialog.exec();
    }
    OpenPort();
}

void TfrmDielmon::N5Click() {
    // Without a document of its own the operator still gets the user's guide.
    const std::string program = ProgramFolder_.empty()
                                    ? QCoreApplication::applicationDirPath().toStdString() + "/"
                                    : ProgramFolder_;
    const std::string document =
        HelpDocument(Q(Settings_.HelpFileName).toStdString(), Folders_, program);
    if (!document.empty()) {
        Dialogs_->OpenDocument(QString::fromStdString(document));
    }
}

void TfrmDielmon::N6Click() {
    close();
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

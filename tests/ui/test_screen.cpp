// What the screen shows and how the widgets feel: result columns on the half-cell grid, labels
// that are never cut, pages that scroll, combo boxes a passing wheel leaves alone, Qt's own texts
// in Chinese, one face for Chinese and Latin, and a clock that stays put.
#include "fixture.h"

#include "core/responses.h"
#include "core/texts.h"
#include "translations.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QPaintEngine>
#include <QRawFont>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextLayout>
#include <QWheelEvent>
#include <climits>
#include <fstream>

using namespace dielmon;
using namespace dielmon::test;

namespace {

// Every piece of text a widget paints, with where its baseline starts, in the widget's own
// coordinates. Rendering into it is painting on screen without the pixels.
class GlyphRecorder : public QPaintDevice {
public:
    struct Piece {
        QPointF At;
        QString Text;
    };

    explicit GlyphRecorder(QSize size) : Size_(size), Engine_(this) {}
    QPaintEngine* paintEngine() const override { return &Engine_; }
    std::vector<Piece> Pieces;

protected:
    int metric(PaintDeviceMetric m) const override {
        switch (m) {
        case PdmWidth:
            return Size_.width();
        case PdmHeight:
            return Size_.height();
        case PdmWidthMM:
            return Size_.width() * 254 / 960;
        case PdmHeightMM:
            return Size_.height() * 254 / 960;
        case PdmNumColors:
            return INT_MAX;
        case PdmDepth:
            return 32;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return 96;
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return static_cast<int>(devicePixelRatioFScale());
        }
        return 0;
    }

private:
    class Engine : public QPaintEngine {
    public:
        explicit Engine(GlyphRecorder* owner) : QPaintEngine(AllFeatures), Owner_(owner) {}
        bool begin(QPaintDevice*) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState& state) override {
            if (state.state() & DirtyTransform) {
                Transform_ = state.transform();
            }
        }
        void drawTextItem(const QPointF& p, const QTextItem& item) override {
            Owner_->Pieces.push_back({Transform_.map(p), item.text()});
        }
        void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
        void drawImage(const QRectF&, const QImage&, const QRectF&,
                       Qt::ImageConversionFlags) override {}
        void drawRects(const QRectF*, int) override {}
        void drawRects(const QRect*, int) override {}
        void drawPath(const QPainterPath&) override {}
        void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
        void drawPolygon(const QPoint*, int, PolygonDrawMode) override {}
        void drawLines(const QLineF*, int) override {}
        void drawLines(const QLine*, int) override {}
        Type type() const override { return User; }

    private:
        GlyphRecorder* Owner_;
        QTransform Transform_;
    };

    QSize Size_;
    mutable Engine Engine_;
};

// One painted character: its line (counted by baseline) and where it starts.
struct Placed {
    int Line;
    double X;
    double Baseline;
    QString Text;
};

std::vector<Placed> Painted(QWidget* label) {
    GlyphRecorder recorder(label->size());
    label->render(&recorder);
    std::vector<double> baselines;
    std::vector<Placed> placed;
    for (const auto& piece : recorder.Pieces) {
        auto it = std::find_if(baselines.begin(), baselines.end(),
                               [&](double b) { return std::abs(b - piece.At.y()) < 0.5; });
        if (it == baselines.end()) {
            baselines.push_back(piece.At.y());
            it = baselines.end() - 1;
        }
        placed.push_back(
            {static_cast<int>(it - baselines.begin()), piece.At.x(), piece.At.y(), piece.Text});
    }
    return placed;
}

// The x of every painted `text` on its line, in line order.
std::vector<double> XOf(const std::vector<Placed>& placed, const QString& text, int nth = 0) {
    std::map<int, std::vector<double>> byLine;
    for (const Placed& p : placed) {
        if (p.Text == text) {
            byLine[p.Line].push_back(p.X);
        }
    }
    std::vector<double> xs;
    for (const auto& [line, found] : byLine) {
        if (static_cast<int>(found.size()) > nth) {
            xs.push_back(found[static_cast<std::size_t>(nth)]);
        }
    }
    return xs;
}

double HalfCell(const QWidget* w) {
    return QFontMetricsF(w->font()).horizontalAdvance(QChar(0x4E2D)) / 2;
}

void ExpectOneColumn(const std::vector<double>& xs, std::size_t lines, const char* what) {
    ASSERT_EQ(xs.size(), lines) << what;
    for (double x : xs) {
        EXPECT_NEAR(x, xs.front(), 0.01) << what;
    }
}

void RunTest(Fixture& f, const char* mode, int model = -1) {
    f.Choose("CBox_ConnType", mode);
    if (model >= 0) {
        f.Choose("CBox_Model",
                 Utf8ToGbk(f.W<QComboBox>("CBox_Model")->itemText(model).toStdString()));
    }
    const auto results = f.Sim->FramesSent(RspFinalResult);
    f.Click("BBtn_StartTest");
    ASSERT_TRUE(WaitUntil([&] { return f.Sim->FramesSent(RspFinalResult) > results; }));
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "ShowState"); }));
    QApplication::processEvents();
}

// A four-channel 正接线 test: the instrument must first report 正接线 to show the selector.
void RunFourChannelTest(Fixture& f) {
    f.Connect();
    RunTest(f, "正接线");
    f.Connect();
    RunTest(f, "正接线", 3);
}

// The client area of a maximised window on a 1366 × 768 screen with a title bar and a panel.
const QSize kLaptopWindow(1366, 700);

// Every label on show is at least as large as its text needs.
void ExpectNoLabelCut(QWidget* page, const char* where) {
    for (QLabel* label : page->findChildren<QLabel*>()) {
        if (!label->isVisibleTo(page) || label->text().isEmpty()) {
            continue;
        }
        const QSize need = label->minimumSizeHint();
        if (label->wordWrap()) {
            EXPECT_GE(label->height(), label->heightForWidth(label->width()))
                << where << " " << label->objectName().toStdString();
            continue;
        }
        EXPECT_GE(label->height(), need.height())
            << where << " " << label->objectName().toStdString();
        EXPECT_GE(label->width(), need.width())
            << where << " " << label->objectName().toStdString();
    }
}

QScrollArea* PageScroll(Fixture& f, const char* notebook, const char* page) {
    QWidget* p = f.W<TNotebook>(notebook)->Page(QString::fromLatin1(page));
    auto* area = qobject_cast<QScrollArea*>(p);
    if (area == nullptr && p != nullptr) {
        area = p->findChild<QScrollArea*>();
    }
    EXPECT_NE(area, nullptr) << page;
    return area;
}

// Lets the layouts take the sizes just given.
void Settle() {
    for (int k = 0; k < 5; ++k) {
        QApplication::processEvents();
    }
}

} // namespace

TEST(Screen, ResultColumnsLineUpOnTheHalfCellGrid) {
    {
        Fixture f({"--type", "5"});
        f.Connect();
        RunTest(f, "反接线");
        QWidget* details = f.W("Label19");
        const auto placed = Painted(details);
        const double half = HalfCell(details);
        ASSERT_GT(half, 0);
        // Seven value lines (U, I, Φ, PF, P, F1, F2): their colons and their values stand in
        // one column each, Φ (two bytes, whatever width the face gives it) included.
        const auto colons = XOf(placed, QStringLiteral("："));
        ASSERT_EQ(colons.size(), 8u);
        ExpectOneColumn(std::vector<double>(colons.begin(), colons.begin() + 7), 7, "colons");
        std::vector<double> values(7, 1e9);
        for (const Placed& p : placed) {
            if (p.Line < 7 && p.X > colons[0]) {
                auto& first = values[static_cast<std::size_t>(p.Line)];
                first = std::min(first, p.X);
            }
        }
        ExpectOneColumn(values, 7, "values");
        EXPECT_NEAR(values[0], colons[0] + 2 * half, 0.5 * half);
        // Each byte of a value is one half cell on from the one before.
        std::vector<double> u;
        for (const Placed& p : placed) {
            if (p.Line == 0 && p.X > colons[0]) {
                u.push_back(p.X);
            }
        }
        ASSERT_GE(u.size(), 5u);
        for (std::size_t k = 1; k < u.size(); ++k) {
            EXPECT_NEAR(u[k] - u[k - 1], half, 0.01);
        }
        // The face's ° is narrower than its two bytes: it stays with the number before it.
        const auto degree = std::find_if(placed.begin(), placed.end(), [](const Placed& p) {
            return p.Text == QStringLiteral("°");
        });
        ASSERT_NE(degree, placed.end());
        double digit = -1;
        for (const Placed& p : placed) {
            if (p.Line == degree->Line && p.X < degree->X) {
                digit = std::max(digit, p.X);
            }
        }
        EXPECT_NEAR(degree->X, digit + half, 0.01);
        // The date line's colon is four half cells further left ("  Date：" is 8 bytes, the
        // value labels 12): the grid counts bytes, not the face's widths.
        ASSERT_NE(Text(details).find("  Date："), std::string::npos);
        EXPECT_NEAR(colons[7] - colons[0], -4 * half, 0.01);
    }
    {
        Fixture f({"--type", "6"});
        RunFourChannelTest(f);
        QWidget* main = f.W("LblCxRx");
        const auto placed = Painted(main);
        // Four pair lines: "Ca：" … "Cd：" and their "DF：" in two columns.
        ExpectOneColumn(XOf(placed, QStringLiteral("："), 0), 4, "channel colons");
        ExpectOneColumn(XOf(placed, QStringLiteral("："), 1), 4, "DF colons");
        ExpectOneColumn(XOf(placed, QStringLiteral("C")), 4, "channel names");
        // Ua … Ud, F1, F2 and their colons.
        const auto details = Painted(f.W("Label19"));
        ExpectOneColumn(XOf(details, QStringLiteral("U")), 4, "voltage names");
        const auto colons = XOf(details, QStringLiteral("："));
        ASSERT_EQ(colons.size(), 7u);
        ExpectOneColumn(std::vector<double>(colons.begin(), colons.begin() + 6), 6, "colons");
    }
}

TEST(Screen, TheBlockIsCentredAsAWholeWithItsTrailingBlanks) {
    Fixture f;
    auto* label = f.W<TextLabel>("Lbl_UpInfo");
    label->resize(600, 200);
    // A boosting text of the CVT method: the second value line is the widest, 22 bytes with its
    // trailing blank, and decides where every line starts.
    const std::string cvt = "1.50 kV\r\n\r\n[12mA] [12.2V] [3.5A] ";
    label->SetGbkText(cvt);
    EXPECT_EQ(label->GbkText(), cvt);
    EXPECT_EQ(Text(label), cvt);
    const double half = HalfCell(label);
    const auto placed = Painted(label);
    ASSERT_FALSE(placed.empty());
    const double left = (label->contentsRect().width() - 22 * half) / 2;
    EXPECT_NEAR(XOf(placed, QStringLiteral("1")).front(), left, 0.5 * half);
    EXPECT_NEAR(XOf(placed, QStringLiteral("[")).front(), left, 0.01);
    // Two lines apart: the empty line between them keeps its place.
    const auto one = std::find_if(placed.begin(), placed.end(),
                                  [](const Placed& p) { return p.Text == QStringLiteral("1"); });
    const auto bracket = std::find_if(placed.begin(), placed.end(), [](const Placed& p) {
        return p.Text == QStringLiteral("[");
    });
    EXPECT_NEAR(bracket->Baseline - one->Baseline, 2 * QFontMetricsF(label->font()).lineSpacing(),
                0.01);
    // Trailing blanks of the widest line move the block left by half a cell each.
    label->SetGbkText("1.50 kV\r\n\r\n[12mA] [12.2V] [3.5A]   ");
    EXPECT_NEAR(XOf(Painted(label), QStringLiteral("[")).front(), left - half, 0.01);
    // A character the grid cannot split (a lone lead byte) and an empty text paint safely.
    label->SetGbkText(std::string("\x81", 1));
    Painted(label);
    label->SetGbkText("");
    EXPECT_TRUE(Painted(label).empty());
    EXPECT_EQ(label->sizeHint().height(), label->contentsMargins().top() +
                                              label->contentsMargins().bottom() +
                                              2 * label->margin());
}

TEST(Screen, UpHisShowsEveryLineOfAFileAndNoLabelIsCut) {
    Fixture f({"--type", "6"});
    f.Window->resize(kLaptopWindow);
    RunFourChannelTest(f);
    QScrollArea* show = PageScroll(f, "Nbk_Sstate", "ShowState");
    ExpectNoLabelCut(show->widget(), "ShowState, four channels");
    EXPECT_EQ(show->verticalScrollBar()->maximum(), 0) << "fits a 1366 x 768 screen";

    const std::string path = f.Home.Home() + "four.txt";
    f.Dialogs.Files.push_back(QString::fromStdString(path));
    f.Trigger("N3");
    f.Dialogs.Files.push_back(QString::fromStdString(path));
    f.Trigger("N9");
    ASSERT_TRUE(f.OnPages("UpHis"));
    Settle();
    auto* main = f.W<TextLabel>("Label25");
    EXPECT_EQ(main->GbkText(), Text(f.W("LblCxRx")));
    // Four pair lines and the empty line after them: every one painted inside the label,
    // below the title.
    const auto placed = Painted(main);
    ExpectOneColumn(XOf(placed, QStringLiteral("C")), 4, "pair lines");
    const QFontMetricsF metrics(main->font());
    for (const Placed& p : placed) {
        EXPECT_GE(p.Baseline - metrics.ascent(), -0.01) << p.Text.toStdString();
        EXPECT_LE(p.Baseline + metrics.descent(), main->height() + 0.01) << p.Text.toStdString();
    }
    EXPECT_GE(main->y(), f.W("Label20")->y() + f.W("Label20")->height());
    QWidget* page = f.W<TNotebook>("Nbk_AllState")->Page(QStringLiteral("UpHis"));
    ExpectNoLabelCut(page, "UpHis, four channels");

    // A file whose main result is longer than any live one: the strip grows to show it all.
    const std::string tall = f.Home.Home() + "tall.txt";
    {
        std::ofstream out(tall, std::ios::binary);
        out << "     "
               "介质损耗测试数据\r\n=============================\r\n正接线\\内标准\\定频\\内高压"
               "\r\n\r\n";
        for (int k = 1; k <= 8; ++k) {
            out << "C" << k << "：1.000nF  DF：0.100%    \r\n";
        }
        out << "\r\n　F1　　　：50.00Hz\r\n\r\n";
    }
    f.Dialogs.Files.push_back(QString::fromStdString(tall));
    f.Trigger("N9");
    Settle();
    EXPECT_EQ(std::count(main->GbkText().begin(), main->GbkText().end(), '\n'), 8);
    EXPECT_GE(main->height(), static_cast<int>(9 * metrics.lineSpacing()));
    for (const Placed& p : Painted(main)) {
        EXPECT_GE(p.Baseline - metrics.ascent(), -0.01) << p.Text.toStdString();
    }
    ExpectNoLabelCut(page, "UpHis, eight lines");
}

TEST(Screen, AMinimumSizeBelowWhichThePagesScroll) {
    Fixture f;
    const QSize minimum = f.Window->minimumSize();
    EXPECT_GE(minimum.width(), 640);
    EXPECT_GE(minimum.height(), 480);
    EXPECT_LE(minimum.width(), kLaptopWindow.width());
    EXPECT_LE(minimum.height(), kLaptopWindow.height());
    f.Connect();
    RunTest(f, "变比"); // the longest details: nine lines and the date
    f.Window->resize(kLaptopWindow);
    Settle();
    QScrollArea* show = PageScroll(f, "Nbk_Sstate", "ShowState");
    EXPECT_EQ(show->verticalScrollBar()->maximum(), 0);
    ExpectNoLabelCut(show->widget(), "ShowState, 变比, 1366 x 768");

    f.Window->resize(minimum);
    Settle();
    EXPECT_EQ(f.Window->size(), minimum);
    // Too short for the page: it scrolls, and every line keeps its full height.
    EXPECT_GT(show->verticalScrollBar()->maximum(), 0);
    ExpectNoLabelCut(show->widget(), "ShowState, 变比, minimum size");
    EXPECT_EQ(show->horizontalScrollBar()->maximum(), 0);
    // The panel keeps its groups whole and scrolls too; the operation buttons fit across.
    auto* left = f.W<QScrollArea>("Pnl_LeftScroll");
    EXPECT_EQ(f.W("Pnl_Left")->width(), 337);
    EXPECT_GE(f.W("Pnl_Left")->height(), f.W("Pnl_Left")->minimumSizeHint().height());
    EXPECT_GT(left->verticalScrollBar()->maximum(), 0);
    for (const char* button : {"BBtn_StopTest", "BBtn_StartTest", "BBtn_UpHis", "BBtn_DelHis"}) {
        EXPECT_GE(f.W(button)->width(), f.W(button)->sizeHint().width()) << button;
    }
    // The wheel over the panel scrolls it.
    const int before = left->verticalScrollBar()->value();
    QWheelEvent wheel(QPointF(100, 100), QPointF(100, 100), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(left->viewport(), &wheel);
    EXPECT_GT(left->verticalScrollBar()->value(), before);

    // Every page of the history and the file page scrolls the same way.
    f.Click("BBtn_UpHis");
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("HisData", "ShowAll"); }));
    f.W<QTableWidget>("LView_History")->selectRow(0);
    f.Click("BitBtn7");
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("HisData", "ShowOne"); }));
    Settle();
    ExpectNoLabelCut(PageScroll(f, "Nbk_ShowHis", "ShowOne")->widget(), "ShowOne, minimum");
}

TEST(Screen, AWheelOverAComboBoxWithoutTheFocusChangesNoParameter) {
    Fixture f;
    f.Connect();
    const PanelSelection chosen = f.Window->PanelModel().Selection();
    const std::string supply = f.Window->PanelModel().CBox_EleType.Text();
    auto wheel = [](QWidget* target, int delta) {
        QWheelEvent e(QPointF(5, 5), target->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, delta),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &e);
        return e.isAccepted();
    };
    for (QComboBox* box : f.W("Pnl_Left")->findChildren<QComboBox*>()) {
        SCOPED_TRACE(box->objectName().toStdString());
        ASSERT_FALSE(box->hasFocus());
        const int index = box->currentIndex();
        // Not taken: the wheel goes on to the scrolling column. (Turned the way the box has
        // room to move, so that a box that took it would show it.)
        EXPECT_FALSE(wheel(box, index <= 0 ? -120 : 120));
        EXPECT_EQ(box->currentIndex(), index);
        EXPECT_FALSE(box->hasFocus());
    }
    EXPECT_EQ(f.Window->PanelModel().CBox_EleType.Text(), supply);
    EXPECT_EQ(f.Window->PanelModel().Selection().ConnType, chosen.ConnType);
    EXPECT_EQ(f.Window->PanelModel().Selection().Frequency, chosen.Frequency);

    // A box the operator has clicked into takes the wheel as before, and the panel follows.
    f.Window->activateWindow();
    QComboBox* eleType = f.W<QComboBox>("CBox_EleType");
    eleType->setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(WaitUntil([&] { return eleType->hasFocus(); }, 5000));
    const int index = eleType->currentIndex();
    wheel(eleType, index == 0 ? -120 : 120);
    EXPECT_NE(eleType->currentIndex(), index);
    EXPECT_EQ(f.Window->PanelModel().CBox_EleType.Text(), G(eleType->currentText()));
    EXPECT_NE(f.Window->PanelModel().CBox_EleType.Text(), supply);

    // The same in the settings dialog.
    f.WithSettingsDialog([&](TfrmSetComm& d) {
        for (QComboBox* box : {d.CombComm, d.Edt_StopNum, d.CBx_Mark, d.CombBaud}) {
            SCOPED_TRACE(box->objectName().toStdString());
            box->clearFocus();
            const int was = box->currentIndex();
            const QString text = box->currentText();
            EXPECT_FALSE(wheel(box, -120));
            EXPECT_EQ(box->currentIndex(), was);
            EXPECT_EQ(box->currentText(), text);
        }
    });
}

TEST(Screen, QtsOwnTextsAreChineseAndMessageBoxesStandInTheMiddle) {
    const QString catalogue = QtTranslationsFolder() + QStringLiteral("/qtbase_zh_CN.qm");
    const bool installed = QFile::exists(catalogue);
    EXPECT_EQ(InstallQtTranslations(*QCoreApplication::instance()), installed);

    QWidget window;
    window.setGeometry(60, 40, 900, 600);
    window.show();
    QApplication::processEvents();
    QtDialogs dialogs;
    QString ok;
    QString cancel;
    QRect box;
    QTimer::singleShot(0, [&] {
        auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(shown, nullptr);
        ok = shown->button(QMessageBox::Ok)->text();
        cancel = shown->button(QMessageBox::Cancel)->text();
        box = shown->frameGeometry();
        shown->button(QMessageBox::Ok)->click();
    });
    EXPECT_EQ(dialogs.Message(&window, QStringLiteral("请先停止测试！"), QStringLiteral("提示"),
                              Dialogs::Icon::Information, Dialogs::Buttons::OkCancel),
              Dialogs::Answer::Ok);
    EXPECT_NEAR(box.center().x(), window.frameGeometry().center().x(), 1);
    EXPECT_NEAR(box.center().y(), window.frameGeometry().center().y(), 1);
    if (!installed) {
        GTEST_SKIP() << "Qt's Chinese catalogue is not installed: " << catalogue.toStdString();
    }
    EXPECT_EQ(ok, QStringLiteral("确定"));
    EXPECT_EQ(cancel, QStringLiteral("取消"));
    QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    EXPECT_EQ(buttons.button(QDialogButtonBox::Ok)->text(), QStringLiteral("确定"));
    EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
    // The edit fields' context menu.
    QLineEdit edit;
    std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    QStringList actions;
    for (QAction* a : menu->actions()) {
        if (!a->isSeparator()) {
            actions << a->text();
        }
    }
    EXPECT_FALSE(actions.isEmpty());
    for (const QString& a : actions) {
        EXPECT_TRUE(a.contains(QRegularExpression(QStringLiteral("[\\x{4e00}-\\x{9fff}]"))))
            << a.toStdString();
    }
}

TEST(Screen, GaugeCountAndHistoryListAsTheOperatorReadsThem) {
    Fixture f;
    EXPECT_EQ(Text(f.W("Lbl_Num")), "可用数据100条，已用9条");
    auto* gauge = f.W<QProgressBar>("ProgBar_Step");
    EXPECT_FALSE(gauge->isTextVisible());
    auto* list = f.W<QTableWidget>("LView_History");
    const QFont header = list->horizontalHeader()->font();
    EXPECT_EQ(QFontInfo(header).family(), QFontInfo(list->font()).family());
    EXPECT_EQ(header.pixelSize(), list->font().pixelSize());
    // The gauge paints no text during a test either.
    f.Connect();
    RunTest(f, "反接线");
    EXPECT_EQ(gauge->value(), gauge->maximum());
    GlyphRecorder recorder(gauge->size());
    gauge->render(&recorder);
    EXPECT_TRUE(recorder.Pieces.empty());
}

TEST(Screen, LettersAndDigitsComeFromTheSameSongFaceAsTheChinese) {
    Fixture f;
    const QString family = SongFamily();
    EXPECT_TRUE(QFontDatabase::writingSystems(family).contains(QFontDatabase::SimplifiedChinese));
    const struct {
        const char* widget;
        QString text;
    } cases[] = {
        {"Label19", QStringLiteral("　Φ　　　：89.753° 1.000MΩ")},
        {"LblCxRx", QStringLiteral("Cx：4.753nF      DF：0.430%")},
        {"Lbl_UpInfo", QStringLiteral("[12mA] [12.2V] [3.5A] 电源升压中请稍候！")},
        {"LblTime", QStringLiteral("2016年03月24日    星期四    15:34:00")},
        {"LView_History", QStringLiteral("007 2016-03-24 15:34:00 编号")},
        {"CBox_Freq", QStringLiteral("50±1Hz 测试频率")},
        {"GroupBox3", QStringLiteral("CVT自激法参数设置")},
        {"Label17", QStringLiteral("pF 电容值")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.widget);
        const QFont font = f.W(c.widget)->font();
        EXPECT_EQ(QFontInfo(font).family().toLower(), family.toLower());
        QTextLayout layout(c.text, font);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        const QList<QGlyphRun> runs = layout.glyphRuns();
        ASSERT_FALSE(runs.isEmpty());
        for (const QGlyphRun& run : runs) {
            EXPECT_EQ(run.rawFont().familyName().toLower(), family.toLower())
                << run.glyphIndexes().size() << " glyphs";
        }
    }
}

TEST(Screen, TheClockStaysInOnePlaceOnEveryPage) {
    Fixture f;
    f.Window->resize(kLaptopWindow);
    Settle();
    QWidget* clock = f.W("LblTime");
    const QRect first(clock->mapTo(f.Window.get(), QPoint(0, 0)), clock->size());
    auto here = [&] { return QRect(clock->mapTo(f.Window.get(), QPoint(0, 0)), clock->size()); };
    f.Window->ArrangeLayout();
    EXPECT_EQ(here(), first);
    f.Tick(1);
    Settle();
    EXPECT_EQ(here(), first);
    for (const char* page : {"DefPage", "Error", "Info", "UpVolt", "ShowState"}) {
        f.W<TNotebook>("Nbk_Sstate")->SetActivePage(QString::fromLatin1(page));
        f.Window->ArrangeLayout();
        EXPECT_EQ(here(), first) << page;
        f.Tick(1);
        Settle();
        EXPECT_EQ(here(), first) << page;
    }
    // A test's frames arrange the window after each one.
    f.Connect();
    RunTest(f, "变比");
    EXPECT_EQ(here(), first);
}

TEST(Screen, ResultPagesKeepTheirNamesAndTexts) {
    Fixture f;
    const struct {
        const char* notebook;
        const char* page;
        std::vector<const char*> controls;
    } pages[] = {
        {"Nbk_Sstate", "DefPage", {"Lbl_Default1"}},
        {"Nbk_Sstate", "Error", {"Lbl_Error"}},
        {"Nbk_Sstate", "Info", {"Lbl_Info"}},
        {"Nbk_Sstate", "UpVolt", {"Lbl_Guding", "Lbl_UpInfo", "ProgBar_Step"}},
        {"Nbk_Sstate",
         "ShowState",
         {"Panel13", "Lbl_ShowState", "LblCxRx", "Label19", "Pnl_Hint", "Label21", "BitBtn4",
          "BitBtn5", "BitBtn6"}},
        {"Nbk_ShowHis", "ShowAll", {"Lbl_Num", "LView_History", "BitBtn7", "BitBtn8", "BitBtn9"}},
        {"Nbk_ShowHis",
         "ShowOne",
         {"Panel27", "Label22", "Label23", "Label24", "Panel33", "Label26", "BitBtn10", "BitBtn11",
          "BitBtn12"}},
        {"Nbk_ShowHis", "ShowInfo", {"LblHis_ShowInfo"}},
        {"Nbk_AllState", "UpHis", {"Label20", "Label25", "Label27", "BitBtn15"}},
        {"Nbk_AllState", "Default", {"Nbk_Sstate", "LblTime"}},
        {"Nbk_AllState", "HisData", {"Nbk_ShowHis"}},
    };
    for (const auto& p : pages) {
        SCOPED_TRACE(p.page);
        auto* notebook = f.W<TNotebook>(p.notebook);
        QWidget* page = notebook->Page(QString::fromLatin1(p.page));
        ASSERT_NE(page, nullptr);
        EXPECT_GE(notebook->indexOf(page), 0);
        notebook->SetActivePage(QString::fromLatin1(p.page));
        EXPECT_EQ(notebook->ActivePage(), QString::fromLatin1(p.page));
        for (const char* control : p.controls) {
            EXPECT_NE(page->findChild<QWidget*>(QString::fromLatin1(control)), nullptr) << control;
        }
    }
    EXPECT_EQ(Text(f.W("Lbl_UpInfo")), texts::kBoostingWait);
    EXPECT_EQ(Text(f.W("LblHis_ShowInfo")), texts::kReadingData);
}

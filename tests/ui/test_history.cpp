#include "fixture.h"

#include "core/commands.h"
#include "core/history.h"
#include "core/responses.h"
#include "core/resultfile.h"
#include "core/results.h"
#include "core/texts.h"

#include <QFileInfo>
#include <QLabel>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace dielmon;
using namespace dielmon::test;

namespace {

std::string Cell(const Fixture& f, int row, int column) {
    const QTableWidgetItem* item = f.W<QTableWidget>("LView_History")->item(row, column);
    return item != nullptr ? G(item->text()) : std::string("<none>");
}

int SelectedRow(const Fixture& f) {
    const auto rows = f.W<QTableWidget>("LView_History")->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void ListIndex(Fixture& f, int expectedRows) {
    f.Click("BBtn_UpHis");
    EXPECT_TRUE(f.OnPages("HisData", "ShowInfo") || f.OnPages("HisData", "ShowAll"));
    ASSERT_TRUE(WaitUntil([&] {
        return f.OnPages("HisData", "ShowAll") &&
               f.W<QTableWidget>("LView_History")->rowCount() == expectedRows;
    }));
    // The last entry of a listing may still be on its way; give it time to settle.
    ASSERT_TRUE(WaitUntil([&] { return f.Sim->FramesSent(RspIndex) >= 1; }));
}

void OpenRow(Fixture& f, int row) {
    f.W<QTableWidget>("LView_History")->selectRow(row);
    const auto before = f.Sim->FramesSent();
    f.Click("BitBtn7");
    EXPECT_TRUE(f.OnPages("HisData", "ShowInfo"));
    EXPECT_EQ(Text(f.W("LblHis_ShowInfo")), texts::kReadingData);
    ASSERT_TRUE(WaitUntil([&] { return f.Sim->FramesSent() > before; }));
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("HisData", "ShowOne"); }));
}

} // namespace

TEST(History, AListingOfNineRecordsWithTheFirstSelected) {
    Fixture f;
    f.Connect();
    ListIndex(f, 9);
    const QTableWidget* list = f.W<QTableWidget>("LView_History");
    EXPECT_EQ(list->columnCount(), 3);
    EXPECT_EQ(list->columnWidth(0), 2);
    EXPECT_EQ(list->columnWidth(1), 130);
    EXPECT_EQ(list->columnWidth(2), 400);
    EXPECT_EQ(list->horizontalHeaderItem(1)->text(), QStringLiteral("编号"));
    EXPECT_EQ(list->horizontalHeaderItem(2)->text(), QStringLiteral("测试时间"));
    for (int row = 0; row < 9; ++row) {
        EXPECT_EQ(Cell(f, row, 0), "");
        EXPECT_EQ(Cell(f, row, 1), RecordNumberText(row + 1));
        EXPECT_EQ(Cell(f, row, 2).size(), 19u) << Cell(f, row, 2);
    }
    EXPECT_EQ(SelectedRow(f), 0);
    EXPECT_EQ(Text(f.W("Lbl_Num")), "可用数据91条，已用9条");
    // A second listing replaces the first.
    ListIndex(f, 9);
    EXPECT_EQ(SelectedRow(f), 0);
}

TEST(History, AnEmptyStoreListsNothing) {
    Fixture f({"--records", "0"});
    f.Connect();
    f.Click("BBtn_UpHis");
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("HisData", "ShowAll"); }));
    EXPECT_EQ(f.W<QTableWidget>("LView_History")->rowCount(), 0);
    EXPECT_EQ(Text(f.W("Lbl_Num")), "可用数据100条，已用0条");
    f.Click("BitBtn7"); // nothing to open: nothing sent
    f.Click("BitBtn8");
    EXPECT_EQ(f.SentFrames().back()[1], CmdReadIndex);
    EXPECT_TRUE(f.OnPages("HisData", "ShowAll"));
}

TEST(History, EveryStoredLayoutOpensWithTheCoresTexts) {
    Fixture f({"--records", "10"});
    f.Connect();
    ListIndex(f, 10);
    std::set<int> codes;
    for (int row = 0; row < 10; ++row) {
        OpenRow(f, row);
        const auto sent = f.SentFrames().back();
        EXPECT_EQ(sent[1], CmdReadRecord);
        EXPECT_EQ(sent[3], row + 1);
        const auto frames = f.ReceivedFrames();
        const auto& frame = frames.back();
        ASSERT_TRUE(IsStoredRecord(frame[1]));
        codes.insert(frame[1]);
        const StoredRecordView v =
            ShowStoredRecord(frame[1], frame.data(), static_cast<int>(frame.size()));
        EXPECT_EQ(Text(f.W("Label22")), v.Title);
        if (v.Main) {
            EXPECT_EQ(Text(f.W("Label23")), *v.Main);
        }
        EXPECT_EQ(Text(f.W("Label24")), v.Details);
        if (v.PanelHeight) {
            EXPECT_EQ(f.W("Panel27")->height(), *v.PanelHeight);
        }
        EXPECT_TRUE(f.Menu("N3")->isEnabled());
        EXPECT_EQ(SelectedRow(f), row); // the selection stays on the opened row
        // Back to the list only when the instrument answers.
        f.Click("BitBtn12");
        EXPECT_TRUE(f.OnPages("HisData", "ShowOne"));
        ASSERT_TRUE(WaitUntil([&] { return f.OnPages("HisData", "ShowAll"); }));
    }
    EXPECT_EQ(codes.size(), 5u); // all five stored layouts
    // A double click opens the same record as "打开".
    QTableWidget* list = f.W<QTableWidget>("LView_History");
    list->selectRow(3);
    emit list->cellDoubleClicked(3, 1);
    const auto read4 = BuildShortCommand(CmdReadRecord, 4);
    EXPECT_EQ(f.SentFrames().back(), std::vector<std::uint8_t>(read4.begin(), read4.end()));
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("HisData", "ShowOne"); }));
    // "仪器打印" on a stored record: the hint of that page.
    f.Click("BitBtn10");
    EXPECT_TRUE(f.W("Panel33")->isVisible());
    EXPECT_EQ(Text(f.W("Label26")), texts::kPrinting);
    ASSERT_TRUE(WaitUntil([&] { return Text(f.W("Label26")) == texts::kDataPrinted; }));
    // "返回" from the list ends at the idle page with the panel unlocked.
    f.Click("BitBtn12");
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("HisData", "ShowAll"); }));
    f.Click("BitBtn9");
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "DefPage"); }));
    EXPECT_TRUE(f.W("CBox_ConnType")->isEnabled());
}

TEST(History, DeletingRenumbersTheListAndTheCount) {
    Fixture f;
    f.Connect();
    ListIndex(f, 9);
    std::vector<std::string> times;
    for (int row = 0; row < 9; ++row) {
        times.push_back(Cell(f, row, 2));
    }
    f.W<QTableWidget>("LView_History")->selectRow(3);
    f.Click("BitBtn8");
    EXPECT_EQ(f.SentFrames().back()[1], CmdDeleteRecord);
    EXPECT_EQ(f.SentFrames().back()[3], 4);
    EXPECT_TRUE(f.OnPages("HisData", "ShowInfo"));
    EXPECT_EQ(Text(f.W("LblHis_ShowInfo")), texts::kDeletingData);
    ASSERT_TRUE(WaitUntil([&] { return f.W<QTableWidget>("LView_History")->rowCount() == 8; }));
    EXPECT_TRUE(f.OnPages("HisData", "ShowAll"));
    EXPECT_EQ(Text(f.W("Lbl_Num")), "可用数据92条，已用8条");
    times.erase(times.begin() + 3);
    for (int row = 0; row < 8; ++row) {
        EXPECT_EQ(Cell(f, row, 1), RecordNumberText(row + 1));
        EXPECT_EQ(Cell(f, row, 2), times[static_cast<std::size_t>(row)]);
    }
    // From "ShowOne": the opened row goes, and the list is shown.
    OpenRow(f, 0);
    f.Click("BitBtn11");
    EXPECT_EQ(f.SentFrames().back()[3], 1);
    ASSERT_TRUE(WaitUntil([&] { return f.W<QTableWidget>("LView_History")->rowCount() == 7; }));
    EXPECT_TRUE(f.OnPages("HisData", "ShowAll"));
    EXPECT_EQ(Cell(f, 0, 2), times[1]);
    // The renumbered list matches the instrument's own numbering.
    ListIndex(f, 7);
    for (int row = 0; row < 7; ++row) {
        EXPECT_EQ(Cell(f, row, 2), times[static_cast<std::size_t>(row) + 1]);
    }
}

TEST(History, ClearingAsksFirst) {
    Fixture f;
    f.Connect();
    ListIndex(f, 9);
    f.Dialogs.Answers.push_back(Dialogs::Answer::Cancel);
    const auto sent = f.SentFrames().size();
    f.Click("BBtn_DelHis");
    EXPECT_EQ(f.Dialogs.LastText(), Q(texts::kConfirmClearHistory));
    EXPECT_EQ(f.Dialogs.Messages.back().Choice, Dialogs::Buttons::OkCancel);
    EXPECT_EQ(f.Dialogs.Messages.back().Kind, Dialogs::Icon::Question);
    EXPECT_EQ(f.SentFrames().size(), sent);
    EXPECT_TRUE(f.OnPages("HisData", "ShowAll"));

    f.Click("BBtn_DelHis");
    EXPECT_EQ(f.SentFrames().back()[1], CmdClearHistory);
    EXPECT_TRUE(f.OnPages("Default", "Info"));
    EXPECT_EQ(Text(f.W("Lbl_Info")), texts::kClearingHistory);
    ASSERT_TRUE(WaitUntil([&] { return Text(f.W("Lbl_Info")) == texts::kHistoryCleared; }));
    EXPECT_EQ(f.W<QTableWidget>("LView_History")->rowCount(), 0);
    EXPECT_EQ(Text(f.W("Lbl_Num")), "可用数据100条，已用0条");
    f.Tick(3);
    EXPECT_TRUE(f.OnPages("Default", "DefPage"));
}

namespace {

const std::string kHeader =
    std::string("     介质损耗测试数据\r\n") + std::string(29, '=') + "\r\n";

} // namespace

TEST(ResultFiles, SavedLiveAndStoredResultsReadBackByteForByte) {
    Fixture f;
    f.Connect();
    f.Choose("CBox_ConnType", "反接线低压屏蔽");
    f.Click("BBtn_StartTest");
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "ShowState"); }));
    const std::string path = f.Home.File("results.txt");
    f.Dialogs.Files.push_back(QString::fromStdString(path));
    f.Trigger("N3");
    EXPECT_EQ(f.Dialogs.Filters.back(), QStringLiteral("*.txt(txt文档) (*.txt)"));
    const ResultTexts live{Text(f.W("Lbl_ShowState")), Text(f.W("LblCxRx")), Text(f.W("Label19"))};
    // The main result ends with CR LF, so an empty line follows it twice over.
    ASSERT_EQ(live.Main.substr(live.Main.size() - 2), "\r\n");
    EXPECT_EQ(ReadAll(path), kHeader + live.Title + "\r\n\r\n" + live.Main + "\r\n\r\n" +
                                 live.Details + "\r\n\r\n");

    ListIndex(f, 9);
    OpenRow(f, 1);
    f.Dialogs.Files.push_back(QString::fromStdString(path));
    f.Trigger("N3");
    const ResultTexts stored{Text(f.W("Label22")), Text(f.W("Label23")), Text(f.W("Label24"))};
    EXPECT_EQ(ReadAll(path), ResultFileRun(live) + ResultFileRun(stored));

    // Opening the file offers both results, newest first; the operator picks the first run.
    const std::vector<ResultChoice> choices = ResultChoices({live, stored});
    ASSERT_EQ(choices.size(), 2u);
    f.Dialogs.Choices.push_back(choices[0].Index == 0 ? 0 : 1);
    f.Dialogs.Files.push_back(QString::fromStdString(path));
    f.Trigger("N9");
    ASSERT_EQ(f.Dialogs.ChoiceLists.size(), 1u);
    EXPECT_EQ(f.Dialogs.ChoiceLists[0], (QStringList{Q(choices[0].Text), Q(choices[1].Text)}));
    EXPECT_EQ(f.Dialogs.Titles.back(), Q(texts::kOpenFileTitle));
    EXPECT_EQ(f.Dialogs.Filters.back(), QStringLiteral("*.txt(txt文档) (*.txt)"));
    EXPECT_TRUE(f.OnPages("UpHis"));
    EXPECT_EQ(Text(f.W("Label20")), live.Title);
    EXPECT_EQ(Text(f.W("Label25")), live.Main);
    EXPECT_EQ(Text(f.W("Label27")), live.Details);
    EXPECT_TRUE(f.Menu("N3")->isEnabled());
    // Saved again from "UpHis", the same texts come back.
    const std::string again = f.Home.File("again.txt");
    f.Dialogs.Files.push_back(QString::fromStdString(again));
    f.Trigger("N3");
    EXPECT_EQ(ParseResultFile(ReadAll(again)).Texts, live);
    // "返回" leaves the page without a command; save and print then do nothing.
    const auto sent = f.SentFrames().size();
    f.Click("BitBtn15");
    EXPECT_TRUE(f.OnPages("Default", "DefPage"));
    EXPECT_EQ(f.SentFrames().size(), sent);
    const auto dialogs = f.Dialogs.Titles.size();
    f.Window->findChild<QAction*>("N3")->trigger();
    f.Window->findChild<QAction*>("N4")->trigger();
    EXPECT_EQ(f.Dialogs.Titles.size(), dialogs);
}

TEST(ResultFiles, AFileOfSeveralResultsOffersThemNewestFirst) {
    Fixture f;
    const ResultTexts first{"反接线\\内标准\\定频\\内高压", "Cx：1.000nF\r\n",
                            "  Date：2016-03-24 15:34:00\r\n"};
    const ResultTexts second{"变比\\内标准\\定频\\内高压", "K\r\n",
                             "  Date：2018-07-01 08:00:00\r\n"};
    const ResultTexts third{"CVT自激法\\内标准\\异频\\内高压", "C1\r\n",
                            "  Date：2017-01-01 00:00:00\r\n"};
    const std::string path = f.Home.File("several.txt");
    WriteAll(path, ResultFileRun(first) + ResultFileRun(second) + ResultFileRun(third));
    f.Dialogs.Choices.push_back(2);
    f.Dialogs.Files.push_back(QString::fromStdString(path));
    f.Trigger("N9");
    ASSERT_EQ(f.Dialogs.ChoiceLists.size(), 1u);
    EXPECT_EQ(f.Dialogs.ChoiceLists[0],
              (QStringList{QStringLiteral("变比\\内标准\\定频\\内高压    2018-07-01 08:00:00"),
                           QStringLiteral("CVT自激法\\内标准\\异频\\内高压    2017-01-01 00:00:00"),
                           QStringLiteral("反接线\\内标准\\定频\\内高压    2016-03-24 15:34:00")}));
    EXPECT_TRUE(f.Dialogs.ChoiceLabels[0].contains(QStringLiteral("3")));
    EXPECT_TRUE(f.OnPages("UpHis"));
    EXPECT_EQ(Text(f.W("Label20")), first.Title);
    EXPECT_EQ(Text(f.W("Label25")), first.Main);
    EXPECT_EQ(Text(f.W("Label27")), first.Details);
    EXPECT_TRUE(f.Menu("N3")->isEnabled());

    // Cancelling the list changes nothing.
    f.Click("BitBtn15");
    f.Dialogs.Choices.push_back(-1);
    f.Dialogs.Files.push_back(QString::fromStdString(path));
    f.Trigger("N9");
    EXPECT_TRUE(f.OnPages("Default", "DefPage"));
    EXPECT_EQ(Text(f.W("Label20")), first.Title);
    EXPECT_TRUE(f.Dialogs.Messages.empty());

    // One result: no list, as before.
    const std::string one = f.Home.File("one.txt");
    WriteAll(one, ResultFileRun(third));
    f.Dialogs.Files.push_back(QString::fromStdString(one));
    f.Trigger("N9");
    EXPECT_EQ(f.Dialogs.ChoiceLists.size(), 2u);
    EXPECT_EQ(Text(f.W("Label20")), third.Title);

    // A file a Linux editor saved in UTF-8, with a byte-order mark: the texts are intact.
    const std::string utf8 = f.Home.File("utf8.txt");
    WriteAll(utf8, "\xEF\xBB\xBF" + GbkToUtf8(ResultFileRun(second)));
    f.Dialogs.Files.push_back(QString::fromStdString(utf8));
    f.Trigger("N9");
    EXPECT_EQ(f.W<QLabel>("Label20")->text(), QStringLiteral("变比\\内标准\\定频\\内高压"));
    EXPECT_EQ(Text(f.W("Label27")), second.Details);
    EXPECT_TRUE(f.Dialogs.Messages.empty());
}

TEST(ResultFiles, FifosDevicesAndLongLinesGiveTheCannotBeReadBox) {
    Fixture f;
    const std::string fifo = f.Home.File("fifo.txt");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string longLine = f.Home.File("long.txt");
    WriteAll(longLine, std::string(texts::kFileSeparator) + "\r\nT\r\n\r\n" +
                           std::string(70000, 'x') + "\r\n");
    const struct {
        std::string path;
        QString reason;
    } cases[] = {
        {fifo, QStringLiteral("不是普通文件")},
        {"/dev/zero", QStringLiteral("不是普通文件")},
        {longLine, QStringLiteral("有一行超过64 KiB")},
        {f.Home.File("missing.txt"), QStringLiteral("文件或文件夹不存在")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        f.Dialogs.Messages.clear();
        f.Dialogs.Files.push_back(QString::fromStdString(c.path));
        f.Trigger("N9"); // returns: a FIFO without a writer would block an ordinary open
        ASSERT_EQ(f.Dialogs.Messages.size(), 1u);
        EXPECT_TRUE(f.Dialogs.LastText().startsWith(
            QStringLiteral("无法读取文件“%1”：").arg(QString::fromStdString(c.path))));
        EXPECT_TRUE(f.Dialogs.LastText().contains(c.reason)) << f.Dialogs.LastText().toStdString();
        EXPECT_TRUE(f.OnPages("Default", "DefPage"));
    }
}

TEST(ResultFiles, TheFileDialogsStartInTheFolderLastUsedWithADatedName) {
    TempDir home;
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", QByteArray::fromStdString(home.Path().string()));
    {
        Fixture f;
        f.Connect();
        f.Click("BBtn_StartTest");
        ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "ShowState"); }));
        // Nothing used yet and no documents folder: the home folder.
        f.Dialogs.Files.push_back(QString());
        f.Trigger("N3");
        const QString name = QStringLiteral("介质损耗测试数据_2016-03-24.txt");
        EXPECT_EQ(f.Dialogs.Starts.back(), QString::fromStdString(home.File("")) + name);
        // With a documents folder: there.
        ASSERT_EQ(::mkdir(home.File("Documents").c_str(), 0755), 0);
        f.Dialogs.Files.push_back(QString());
        f.Trigger("N3");
        EXPECT_EQ(f.Dialogs.Starts.back(), QString::fromStdString(home.File("Documents/")) + name);
        // After a save elsewhere, every file dialog starts there.
        ::mkdir(f.Home.File("kept").c_str(), 0755);
        f.Dialogs.Files.push_back(QString::fromStdString(f.Home.File("kept/r.txt")));
        f.Trigger("N3");
        f.Dialogs.Files.push_back(QString());
        f.Trigger("N3");
        EXPECT_EQ(f.Dialogs.Starts.back(), QString::fromStdString(f.Home.File("kept/")) + name);
        f.Dialogs.Files.push_back(QString());
        f.Trigger("N9");
        EXPECT_EQ(f.Dialogs.Starts.back(), QString::fromStdString(f.Home.File("kept")));
        EXPECT_EQ(f.Dialogs.Filters.back(), f.Dialogs.Filters.front());
        // Opening a file elsewhere moves it again.
        ::mkdir(f.Home.File("other").c_str(), 0755);
        WriteAll(f.Home.File("other/r.txt"), ReadAll(f.Home.File("kept/r.txt")));
        f.Dialogs.Files.push_back(QString::fromStdString(f.Home.File("other/r.txt")));
        f.Trigger("N9");
        f.Dialogs.Files.push_back(QString());
        f.Trigger("N3");
        EXPECT_EQ(f.Dialogs.Starts.back(), QString::fromStdString(f.Home.File("other/")) + name);
    }
    qputenv("HOME", oldHome);
}

TEST(ResultFiles, ForeignMissingAndShortFiles) {
    Fixture f;
    const std::string path = f.Home.File("r.txt");
    // The separator on line 7 is too late.
    WriteAll(path, "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n============\r\nT\r\n\r\nM\r\n\r\nD\r\n\r\n");
    f.Dialogs.Files.push_back(QString::fromStdString(path));
    f.Trigger("N9");
    EXPECT_EQ(f.Dialogs.LastText(), Q(texts::kNotOurFile));
    EXPECT_EQ(f.Dialogs.Messages.back().Caption, Q(texts::kPrompt));
    EXPECT_TRUE(f.OnPages("Default", "DefPage"));

    // A good file, then one that ends right after its separator: the labels are cleared, so no
    // text of the first file is left under the second.
    WriteAll(path, kHeader + "T\r\n\r\nM\r\n\r\nD\r\n\r\n");
    f.Dialogs.Files.push_back(QString::fromStdString(path));
    f.Trigger("N9");
    EXPECT_EQ(Text(f.W("Label20")), "T");
    const std::string empty = f.Home.File("empty.txt");
    WriteAll(empty, kHeader);
    f.Dialogs.Files.push_back(QString::fromStdString(empty));
    f.Trigger("N9");
    EXPECT_TRUE(f.OnPages("UpHis"));
    EXPECT_EQ(Text(f.W("Label20")), "");
    EXPECT_EQ(Text(f.W("Label25")), "");
    EXPECT_EQ(Text(f.W("Label27")), "");

    // Invalid GBK shows as replacement characters.
    WriteAll(path, kHeader + "T\xFF\xFF\r\n\r\nM\r\n\r\nD\r\n");
    f.Dialogs.Files.push_back(QString::fromStdString(path));
    f.Trigger("N9");
    EXPECT_EQ(f.W<QLabel>("Label20")->text(), QStringLiteral("T\uFFFD\uFFFD"));

    // A file that cannot be read: a message naming it, no page change.
    f.W<TNotebook>("Nbk_AllState")->SetActivePage("Default");
    const std::string missing = f.Home.File("missing.txt");
    f.Dialogs.Files.push_back(QString::fromStdString(missing));
    f.Trigger("N9");
    EXPECT_TRUE(f.Dialogs.LastText().contains(QString::fromStdString(missing)));
    EXPECT_TRUE(f.OnPages("Default"));

    // Cancel: nothing read.
    const auto messages = f.Dialogs.Messages.size();
    f.Dialogs.Files.push_back(QString());
    f.Trigger("N9");
    EXPECT_EQ(f.Dialogs.Messages.size(), messages);
}

TEST(ResultFiles, AFailedSaveIsReportedAndLeavesNothingBehind) {
    Fixture f;
    f.Connect();
    f.Click("BBtn_StartTest");
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "ShowState"); }));
    const std::string inMissingFolder = f.Home.File("gone/results.txt");
    f.Dialogs.Files.push_back(QString::fromStdString(inMissingFolder));
    f.Trigger("N3");
    EXPECT_TRUE(f.Dialogs.LastText().contains(QString::fromStdString(inMissingFolder)));
    EXPECT_TRUE(f.Dialogs.LastText().endsWith(
        QStringLiteral("文件或文件夹不存在（No such file or directory）")));
    EXPECT_EQ(f.Dialogs.Messages.back().Caption, Q(texts::kPrompt));
    if (PermissionsApply()) {
        const std::string locked = f.Home.File("locked");
        ::mkdir(locked.c_str(), 0555);
        f.Dialogs.Files.push_back(QString::fromStdString(locked + "/r.txt"));
        f.Trigger("N3");
        EXPECT_TRUE(f.Dialogs.LastText().contains(QString::fromStdString(locked)));
    }
    if (::access("/dev/full", W_OK) == 0) {
        f.Dialogs.Files.push_back(QStringLiteral("/dev/full"));
        f.Trigger("N3");
        EXPECT_TRUE(f.Dialogs.LastText().contains(QStringLiteral("/dev/full")));
        EXPECT_TRUE(f.Dialogs.LastText().contains(QStringLiteral("磁盘已满")));
    }
    // A new file whose save fails is not left behind empty.
    const std::string fresh = f.Home.File("fresh.txt");
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 40;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    f.Dialogs.Files.push_back(QString::fromStdString(fresh));
    f.Trigger("N3");
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(f.Dialogs.LastText().contains(QString::fromStdString(fresh)));
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(fresh)));
}

TEST(ResultFiles, PrintingWithoutAPrinterOffersAPdf) {
    Fixture f;
    f.Connect();
    f.Click("BBtn_StartTest");
    ASSERT_TRUE(WaitUntil([&] { return f.OnPages("Default", "ShowState"); }));
    const std::string pdf = f.Home.File("report.pdf");
    f.Dialogs.Files.push_back(QString::fromStdString(pdf));
    f.Trigger("N4");
    if (f.Dialogs.Messages.empty()) {
        GTEST_SKIP() << "a printer is installed here; the report went to it";
    }
    EXPECT_TRUE(f.Dialogs.Messages.front().Text.contains(QStringLiteral("PDF")));
    ASSERT_FALSE(f.Dialogs.Filters.empty());
    EXPECT_EQ(f.Dialogs.Filters.back(), QStringLiteral("*.pdf (*.pdf)"));
    EXPECT_EQ(ReadAll(pdf).rfind("%PDF", 0), 0u);
    EXPECT_TRUE(
        f.Dialogs.Starts.back().endsWith(QStringLiteral("介质损耗测试报告_2016-03-24.pdf")));
    EXPECT_EQ(f.Dialogs.Messages.size(), 1u) << "a new file needs no question";

    // An existing file is replaced only when the operator says so.
    WriteAll(pdf, "an older report");
    f.Dialogs.Messages.clear();
    f.Dialogs.Answers = {Dialogs::Answer::Ok, Dialogs::Answer::Cancel};
    f.Dialogs.Files.push_back(QString::fromStdString(pdf));
    f.Trigger("N4");
    ASSERT_EQ(f.Dialogs.Messages.size(), 2u);
    EXPECT_EQ(f.Dialogs.Messages[1].Text,
              QStringLiteral("文件“%1”已经存在。\n要替换它吗？").arg(QString::fromStdString(pdf)));
    EXPECT_EQ(f.Dialogs.Messages[1].Choice, Dialogs::Buttons::OkCancel);
    EXPECT_EQ(ReadAll(pdf), "an older report");
    f.Dialogs.Answers = {Dialogs::Answer::Ok, Dialogs::Answer::Ok};
    f.Dialogs.Files.push_back(QString::fromStdString(pdf));
    f.Trigger("N4");
    EXPECT_EQ(ReadAll(pdf).rfind("%PDF", 0), 0u);
    EXPECT_EQ(f.Dialogs.PrinterDialogs, 0);
}

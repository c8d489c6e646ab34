// Keeping a result on the computer: saving it to a text file, opening such a file again on the
// page "UpHis", and printing it as a report.
#include "core/resultfile.h"
#include "core/texts.h"
#include "mainwindow.h"
#include "qtgbk.h"
#include "report.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPrinter>
#include <QStandardPaths>

namespace dielmon {

namespace {

std::string FileName(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// Both dialogs of result files show the same filter.
const QString kTextFilter = QStringLiteral("*.txt(txt文档) (*.txt)");

// Where the file dialogs start: the folder used last, else the documents folder, else home.
QString StartFolder(const QString& last) {
    if (!last.isEmpty() && QFileInfo(last).isDir()) {
        return last;
    }
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir()) {
        return documents;
    }
    return QDir::homePath();
}

// A file name with the day's date, in the folder where the dialog starts.
QString SuggestedFile(const QString& folder, const QString& stem, const LocalTime& day,
                      const QString& suffix) {
    const QString date = QStringLiteral("%1-%2-%3")
                             .arg(day.year, 4, 10, QLatin1Char('0'))
                             .arg(day.month, 2, 10, QLatin1Char('0'))
                             .arg(day.day, 2, 10, QLatin1Char('0'));
    return QDir(folder).filePath(stem + QLatin1Char('_') + date + QLatin1Char('.') + suffix);
}

} // namespace

QString TfrmDielmon::AskSaveFile(QWidget* parent, const QString& stem, const QString& suffix,
                                 const QString& filter) {
    const QString start =
        SuggestedFile(StartFolder(LastFolder_), stem, ToLocal(Clock_->Now()), suffix);
    const QString path = Dialogs_->SaveFileName(parent, QString(), start, filter, suffix);
    if (!path.isEmpty()) {
        LastFolder_ = QFileInfo(path).absolutePath();
    }
    return path;
}

void TfrmDielmon::N3Click() {
    if (const std::optional<ResultTexts> shown = Controller_.ShownResult()) {
        SaveResult(this, *shown);
    }
}

void TfrmDielmon::SaveResult(QWidget* parent, const ResultTexts& texts) {
    const QString path =
        AskSaveFile(parent, QStringLiteral("介质损耗测试数据"), QStringLiteral("txt"), kTextFilter);
    if (path.isEmpty()) {
        return;
    }
    const std::string error = AppendResultRun(FileName(path), texts);
    if (!error.empty()) {
        // Nothing of the result stays in the file; the operator must know it was not kept.
        Dialogs_->Message(
            parent, QStringLiteral("无法写入文件“%1”，结果没有保存！\n%2").arg(path, Q(error)),
            Q(texts::kPrompt), Dialogs::Icon::Warning, Dialogs::Buttons::Ok);
    }
}

void TfrmDielmon::N9Click() {
    const QString path = Dialogs_->OpenFileName(this, Q(texts::kOpenFileTitle),
                                                StartFolder(LastFolder_), kTextFilter);
    if (path.isEmpty()) {
        Apply(Controller_.FileOpenCancelled());
        return;
    }
    LastFolder_ = QFileInfo(path).absolutePath();
    const ResultFileContent content = ReadResultFile(FileName(path));
    if (content.State == ResultFileContent::CannotRead) {
        Dialogs_->Message(this, QStringLiteral("无法读取文件“%1”：%2").arg(path, Q(content.Error)),
                          Q(texts::kPrompt), Dialogs::Icon::Warning, Dialogs::Buttons::Ok);
        return;
    }
    if (content.State == ResultFileContent::NotOurFile) {
        Message(texts::kNotOurFile, Dialogs::Icon::Information);
        return;
    }
    // Saving appends, so most files hold several results: the operator picks one.
    ResultTexts shown = content.Texts;
    if (content.All.size() > 1) {
        const std::vector<ResultChoice> choices = ResultChoices(content.All);
        QStringList items;
        for (const ResultChoice& choice : choices) {
            items << Q(choice.Text);
        }
        const int chosen = Dialogs_->ChooseItem(
            this, QStringLiteral("选择测试数据"),
            QStringLiteral("文件中有%1条测试数据（最新的在最前），请选择要显示的一条：")
                .arg(choices.size()),
            items);
        if (chosen < 0 || chosen >= static_cast<int>(choices.size())) {
            Apply(Controller_.FileOpenCancelled());
            return;
        }
        shown = content.All[choices[static_cast<std::size_t>(chosen)].Index];
    }
    Apply(Controller_.ShowFile(shown));
    ArrangeLayout();
}

void TfrmDielmon::N4Click() {
    if (const std::optional<ResultTexts> shown = Controller_.ShownResult()) {
        PrintResult(this, *shown);
    }
}

void TfrmDielmon::PrintResult(QWidget* parent, const ResultTexts& texts) {
    PrintOutcome outcome = PrintReport(texts.Title, texts.Main, texts.Details);
    if (outcome == PrintOutcome::NoDefaultPrinter) {
        // Printers are there, but the system names none to print on: the operator chooses.
        QPrinter printer(QPrinter::HighResolution);
        if (!Dialogs_->ChoosePrinter(parent, printer)) {
            return;
        }
        outcome = PrintReportOn(printer, texts.Title, texts.Main, texts.Details);
    }
    switch (outcome) {
    case PrintOutcome::Printed:
        return;
    case PrintOutcome::Failed:
    case PrintOutcome::NoDefaultPrinter:
        Dialogs_->Message(parent, QStringLiteral("打印失败，报告没有打印出来。"), Q(texts::kPrompt),
                          Dialogs::Icon::Warning, Dialogs::Buttons::Ok);
        return;
    case PrintOutcome::NoPrinter:
        break;
    }
    if (Dialogs_->Message(
            parent,
            QStringLiteral("这台计算机没有安装打印机。\n是否把报告保存为PDF文件，以后再打印？"),
            Q(texts::kPrompt), Dialogs::Icon::Question,
            Dialogs::Buttons::OkCancel) != Dialogs::Answer::Ok) {
        return;
    }
    const QString path = AskSaveFile(parent, QStringLiteral("介质损耗测试报告"),
                                     QStringLiteral("pdf"), QStringLiteral("*.pdf (*.pdf)"));
    if (path.isEmpty()) {
        return;
    }
    // A report replaces the file, unlike a saved result: ask first.
    if (QFileInfo::exists(path) &&
        Dialogs_->Message(parent, QStringLiteral("文件“%1”已经存在。\n要替换它吗？").arg(path),
                          Q(texts::kPrompt), Dialogs::Icon::Question,
                          Dialogs::Buttons::OkCancel) != Dialogs::Answer::Ok) {
        return;
    }
    if (!SaveReportPdf(path, texts)) {
        Dialogs_->Message(parent, QStringLiteral("无法写入文件“%1”，报告没有保存！").arg(path),
                          Q(texts::kPrompt), Dialogs::Icon::Warning, Dialogs::Buttons::Ok);
    }
}

void TfrmDielmon::BitBtn15Click() {
    Apply(Controller_.ReturnFromFile());
}

} // namespace dielmon

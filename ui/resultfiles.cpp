// Keeping a result on the computer: saving it to a text file, opening such a file again on the
// page "UpHis", and printing it as a report.
#include "core/resultfile.h"
#include "core/texts.h"
#include "mainwindow.h"
#include "qtgbk.h"
#include "report.h"

#include <QFile>

namespace dielmon {

namespace {

std::string FileName(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

} // namespace

void TfrmDielmon::N3Click() {
    const std::optional<ResultTexts> shown = Controller_.ShownResult();
    if (!shown) {
        return;
    }
    const ResultTexts& texts = *shown;
    const QString path = Dialogs_->SaveFileName(this, QString(), QStringLiteral("*.txt (*.txt)"),
                                                QStringLiteral("txt"));
    if (path.isEmpty()) {
        return;
    }
    const std::string error = AppendResultRun(FileName(path), texts);
    if (!error.empty()) {
        // Nothing of the result stays in the file; the operator must know it was not kept.
        Dialogs_->Message(this,
                          QStringLiteral("无法写入文件“%1”，结果没有保存！\n%2")
                              .arg(path, QString::fromLocal8Bit(error.c_str())),
                          Q(texts::kPrompt), Dialogs::Icon::Warning, Dialogs::Buttons::Ok);
    }
}

void TfrmDielmon::N9Click() {
    const QString path = Dialogs_->OpenFileName(this, Q(texts::kOpenFileTitle),
                                                QStringLiteral("*.txt(txt文档) (*.txt)"));
    if (path.isEmpty()) {
        Apply(Controller_.FileOpenCancelled());
        return;
    }
    const ResultFileContent content = ReadResultFile(FileName(path));
    if (content.State == ResultFileContent::CannotRead) {
        Dialogs_->Message(this,
                          QStringLiteral("无法读取文件“%1”：%2")
                              .arg(path, QString::fromLocal8Bit(content.Error.c_str())),
                          Q(texts::kPrompt), Dialogs::Icon::Warning, Dialogs::Buttons::Ok);
        return;
    }
    if (content.State == ResultFileContent::NotOurFile) {
        Message(texts::kNotOurFile, Dialogs::Icon::Information);
        return;
    }
    Apply(Controller_.ShowFile(content.Texts));
    ArrangeLayout();
}

void TfrmDielmon::N4Click() {
    const std::optional<ResultTexts> shown = Controller_.ShownResult();
    if (!shown) {
        return;
    }
    const ResultTexts& texts = *shown;
    switch (PrintReport(texts.Title, texts.Main, texts.Details)) {
    case PrintOutcome::Printed:
        return;
    case PrintOutcome::Failed:
        Dialogs_->Message(this, QStringLiteral("打印失败，报告没有打印出来。"), Q(texts::kPrompt),
                          Dialogs::Icon::Warning, Dialogs::Buttons::Ok);
        return;
    case PrintOutcome::NoPrinter:
        break;
    }
    if (Dialogs_->Message(
            this,
            QStringLiteral("这台计算机没有安装打印机。\n是否把报告保存为PDF文件，以后再打印？"),
            Q(texts::kPrompt), Dialogs::Icon::Question,
            Dialogs::Buttons::OkCancel) != Dialogs::Answer::Ok) {
        return;
    }
    const QString path = Dialogs_->SaveFileName(this, QString(), QStringLiteral("*.pdf (*.pdf)"),
                                                QStringLiteral("pdf"));
    if (!path.isEmpty() && !SaveReportPdf(path, texts)) {
        Dialogs_->Message(this, QStringLiteral("无法写入文件“%1”，报告没有保存！").arg(path),
                          Q(texts::kPrompt), Dialogs::Icon::Warning, Dialogs::Buttons::Ok);
    }
}

void TfrmDielmon::BitBtn15Click() {
    Apply(Controller_.ReturnFromFile());
}

} // namespace dielmon

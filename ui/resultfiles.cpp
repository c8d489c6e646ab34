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

bool TfrmDielmon::ShownResult(ResultTexts& texts) const {
    const QString all = Nbk_AllState->ActivePage();
    const TextLabel* const* labels = nullptr;
    const TextLabel* const upHis[] = {Label20, Label25, Label27};
    const TextLabel* const showOne[] = {Label22, Label23, Label24};
    const TextLabel* const showState[] = {Lbl_ShowState, LblCxRx, Label19};
    if (all == QStringLiteral("UpHis")) {
        labels = upHis;
    } else if (all == QStringLiteral("HisData") &&
               Nbk_ShowHis->ActivePage() == QStringLiteral("ShowOne")) {
        labels = showOne;
    } else if (all == QStringLiteral("Default") &&
               Nbk_Sstate->ActivePage() == QStringLiteral("ShowState")) {
        labels = showState;
    } else {
        return false;
    }
    texts.Title = labels[0]->GbkText();
    texts.Main = labels[1]->GbkText();
    texts.Details = labels[2]->GbkText();
    return true;
}

void TfrmDielmon::N3Click() {
    ResultTexts texts;
    if (!ShownResult(texts)) {
        return;
    }
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
        UpdateFileMenu();
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
    Nbk_AllState->SetActivePage(QStringLiteral("UpHis"));
    ArrangeLayout();
    // Every label is replaced, so no text of an earlier file stays under this one.
    Label20->SetGbkText(content.Texts.Title);
    Label25->SetGbkText(content.Texts.Main);
    Label27->SetGbkText(content.Texts.Details);
    UpdateFileMenu();
}

void TfrmDielmon::N4Click() {
    ResultTexts texts;
    if (!ShownResult(texts)) {
        return;
    }
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
    Nbk_AllState->SetActivePage(QStringLiteral("Default"));
    Nbk_Sstate->SetActivePage(QStringLiteral("DefPage"));
}

} // namespace dielmon

// The buttons of a test and of the result page.
#include "core/texts.h"
#include "mainwindow.h"

namespace dielmon {

void TfrmDielmon::BBtn_StartTestClick() {
    Apply(Controller_.StartTest());
}

void TfrmDielmon::BBtn_StopTestClick() {
    Apply(Controller_.StopTest());
}

void TfrmDielmon::BitBtn4Click() {
    Apply(Controller_.InstrumentSave());
}

void TfrmDielmon::BitBtn5Click() {
    Apply(Controller_.InstrumentPrint());
}

void TfrmDielmon::BitBtn6Click() {
    Apply(Controller_.Return());
}

} // namespace dielmon

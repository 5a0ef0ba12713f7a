#include "Tvfrmmain.h"

TfrmMain::TfrmMain(QWidget* pParent) : QMainWindow(pParent) {}

TfrmMain::~TfrmMain() = default;

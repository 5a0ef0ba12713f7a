// The main window: the two search boxes, the suggestion list of earlier searches and the menu.
#pragma once

#include <QMainWindow>

class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TfrmMain(QWidget* pParent = nullptr);
    ~TfrmMain() override;
};

extern TfrmMain* frmMain;

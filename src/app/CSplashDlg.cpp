// CSplashDlg
#include "app/CSplashDlg.h"

CSplashDlg::CSplashDlg(QWidget* parent) : QDialog(parent) {}
CSplashDlg::~CSplashDlg() = default;

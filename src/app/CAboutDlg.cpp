// CAboutDlg
#include "app/CAboutDlg.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {}
CAboutDlg::~CAboutDlg() = default;

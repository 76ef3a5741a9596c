// The main dialog.
#include "app/CVantrelDlg.h"

CVantrelDlg::CVantrelDlg(QWidget* parent) : QDialog(parent) {}
CVantrelDlg::~CVantrelDlg() = default;

// The About box, laid out from its template in dialog units.
#include "linux/app/CAboutDlg.h"

#include <QLabel>

#include "linux/app/Pictures.h"
#include "linux/controls/CXPButton.h"
#include "linux/controls/DialogUnits.h"

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("CAboutDlg"));
    setWindowTitle(QStringLiteral("About Vantrel"));
    setWindowIcon(Pictures::AppIcon());
    setFont(DialogUnits::DialogFont());
    const DialogUnits du(font());
    setFixedSize(du.ToPixelsX(235), du.ToPixelsY(55));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("aboutIcon"));
    icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    icon->setPixmap(Pictures::Load(Pictures::kAppIcon));
    du.Place(icon, 11, 16, 20, 20);

    // Plain text: an "&" in the name stays an "&".
    auto* name = new QLabel(QStringLiteral("Vantrel 1.0"), this);
    name->setObjectName(QStringLiteral("aboutName"));
    name->setTextFormat(Qt::PlainText);
    du.Place(name, 40, 16, 119, 8);
    auto* line = new QLabel(QStringLiteral("Hides AdSense ads on this PC"), this);
    line->setObjectName(QStringLiteral("aboutLine"));
    line->setTextFormat(Qt::PlainText);
    du.Place(line, 40, 25, 119, 8);

    auto* ok = new CXPButton(QStringLiteral("OK"), this);
    SetControlId(ok, 1);
    ok->setDefault(true);
    du.Place(ok, 178, 7, 50, 14);
    connect(ok, &CXPButton::clicked, this, &CAboutDlg::accept);
    ok->setFocus();
}

CAboutDlg::~CAboutDlg() = default;

#include "app/AboutDlg.h"

#include <QLabel>
#include <QPushButton>

#include "app/AppIcon.h"
#include "app/HyperLink.h"
#include "app/ProductInfo.h"
#include "ui/DialogUnits.h"

namespace skelvane {
namespace {

constexpr int kLabelX = 40;
constexpr int kValueX = 85;
constexpr int kFirstLineY = 32;
constexpr int kLineStep = 14;

QLabel* AddLabel(QWidget* parent, const QString& text, int x, int y, int width)
{
    auto* label = new QLabel(text, parent);
    PlaceControl(label, x, y, width, 10);
    return label;
}

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About Skelvane"));
    setFixedSize(DialogSize(302, 135));
    setWindowIcon(SkelvaneIcon());

    auto* icon = new QLabel(this);
    icon->setPixmap(SkelvaneIcon().pixmap(32, 32));
    icon->setGeometry(DialogRect(11, 12, 21, 20));

    AddLabel(this, QStringLiteral("Skelvane Version ") + ProductVersion(), kLabelX, 12, 180);

    const ContactInfo contacts = Contacts();
    const struct {
        const char* label;
        QString value;
    } lines[] = {
        {"Website: ", contacts.website}, {"E-Mail: ", contacts.email}, {"phone: ", contacts.phone},
        {"Fax: ", contacts.fax},         {"Address: ", contacts.address},
    };
    QLabel* values[5] = {};
    for (int i = 0; i < 5; ++i) {
        const int y = kFirstLineY + i * kLineStep;
        AddLabel(this, QString::fromLatin1(lines[i].label), kLabelX, y, kValueX - kLabelX);
        if (i < 2) {
            auto* link = new CHyperLink(lines[i].value, this);
            link->setGeometry(DialogRect(kValueX, y, 210, 10));
            values[i] = link;
        } else {
            values[i] = AddLabel(this, lines[i].value, kValueX, y, 210);
        }
    }
    m_websiteLink = static_cast<CHyperLink*>(values[0]);
    m_emailLink = static_cast<CHyperLink*>(values[1]);
    m_websiteLink->Attach();
    m_emailLink->SetTarget(QStringLiteral("mailto:") + contacts.email);
    m_emailLink->Attach();

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(DialogRect(245, 114, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace skelvane

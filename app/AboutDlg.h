// "About Skelvane": the version line and the contact lines, the web site and
// e-mail values as links.
#pragma once

#include <QDialog>

namespace skelvane {

class CHyperLink;

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    CHyperLink* WebsiteLink() const { return m_websiteLink; }
    CHyperLink* EmailLink() const { return m_emailLink; }

private:
    CHyperLink* m_websiteLink;
    CHyperLink* m_emailLink;
};

}  // namespace skelvane

#include "app/DomeTabCtrl.h"

#include <QPainter>
#include <QStyleOptionTabWidgetFrame>
#include <QTabBar>
#include <QWheelEvent>

namespace skelvane {
namespace {

class CMouseOnlyTabBar final : public QTabBar {
public:
    explicit CMouseOnlyTabBar(QWidget* parent) : QTabBar(parent)
    {
        setFocusPolicy(Qt::NoFocus);
        setDrawBase(false);
        setExpanding(false);
    }

protected:
    void wheelEvent(QWheelEvent* event) override { event->ignore(); }
};

}  // namespace

CDomeTabCtrl::CDomeTabCtrl(QWidget* parent) : QWidget(parent), m_tabBar(new CMouseOnlyTabBar(this))
{
    connect(m_tabBar, &QTabBar::tabBarClicked, this, &CDomeTabCtrl::OnTabClicked);
}

bool CDomeTabCtrl::AddPage(const QString& title, QWidget* page)
{
    if (m_pages.size() >= kMaxPages || page == nullptr) return false;
    m_pages.push_back({title, page});
    return true;
}

void CDomeTabCtrl::CreatePages()
{
    for (int i = 0; i < PageCount(); ++i) {
        m_pages[i].page->setParent(this);
        m_tabBar->insertTab(i, m_pages[i].title);
    }
    m_shown = 0;
    m_tabBar->setCurrentIndex(0);
    LayoutPages();
}

void CDomeTabCtrl::LayoutPages()
{
    m_tabBar->setGeometry(0, 0, width(), m_tabBar->sizeHint().height());
    const QRect tab = m_tabBar->tabRect(0);
    const int top = m_tabBar->geometry().top() + (tab.isValid() ? tab.bottom() : m_tabBar->height() - 1) + 1;
    const int left = tab.isValid() ? tab.left() : 0;
    // The frame takes the outermost pixels; pages sit just inside it.
    const QRect area(left + 1, top + 1, width() - left - 2, height() - top - 2);
    for (int i = 0; i < PageCount(); ++i) {
        QWidget* page = m_pages[i].page;
        page->setGeometry(area);
        page->raise();
        page->setVisible(i == m_shown);
    }
}

QWidget* CDomeTabCtrl::Page(int index) const
{
    return index >= 0 && index < PageCount() ? m_pages[index].page : nullptr;
}

void CDomeTabCtrl::ShowPage(int index)
{
    if (index < 0 || index >= PageCount() || index == m_shown) return;
    m_pages[m_shown].page->hide();
    m_pages[index].page->show();
    m_shown = index;
    m_tabBar->setCurrentIndex(index);
    Q_EMIT PageShown(index);
}

QRect CDomeTabCtrl::TabRect(int index) const
{
    return m_tabBar->tabRect(index).translated(m_tabBar->pos());
}

void CDomeTabCtrl::OnTabClicked(int index)
{
    ShowPage(index);
}

void CDomeTabCtrl::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    LayoutPages();
}

void CDomeTabCtrl::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QStyleOptionTabWidgetFrame frame;
    frame.initFrom(this);
    const int top = m_tabBar->geometry().bottom() + 1;
    frame.rect = QRect(0, top - 1, width(), height() - top + 1);
    frame.tabBarSize = m_tabBar->sizeHint();
    frame.shape = QTabBar::RoundedNorth;
    frame.tabBarRect = m_tabBar->geometry();
    style()->drawPrimitive(QStyle::PE_FrameTabWidget, &frame, &painter, this);
}

}  // namespace skelvane

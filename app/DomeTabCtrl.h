// The tab control of the main window: a row of tabs over a framed area that
// holds the pages. The control keeps the list of its pages (at most 16) but
// does not own them: pages become its children when created, so they go with
// it unless their owner deletes them first.
//
// Pages switch when a tab is clicked with the mouse. The tabs never take the
// keyboard focus and ignore the wheel, so the tab shown selected is always
// the page shown.
#pragma once

#include <QString>
#include <QVector>
#include <QWidget>

class QTabBar;

namespace skelvane {

class CDomeTabCtrl : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMaxPages = 16;

    explicit CDomeTabCtrl(QWidget* parent = nullptr);

    // Appends a page; false, and nothing changed, when 16 are held already.
    bool AddPage(const QString& title, QWidget* page);
    // Makes every page a child of the control with a tab of its title, shows
    // the first and hides the others, then lays them out.
    void CreatePages();
    // Puts every page in the area under the tabs.
    void LayoutPages();

    int PageCount() const { return static_cast<int>(m_pages.size()); }
    QWidget* Page(int index) const;
    int ShownIndex() const { return m_shown; }
    // Shows the page at `index` (what a click on its tab does).
    void ShowPage(int index);
    // The area of tab `index`, in the control's coordinates (for clicks).
    QRect TabRect(int index) const;
    QTabBar* TabBar() const { return m_tabBar; }

Q_SIGNALS:
    void PageShown(int index);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void OnTabClicked(int index);

    struct Entry {
        QString title;
        QWidget* page;
    };
    QVector<Entry> m_pages;
    int m_shown = 0;
    QTabBar* m_tabBar;
};

}  // namespace skelvane

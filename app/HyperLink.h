// A text label that acts as a link: link colours, underlined while the mouse
// is over it (or always, or never), a pointing-hand cursor, a tooltip with its
// target, and a click that opens the target with the desktop, falling back to
// starting the browser directly.
//
// The label is set up like any other (text, font, position) and then
// Attach()ed: the target defaults to the text, the label shrinks or grows to
// its text (FitToText) and the two fonts are made from the label's font.
//
// Opening a target (OpenTarget) answers with the result codes of the classic
// shell launcher: above 32 means opened, anything else is a reason that
// ShowLaunchError explains. On this platform:
//   2  a local file that does not exist (or the fallback browser program),
//   3  a local file whose folder does not exist,
//   5  a fallback browser program that exists but cannot be started,
//   31 the desktop has no application for the target and there is no
//      fallback browser ($BROWSER, else xdg-open).
#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QTimer>

namespace skelvane {

class CHyperLink : public QLabel {
    Q_OBJECT
public:
    enum UnderlineMode { kUnderlineHover = -1, kUnderlineNever = 0, kUnderlineAlways = 1 };
    // Any value above 32 reports success; this is the one OpenTarget gives.
    static constexpr int kLaunchSucceeded = 33;
    static constexpr int kHoverTimerMs = 100;

    explicit CHyperLink(QWidget* parent = nullptr);
    CHyperLink(const QString& text, QWidget* parent);

    // Takes the label over as a link; call once the text and geometry are set.
    void Attach();

    void SetTarget(const QString& target);
    const QString& Target() const { return m_target; }
    void SetColours(const QColor& link, const QColor& visited, const QColor& hover);
    void MarkVisited(bool visited = true);
    bool IsVisited() const { return m_visited; }
    void SetUnderlineMode(int mode);
    int GetUnderlineMode() const { return m_underlineMode; }
    void SetFitToText(bool fit) { m_fitToText = fit; }
    void FitToText();

    bool IsHovering() const { return m_hovering; }
    bool IsUnderlined() const { return font().underline(); }
    // The colour the text is drawn in now.
    QColor CurrentTextColour() const;

    // What a click does: open the target; mark the link visited, or beep and
    // explain the failure.
    void Click();

    // Opens `target` with the desktop, else through the browser fallback.
    static int OpenTarget(const QString& target);
    // The fallback command: the browser command cut at its "%1" placeholder
    // (quoted or not); the target is then passed after it.
    static QString BrowserCommandLine(const QString& browserCommand);
    // "Unable to open hyperlink:\n\n" and the reason for `code`.
    static QString LaunchErrorText(int code);
    static void ShowLaunchError(QWidget* parent, int code);

Q_SIGNALS:
    void VisitedChanged(bool visited);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void CheckHoverLeft();
    void EndHover();
    void ApplyLook();

    QColor m_linkColour{0, 0, 238};
    QColor m_visitedColour{85, 26, 139};
    QColor m_hoverColour{255, 0, 0};
    bool m_hovering = false;
    bool m_visited = false;
    int m_underlineMode = kUnderlineHover;
    bool m_fitToText = true;
    bool m_attached = false;
    QString m_target;
    QFont m_underlineFont;
    QFont m_normalFont;
    QTimer m_hoverTimer;
};

}  // namespace skelvane

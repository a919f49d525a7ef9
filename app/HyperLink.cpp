#include "app/HyperLink.h"

#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QProcess>
#include <QStandardPaths>

#include "ui/DesktopLauncher.h"
#include "ui/MessageBox.h"

namespace skelvane {
namespace {

constexpr int kNoAssociation = 31;

// A target that names a file on this machine, as a path or a file: URL.
bool IsLocalTarget(const QString& target, QString& path)
{
    const QUrl url(target);
    if (url.isLocalFile()) {
        path = url.toLocalFile();
        return true;
    }
    if (QDir::isAbsolutePath(target)) {
        path = target;
        return true;
    }
    return false;
}

QUrl TargetUrl(const QString& target)
{
    QString path;
    if (IsLocalTarget(target, path)) return QUrl::fromLocalFile(path);
    const QUrl url(target);
    if (!url.scheme().isEmpty()) return url;
    return QUrl::fromUserInput(target);
}

// The browser of the fallback: $BROWSER (the first of a colon-separated list),
// else the desktop's generic opener.
QString FallbackBrowserCommand()
{
    const QString browser = qEnvironmentVariable("BROWSER").section(QLatin1Char(':'), 0, 0).trimmed();
    if (!browser.isEmpty()) return browser;
    return QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
}

int StartBrowser(const QString& commandLine, const QString& target)
{
    QStringList arguments = QProcess::splitCommand(commandLine);
    if (arguments.isEmpty()) return 2;
    const QString program = arguments.takeFirst();
    arguments << target;
    if (StartDetachedProgram(program, arguments)) return CHyperLink::kLaunchSucceeded;
    if (program.contains(QLatin1Char('/'))) {
        const QFileInfo info(program);
        if (!info.dir().exists()) return 3;
        if (!info.exists()) return 2;
        return 5;
    }
    return QStandardPaths::findExecutable(program).isEmpty() ? 2 : 5;
}

}  // namespace

CHyperLink::CHyperLink(QWidget* parent) : CHyperLink(QString(), parent) {}

CHyperLink::CHyperLink(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    m_hoverTimer.setInterval(kHoverTimerMs);
    connect(&m_hoverTimer, &QTimer::timeout, this, &CHyperLink::CheckHoverLeft);
}

void CHyperLink::Attach()
{
    if (m_target.isEmpty()) m_target = text();
    if (text().isEmpty()) setText(m_target);
    setTextFormat(Qt::PlainText);

    m_normalFont = font();
    m_normalFont.setUnderline(false);
    m_underlineFont = m_normalFont;
    m_underlineFont.setUnderline(true);

    m_attached = true;
    FitToText();
    setFont(m_underlineMode == kUnderlineAlways ? m_underlineFont : m_normalFont);
    setCursor(Qt::PointingHandCursor);
    setMouseTracking(true);
    setAutoFillBackground(true);
    setToolTip(m_target);
    ApplyLook();
}

void CHyperLink::SetTarget(const QString& target)
{
    m_target = target;
    setToolTip(m_target);
}

void CHyperLink::SetColours(const QColor& link, const QColor& visited, const QColor& hover)
{
    m_linkColour = link;
    m_visitedColour = visited;
    m_hoverColour = hover;
    ApplyLook();
}

void CHyperLink::MarkVisited(bool visited)
{
    const bool changed = m_visited != visited;
    m_visited = visited;
    ApplyLook();
    if (changed) Q_EMIT VisitedChanged(visited);
}

void CHyperLink::SetUnderlineMode(int mode)
{
    if (mode == m_underlineMode) return;
    m_underlineMode = mode;
    // Before Attach there are no link fonts yet; Attach applies the mode.
    if (!m_attached) return;
    setFont(mode == kUnderlineAlways || (mode == kUnderlineHover && m_hovering) ? m_underlineFont : m_normalFont);
    update();
}

void CHyperLink::FitToText()
{
    if (!m_fitToText || !m_attached) return;
    QRect frame = geometry();
    const QRect client = contentsRect();
    const QSize textSize = QFontMetrics(m_underlineFont).size(Qt::TextSingleLine, text());
    const int height = textSize.height() + (frame.height() - client.height());
    const int width = textSize.width() + (frame.width() - client.width());

    const Qt::Alignment align = alignment();
    if (align & Qt::AlignVCenter) {
        const int shrink = (frame.height() - height) / 2;
        frame.setTop(frame.top() + shrink);
        frame.setHeight(height);
    } else {
        frame.setHeight(height);
    }
    if (align & Qt::AlignHCenter) {
        const int shrink = (frame.width() - width) / 2;
        frame.setLeft(frame.left() + shrink);
        frame.setWidth(width);
    } else if (align & Qt::AlignRight) {
        frame.setLeft(frame.right() + 1 - width);
    } else {
        frame.setWidth(width);
    }
    setGeometry(frame);
}

QColor CHyperLink::CurrentTextColour() const
{
    if (m_hovering) return m_hoverColour;
    return m_visited ? m_visitedColour : m_linkColour;
}

void CHyperLink::ApplyLook()
{
    QPalette look = palette();
    look.setColor(QPalette::WindowText, CurrentTextColour());
    setPalette(look);
    update();
}

void CHyperLink::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_hovering) {
        m_hovering = true;
        if (m_underlineMode == kUnderlineHover) setFont(m_underlineFont);
        ApplyLook();
        m_hoverTimer.start();
    }
    QLabel::mouseMoveEvent(event);
}

void CHyperLink::CheckHoverLeft()
{
    if (!rect().contains(mapFromGlobal(QCursor::pos()))) EndHover();
}

void CHyperLink::leaveEvent(QEvent* event)
{
    // The timer would find out within 100 ms; the leave event only saves the wait.
    EndHover();
    QLabel::leaveEvent(event);
}

void CHyperLink::EndHover()
{
    if (!m_hovering) return;
    m_hovering = false;
    m_hoverTimer.stop();
    if (m_underlineMode != kUnderlineAlways) setFont(m_normalFont);
    ApplyLook();
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) Click();
}

void CHyperLink::Click()
{
    m_hovering = false;
    m_hoverTimer.stop();
    if (m_underlineMode != kUnderlineAlways) setFont(m_normalFont);
    const int result = OpenTarget(m_target);
    if (result > 32) {
        MarkVisited(true);
        return;
    }
    MessageBeep();
    ShowLaunchError(this, result);
    MarkVisited(false);
}

int CHyperLink::OpenTarget(const QString& target)
{
    int result = kNoAssociation;
    QString path;
    if (IsLocalTarget(target, path) && !QFileInfo::exists(path)) {
        result = QFileInfo(path).dir().exists() ? 2 : 3;
    } else if (OpenUrlOnDesktop(TargetUrl(target))) {
        return kLaunchSucceeded;
    }
    if (result != kNoAssociation) return result;

    const QString browser = FallbackBrowserCommand();
    if (browser.isEmpty()) return result;
    return StartBrowser(BrowserCommandLine(browser), target);
}

QString CHyperLink::BrowserCommandLine(const QString& browserCommand)
{
    qsizetype cut = browserCommand.indexOf(QStringLiteral("\"%1\""));
    if (cut < 0) cut = browserCommand.indexOf(QStringLiteral("%1"));
    return (cut < 0 ? browserCommand : browserCommand.left(cut)).trimmed();
}

QString CHyperLink::LaunchErrorText(int code)
{
    QString reason;
    switch (code) {
    case 0: reason = QStringLiteral("The operating system is out\nof memory or resources."); break;
    case 2: reason = QStringLiteral("The specified file was not found."); break;
    case 3: reason = QStringLiteral("The specified path was not found."); break;
    case 5: reason = QStringLiteral("The operating system denied\naccess to the specified file."); break;
    case 8: reason = QStringLiteral("There was not enough memory to complete the operation."); break;
    case 11: reason = QStringLiteral("The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."); break;
    case 26: reason = QStringLiteral("A sharing violation occurred. "); break;
    case 27: reason = QStringLiteral("The filename association is\nincomplete or invalid."); break;
    case 28:
        reason = QStringLiteral("The DDE transaction could not\nbe completed because the request timed out.");
        break;
    case 29: reason = QStringLiteral("The DDE transaction failed."); break;
    case 30:
        reason = QStringLiteral(
            "The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed.");
        break;
    case 31: reason = QStringLiteral("There is no application associated\nwith the given filename extension."); break;
    case 32: reason = QStringLiteral("The specified dynamic-link library was not found."); break;
    default: reason = QStringLiteral("Unknown Error (%1) occurred.").arg(code); break;
    }
    return QStringLiteral("Unable to open hyperlink:\n\n") + reason;
}

void CHyperLink::ShowLaunchError(QWidget* parent, int code)
{
    ShowMessageBox(parent, LaunchErrorText(code), QString(), MessageIcon::Warning);
}

}  // namespace skelvane

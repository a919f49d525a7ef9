// Stand-ins for the dialogs and the desktop in widget tests: each installs
// itself for the life of the object and puts back what was there before.
#pragma once

#include <deque>
#include <vector>

#include <QColor>
#include <QElapsedTimer>
#include <QHash>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include "ui/DesktopLauncher.h"
#include "ui/FileDialog.h"
#include "ui/FolderPicker.h"
#include "ui/MessageBox.h"

namespace skelvane::test {

// Answers every message box and keeps what it was asked.
class MessageBoxRecorder {
public:
    explicit MessageBoxRecorder(MessageAnswer defaultAnswer = MessageAnswer::Ok);
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    // The answer to the next box only; later boxes get the default.
    void AnswerNext(MessageAnswer answer) { m_answers.push_back(answer); }
    const std::vector<MessageBoxRequest>& Boxes() const { return m_boxes; }
    QStringList Texts() const;

private:
    MessageAnswer m_default;
    std::deque<MessageAnswer> m_answers;
    std::vector<MessageBoxRequest> m_boxes;
    MessageBoxHandler m_previous;
};

// Lets the real boxes open, modal with an event loop of their own as a person
// sees them, and closes each one `closeAfterMs` after it opened with its
// escape button (No, Cancel) or its only button. Keeps their texts and the
// most modal windows that were open at once.
class RealBoxCloser {
public:
    explicit RealBoxCloser(int closeAfterMs = 30);
    RealBoxCloser(const RealBoxCloser&) = delete;
    RealBoxCloser& operator=(const RealBoxCloser&) = delete;

    const QStringList& Texts() const { return m_texts; }
    int MostModalAtOnce() const { return m_mostModal; }
    // Waits until no box is open and none came for `quietMs`.
    void WaitUntilQuiet(int quietMs = 100, int timeoutMs = 10000);

private:
    void Look();

    int m_closeAfterMs;
    QTimer m_timer;
    QElapsedTimer m_clock;
    QHash<QWidget*, qint64> m_openedAt;
    QStringList m_texts;
    int m_mostModal = 0;
    qint64 m_lastActivity = 0;
};

// The modal windows shown now.
int VisibleModalWindows();

// The colour a field is drawn on, inside its frame, where no text reaches.
QColor FieldBackground(QWidget* field);

// Answers the folder picker with a fixed folder (empty: cancelled).
class FolderPickerAnswer {
public:
    explicit FolderPickerAnswer(QString answer);
    ~FolderPickerAnswer();
    FolderPickerAnswer(const FolderPickerAnswer&) = delete;
    FolderPickerAnswer& operator=(const FolderPickerAnswer&) = delete;

    int Calls() const { return m_calls; }
    const QString& LastTitle() const { return m_title; }
    const QString& LastInitialFolder() const { return m_initial; }

private:
    QString m_answer;
    int m_calls = 0;
    QString m_title;
    QString m_initial;
    FolderPickerHandler m_previous;
};

// Answers file dialogs with a fixed path (empty: cancelled).
class FileDialogAnswer {
public:
    explicit FileDialogAnswer(QString answer);
    ~FileDialogAnswer();
    FileDialogAnswer(const FileDialogAnswer&) = delete;
    FileDialogAnswer& operator=(const FileDialogAnswer&) = delete;

    const std::vector<FileDialogRequest>& Requests() const { return m_requests; }

private:
    QString m_answer;
    std::vector<FileDialogRequest> m_requests;
    FileDialogHandler m_previous;
};

// A desktop that opens nothing: records what it was asked to open or start
// and succeeds or fails as told.
class DesktopRecorder {
public:
    DesktopRecorder(bool openSucceeds, bool startSucceeds);
    ~DesktopRecorder();
    DesktopRecorder(const DesktopRecorder&) = delete;
    DesktopRecorder& operator=(const DesktopRecorder&) = delete;

    struct Start {
        QString program;
        QStringList arguments;
    };
    const std::vector<QUrl>& Opened() const { return m_opened; }
    const std::vector<Start>& Started() const { return m_started; }

private:
    bool m_openSucceeds;
    bool m_startSucceeds;
    std::vector<QUrl> m_opened;
    std::vector<Start> m_started;
    DesktopLauncher m_previous;
};

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value);
    ~ScopedEnv();

private:
    const char* m_name;
    bool m_wasSet;
    QByteArray m_old;
};

}  // namespace skelvane::test

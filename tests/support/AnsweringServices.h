#pragma once

#include "common/Clock.h"
#include "shell/Services.h"

#include <deque>
#include <optional>
#include <vector>

// Message boxes answered by the test: the next queued answer (Ok, or No for
// a Yes/No box, when none is queued). Every box shown is recorded.
class AnsweringMessageBoxes final : public MessageBoxes {
public:
    struct Shown {
        Icon icon;
        QString title;
        QString text;
        Buttons buttons;
    };
    Answer Show(QWidget *parent, Icon icon, const QString &title, const QString &text, Buttons buttons) override;
    void QueueAnswer(Answer answer) { answers.push_back(answer); }
    std::deque<Answer> answers;
    std::vector<Shown> shown;
};

// The file chooser answered by the test: the next queued path, or cancel.
class AnsweringFileChooser final : public FileChooser {
public:
    std::optional<QString> ChooseOpenFile(QWidget *owner, const FileChooserRequest &request) override;
    void QueuePath(const QString &path) { answers.push_back(path); }
    void QueueCancel() { answers.push_back(std::nullopt); }
    std::deque<std::optional<QString>> answers;
    std::vector<FileChooserRequest> requests;
};

class RecordingUrlOpener final : public UrlOpener {
public:
    bool Open(const QString &address) override
    {
        opened.push_back(address);
        return succeed;
    }
    bool succeed = true;
    std::vector<QString> opened;
};

// A clock the test sets; time moves only when the test says so.
class SettableClock final : public Clock {
public:
    LocalDateTime Now() const override { return now; }
    void AdvanceMilliseconds(int ms);
    LocalDateTime now;
};

// All four, ready to hand to the window.
struct AnsweringServices {
    AnsweringMessageBoxes boxes;
    AnsweringFileChooser chooser;
    RecordingUrlOpener opener;
    SettableClock clock;
    Services Get() { return Services{&boxes, &chooser, &opener, &clock}; }
};

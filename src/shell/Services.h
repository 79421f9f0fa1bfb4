#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QWidget;
class Clock;

// What a person answers: message boxes. Tests queue the answers.
class MessageBoxes {
public:
    enum class Icon { Information, Warning, Question };
    enum class Buttons { Ok, YesNo };
    enum class Answer { Ok, Yes, No };
    virtual ~MessageBoxes() = default;
    // Modal; returns the button pressed.
    virtual Answer Show(QWidget *parent, Icon icon, const QString &title, const QString &text, Buttons buttons) = 0;
};

// The platform's file chooser, behind a seam for tests.
struct FileChooserRequest {
    QString title;
    QString initialDirectory;
    QStringList nameFilters; // Qt style: "Text files (*.txt)"
    int selectedFilter = 0;  // 0-based
    bool fileMustExist = true;
};

class FileChooser {
public:
    virtual ~FileChooser() = default;
    // The chosen path, or nothing when cancelled.
    virtual std::optional<QString> ChooseOpenFile(QWidget *owner, const FileChooserRequest &request) = 0;
};

// Opens an address with the desktop's default handler.
class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    virtual bool Open(const QString &address) = 0;
};

// Everything the window needs from outside; real ones by default.
struct Services {
    MessageBoxes *messageBoxes = nullptr;
    FileChooser *fileChooser = nullptr;
    UrlOpener *urlOpener = nullptr;
    Clock *clock = nullptr;
};

// The real services of the desktop, alive for the whole program.
Services DesktopServices();

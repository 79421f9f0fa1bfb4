#include "shell/Services.h"

#include "common/Clock.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

namespace {
class DesktopMessageBoxes final : public MessageBoxes {
public:
    Answer Show(QWidget *parent, Icon icon, const QString &title, const QString &text, Buttons buttons) override
    {
        QMessageBox box(parent);
        box.setWindowTitle(title);
        box.setText(text);
        box.setIcon(icon == Icon::Warning    ? QMessageBox::Warning
                    : icon == Icon::Question ? QMessageBox::Question
                                             : QMessageBox::Information);
        if (buttons == Buttons::YesNo) {
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            return box.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
        }
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
        return Answer::Ok;
    }
};

class DesktopFileChooser final : public FileChooser {
public:
    std::optional<QString> ChooseOpenFile(QWidget *owner, const FileChooserRequest &request) override
    {
        QFileDialog dialog(owner, request.title, request.initialDirectory);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(request.fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
        dialog.setNameFilters(request.nameFilters);
        if (request.selectedFilter >= 0 && request.selectedFilter < request.nameFilters.size())
            dialog.selectNameFilter(request.nameFilters.at(request.selectedFilter));
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return dialog.selectedFiles().constFirst();
    }
};

class DesktopUrlOpener final : public UrlOpener {
public:
    bool Open(const QString &address) override { return QDesktopServices::openUrl(QUrl(address)); }
};
} // namespace

Services DesktopServices()
{
    static DesktopMessageBoxes boxes;
    static DesktopFileChooser chooser;
    static DesktopUrlOpener opener;
    static SystemClock clock;
    return Services{&boxes, &chooser, &opener, &clock};
}

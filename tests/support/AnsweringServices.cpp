#include "support/AnsweringServices.h"

MessageBoxes::Answer AnsweringMessageBoxes::Show(QWidget *, Icon icon, const QString &title, const QString &text,
                                                 Buttons buttons)
{
    shown.push_back(Shown{icon, title, text, buttons});
    if (!answers.empty()) {
        const Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    return buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
}

std::optional<QString> AnsweringFileChooser::ChooseOpenFile(QWidget *, const FileChooserRequest &request)
{
    requests.push_back(request);
    if (answers.empty())
        return std::nullopt;
    std::optional<QString> answer = std::move(answers.front());
    answers.pop_front();
    if (!answer)
        return std::nullopt;
    return QString(*answer);
}

void SettableClock::AdvanceMilliseconds(int ms)
{
    long long total = ((now.hour * 60LL + now.minute) * 60 + now.second) * 1000 + now.millisecond + ms;
    const long long day = 24LL * 3600 * 1000;
    if (total >= day) {
        total %= day;
        ++now.day; // good enough for tests that cross one midnight
    }
    now.millisecond = static_cast<int>(total % 1000);
    total /= 1000;
    now.second = static_cast<int>(total % 60);
    total /= 60;
    now.minute = static_cast<int>(total % 60);
    now.hour = static_cast<int>(total / 60);
}

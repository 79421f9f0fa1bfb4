#pragma once

#include <QDialog>

class ClickableLabel;
class QGroupBox;
class QLabel;
class QPushButton;
class UrlOpener;

// The About box. One object serves every showing; each showing loads it,
// runs it modally and unloads it.
class HelpAbout : public QDialog {
    Q_OBJECT
public:
    // The box is laid out at the owner's pixels per twip, or larger where
    // this font needs more room.
    explicit HelpAbout(UrlOpener *opener, QWidget *owner = nullptr, double pixelsPerTwip = 1.0 / 15);

    int ShowModal();

    void Form_Load();
    void Form_Activate();
    void Form_Unload();
    void CmdOK_Click();
    void LblWebsite_Click();
    void LblWebSupport_Click();
    void LogoImage_Click();

    // The outer size taken when the box was created.
    QSize RecordedSize() const { return m_recordedSize; }

    ClickableLabel *LogoImage = nullptr;
    QLabel *LblProgramName = nullptr;
    QLabel *LblProgramVersion = nullptr;
    QLabel *LblLegalNotice = nullptr;
    QGroupBox *FraLinks = nullptr;
    QLabel *Label1_5 = nullptr;
    ClickableLabel *LblWebsite = nullptr;
    QLabel *Label1_6 = nullptr;
    ClickableLabel *LblWebSupport = nullptr;
    QPushButton *CmdOK = nullptr;

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void BuildControls(double pixelsPerTwip);
    void Place(QWidget *control, int left, int top, int width, int height) const;
    void OpenAddress(const QString &address);

    UrlOpener *m_opener;
    double m_scale = 1.0;
    QSize m_recordedSize;
};

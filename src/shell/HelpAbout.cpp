#include "shell/HelpAbout.h"

#include "common/Version.h"
#include "shell/ClickableLabel.h"
#include "shell/LogoArt.h"
#include "shell/Services.h"
#include "shell/VisualStyles.h"
#include "shell/WebAddresses.h"

#include <QEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include <algorithm>

namespace {
constexpr int TwipsPerPixel = 15;
// The line height the design's 8 pt font has at 96 dots per inch.
constexpr double DesignLineHeight = 13.0;

const QString ProgramNameText = QStringLiteral("Wren Syslog Message Generator");
const QString LegalNoticeText = QStringLiteral("Copyright \u00a9 2026 Corvane. All rights reserved.");

QString VersionLabelText()
{
    return QStringLiteral("Version %1.%2.%3")
        .arg(QuillonVersion::VersionMajor)
        .arg(QuillonVersion::VersionMinor)
        .arg(QuillonVersion::VersionRevision);
}

// How much wider a text is than the room the design gives it.
double Overflow(const QFont &font, const QString &text, int widthTwips)
{
    const double room = static_cast<double>(widthTwips) / TwipsPerPixel;
    return (QFontMetrics(font).horizontalAdvance(text) + 4) / room;
}

// The design assumes an 8 pt font; grow the whole box so this font fits.
double LayoutScale(const QFont &bold, const QFont &normal, const QFont &link)
{
    const double heights = QFontMetrics(bold).height() / DesignLineHeight;
    return std::max({1.0, heights, Overflow(bold, ProgramNameText, 2955), Overflow(normal, VersionLabelText(), 2145),
                     Overflow(normal, LegalNoticeText, 4695), Overflow(normal, QStringLiteral("Website: "), 795),
                     Overflow(link, SupportAddress(), 2865), Overflow(normal, QStringLiteral("OK"), 1092 - 300)});
}

void LookLikeLink(ClickableLabel *label, const QFont &linkFont)
{
    label->setFont(linkFont);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(0, 0, 192));
    label->setPalette(palette);
    label->setCursor(Qt::PointingHandCursor);
}
} // namespace

HelpAbout::HelpAbout(UrlOpener *opener, QWidget *owner, double pixelsPerTwip)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         Qt::MSWindowsFixedSizeDialogHint),
      m_opener(opener)
{
    setObjectName(QStringLiteral("HelpAbout"));
    setWindowTitle(QStringLiteral(".: About :."));
    setModal(true);
    BuildControls(pixelsPerTwip);

    // Form_Initialize: the size every activation returns to.
    m_recordedSize = size();
}

void HelpAbout::BuildControls(double pixelsPerTwip)
{
    QFont bold = font();
    bold.setBold(true);
    setFont(bold);
    QFont normal = bold;
    normal.setBold(false);
    QFont link = normal;
    link.setUnderline(true);
    m_scale = std::max(pixelsPerTwip * TwipsPerPixel, LayoutScale(bold, normal, link));

    LogoImage = new ClickableLabel(this);
    LogoImage->setObjectName(QStringLiteral("LogoImage"));
    LogoImage->setAlignment(Qt::AlignCenter);
    LogoImage->setCursor(Qt::PointingHandCursor);
    Place(LogoImage, 90, 90, 5295, 1545);
    LogoImage->setPixmap(LogoPixmap(LogoImage->size(), devicePixelRatioF()));

    LblProgramName = new QLabel(ProgramNameText, this);
    LblProgramName->setObjectName(QStringLiteral("LblProgramName"));
    Place(LblProgramName, 90, 1830, 2955, 285);

    LblProgramVersion = new QLabel(this);
    LblProgramVersion->setObjectName(QStringLiteral("LblProgramVersion"));
    LblProgramVersion->setFont(normal);
    LblProgramVersion->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Place(LblProgramVersion, 3210, 1830, 2145, 285);

    LblLegalNotice = new QLabel(LegalNoticeText, this);
    LblLegalNotice->setObjectName(QStringLiteral("LblLegalNotice"));
    LblLegalNotice->setFont(normal);
    Place(LblLegalNotice, 90, 2160, 4695, 285);

    FraLinks = new QGroupBox(this);
    FraLinks->setObjectName(QStringLiteral("FraLinks"));
    FraLinks->setFont(normal);
    Place(FraLinks, 90, 2460, 4095, 945);

    Label1_5 = new QLabel(QStringLiteral("Website: "), FraLinks);
    Label1_5->setObjectName(QStringLiteral("Label1_5"));
    Place(Label1_5, 90, 240, 795, 285);

    LblWebsite = new ClickableLabel(WebsiteAddress(), FraLinks);
    LblWebsite->setObjectName(QStringLiteral("LblWebsite"));
    LookLikeLink(LblWebsite, link);
    Place(LblWebsite, 1050, 240, 2865, 285);

    Label1_6 = new QLabel(QStringLiteral("Support:"), FraLinks);
    Label1_6->setObjectName(QStringLiteral("Label1_6"));
    Place(Label1_6, 90, 570, 795, 285);

    LblWebSupport = new ClickableLabel(SupportAddress(), FraLinks);
    LblWebSupport->setObjectName(QStringLiteral("LblWebSupport"));
    LookLikeLink(LblWebSupport, link);
    Place(LblWebSupport, 1050, 570, 2865, 285);

    CmdOK = new QPushButton(QStringLiteral("&OK"), this);
    CmdOK->setObjectName(QStringLiteral("CmdOK"));
    CmdOK->setFont(normal);
    CmdOK->setDefault(true);
    Place(CmdOK, 4290, 3000, 1092, 405);
    CmdOK->setFocus();

    const auto pixels = [this](int twips) { return qRound(twips * m_scale / TwipsPerPixel); };
    setFixedSize(pixels(5445), pixels(3480));

    connect(CmdOK, &QPushButton::clicked, this, &HelpAbout::CmdOK_Click);
    connect(LblWebsite, &ClickableLabel::clicked, this, &HelpAbout::LblWebsite_Click);
    connect(LblWebSupport, &ClickableLabel::clicked, this, &HelpAbout::LblWebSupport_Click);
    connect(LogoImage, &ClickableLabel::clicked, this, &HelpAbout::LogoImage_Click);
}

void HelpAbout::Place(QWidget *control, int left, int top, int width, int height) const
{
    const auto pixels = [this](int twips) { return qRound(twips * m_scale / TwipsPerPixel); };
    control->setGeometry(pixels(left), pixels(top), pixels(width), pixels(height));
}

int HelpAbout::ShowModal()
{
    Form_Load();
    const int result = exec();
    Form_Unload();
    return result;
}

void HelpAbout::Form_Load()
{
    SubclassFrames(this);
    LblProgramVersion->setText(VersionLabelText());
}

void HelpAbout::Form_Activate()
{
    if (isMinimized())
        return;
    setFixedSize(m_recordedSize);
    repaint();
}

void HelpAbout::Form_Unload()
{
    UnsubclassFrames(this);
}

void HelpAbout::CmdOK_Click()
{
    accept();
}

void HelpAbout::LblWebsite_Click()
{
    OpenAddress(WebsiteAddress());
}

void HelpAbout::LblWebSupport_Click()
{
    OpenAddress(SupportAddress());
}

void HelpAbout::LogoImage_Click()
{
    OpenAddress(WebsiteAddress());
}

void HelpAbout::OpenAddress(const QString &address)
{
    // A link that cannot be opened is not reported.
    if (m_opener)
        m_opener->Open(address);
}

bool HelpAbout::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate)
        Form_Activate();
    return QDialog::event(event);
}

void HelpAbout::showEvent(QShowEvent *event)
{
    // Activation may never come where nothing has the focus (offscreen), so
    // showing restores the size as well.
    Form_Activate();
    QDialog::showEvent(event);
}

#include "window/MessageFormatDialog.h"

#include "common/QtText.h"
#include "engine/MessageFormatStore.h"
#include "engine/StructuredDataRows.h"
#include "shell/Services.h"
#include "transport/TlsSettingsStore.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include <algorithm>

namespace {
constexpr const char *FramingLabels[] = {"None (the bytes as built)", "LF", "CR LF", "NUL", "Octet counting"};
constexpr int SdColumns = 3;
constexpr const char *VerifyOnText = "The server's certificate and name are checked.";
constexpr const char *VerifyOffText = "Verification is off: any server is accepted.";
constexpr const char *UdpChosenText = "\"Syslog UDP\" is chosen in the main window: UDP datagrams are never framed, "
                                      "and TLS runs on a TCP session only.";
constexpr const char *OwnToolTip = "quillonOwnToolTip";

QString Capitalised(const std::string &text)
{
    QString shown = FromBytes(text);
    if (!shown.isEmpty())
        shown[0] = shown[0].toUpper();
    return shown;
}

// A run of characters too long to wrap shows its ends only; the tool tip
// keeps the whole text.
QString WithLongWordsShortened(const QString &text)
{
    constexpr int Longest = 40;
    QStringList words = text.split(u' ');
    for (QString &word : words)
        if (word.size() > Longest)
            word = word.left(Longest / 2) + QChar(0x2026) + word.right(Longest / 2 - 4);
    return words.join(u' ');
}

// A label whose mnemonic moves to the field, both with the field's tip.
QLabel *LabelFor(QWidget *field, const char *text)
{
    auto *label = new QLabel(QString::fromUtf8(text));
    label->setBuddy(field);
    label->setToolTip(field->toolTip());
    return label;
}

QLineEdit *MakeEdit(const char *name, const char *placeholder, const char *toolTip)
{
    auto *edit = new QLineEdit;
    edit->setObjectName(QString::fromUtf8(name));
    edit->setPlaceholderText(QString::fromUtf8(placeholder));
    edit->setToolTip(QString::fromUtf8(toolTip));
    return edit;
}

// The group and what it holds disabled or not; while disabled, each tool tip
// starts with why.
void EnableWithReason(QGroupBox *group, bool enabled, const QString &why)
{
    group->setEnabled(enabled);
    QList<QWidget *> widgets = group->findChildren<QWidget *>();
    widgets.prepend(group);
    for (QWidget *widget : widgets) {
        if (!widget->property(OwnToolTip).isValid())
            widget->setProperty(OwnToolTip, widget->toolTip());
        const QString own = widget->property(OwnToolTip).toString();
        widget->setToolTip(enabled ? own : own.isEmpty() ? why : why + QStringLiteral("\n\n") + own);
    }
}

void Warn(QLabel *label, bool warning)
{
    QPalette palette = label->parentWidget()->palette();
    if (warning)
        palette.setColor(QPalette::WindowText, QColor(0xB0, 0, 0));
    label->setPalette(palette);
}
} // namespace

MessageFormatDialog::MessageFormatDialog(const MessageFormatSettings &format, const TlsSettings &tls,
                                         FileChooser &chooser, QWidget *owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         Qt::CustomizeWindowHint),
      m_format(format), m_tls(tls), m_chooser(chooser)
{
    setObjectName(QStringLiteral("MessageFormatDialog"));
    setWindowTitle(QStringLiteral("Message format and framing"));
    BuildControls();
    ShowSettings();
    Refresh();
}

void MessageFormatDialog::BuildControls()
{
    FormatList = new QComboBox;
    FormatList->setObjectName(QStringLiteral("FormatList"));
    for (MessageFormat format : {MessageFormat::Rfc3164, MessageFormat::Rfc5424})
        FormatList->addItem(FromBytes(MessageFormatLabel(format)));
    FormatList->setToolTip(QStringLiteral(
        "RFC 3164: the classic header the main window builds.\nRFC 5424: <PRI>1 TIMESTAMP HOSTNAME APP-NAME PROCID "
        "MSGID STRUCTURED-DATA MSG, with the fields below."));
    HostName = MakeEdit("HostName", "this machine's name",
                        "The HOSTNAME field. Empty: this machine's name; a simulated source address takes its "
                        "place.\nUp to 255 printable ASCII characters without spaces; \"-\" for none.");
    AppName = MakeEdit("AppName", "",
                       "The APP-NAME field: the program that logs.\nUp to 48 printable ASCII "
                       "characters without spaces; \"-\" for none.");
    ProcId = MakeEdit("ProcId", "this process's id",
                      "The PROCID field. Empty: this process's id.\nUp to 128 printable ASCII characters without "
                      "spaces; \"-\" for none.");
    MsgId = MakeEdit("MsgId", "",
                     "The MSGID field: the type of the message.\nUp to 32 printable ASCII characters "
                     "without spaces; \"-\" for none.");

    SdTable = new QTableWidget(0, SdColumns);
    SdTable->setObjectName(QStringLiteral("SdTable"));
    SdTable->setHorizontalHeaderLabels({QStringLiteral("SD-ID"), QStringLiteral("Name"), QStringLiteral("Value")});
    SdTable->horizontalHeader()->setStretchLastSection(true);
    SdTable->verticalHeader()->setDefaultSectionSize(SdTable->fontMetrics().height() + 8);
    SdTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    SdTable->setSelectionMode(QAbstractItemView::SingleSelection);
    // Tab leaves the table; the arrow keys move between its cells.
    SdTable->setTabKeyNavigation(false);
    SdTable->setToolTip(QStringLiteral(
        "The STRUCTURED-DATA: one parameter per row, its value in plain text.\nRows with the same SD-ID (such as "
        "origin or test@32473) make one element; a row with an SD-ID alone, an element without parameters.\n\", \\ "
        "and ] in values are escaped when sent. Arrow keys move between cells; F2 or typing edits one."));
    // The value takes what the SD-ID and name leave; the table never scrolls sideways.
    const int character = SdTable->fontMetrics().averageCharWidth();
    SdTable->horizontalHeader()->resizeSection(0, 16 * character);
    SdTable->horizontalHeader()->resizeSection(1, 11 * character);
    SdTable->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    SdTable->setMinimumSize(SdTable->verticalHeader()->sizeHint().width() + 46 * character,
                            SdTable->horizontalHeader()->sizeHint().height() +
                                5 * SdTable->verticalHeader()->defaultSectionSize() + 4);
    AddSdRow = new QPushButton(QStringLiteral("Add &row"));
    AddSdRow->setObjectName(QStringLiteral("AddSdRow"));
    AddSdRow->setToolTip(QStringLiteral("Add an empty row to the structured data"));
    RemoveSdRow = new QPushButton(QStringLiteral("Remove ro&w"));
    RemoveSdRow->setObjectName(QStringLiteral("RemoveSdRow"));
    RemoveSdRow->setToolTip(QStringLiteral("Remove the selected row of the structured data"));

    Bom = new QCheckBox(QStringLiteral("Put a UTF-8 &BOM before the message"));
    Bom->setObjectName(QStringLiteral("Bom"));
    Bom->setToolTip(QStringLiteral("Put the byte order mark EF BB BF before MSG, which tells the receiver that the "
                                   "message text is UTF-8."));

    FramingList = new QComboBox;
    FramingList->setObjectName(QStringLiteral("FramingList"));
    for (const char *label : FramingLabels)
        FramingList->addItem(QString::fromUtf8(label));
    FramingList->setToolTip(QStringLiteral(
        "How messages are told apart in a TCP session (RFC 6587); UDP datagrams are never framed.\nNone: the bytes "
        "as built, each ended by CR LF when \"Add a CR & LF\" is checked.\nLF, CR LF, NUL: that ending after each "
        "message.\nOctet counting: the length and a space before each message, as TLS receivers expect."));

    UseTls = new QCheckBox(QStringLiteral("Use &TLS on the TCP session"));
    UseTls->setObjectName(QStringLiteral("UseTls"));
    UseTls->setToolTip(QStringLiteral("Encrypt the TCP session with TLS (RFC 5425): Connect and Send make the TLS "
                                      "handshake, and the session counts as connected only after it."));
    CaFile = MakeEdit("CaFile", "the system's CAs",
                      "PEM file of the certificate authorities that sign the server's certificate.\nEmpty: the "
                      "system's trusted authorities.");
    CertFile = MakeEdit("CertFile", "none",
                        "PEM file of the client certificate, for servers that ask for one (its chain may follow "
                        "it).\nEmpty: no client certificate is offered.");
    KeyFile = MakeEdit("KeyFile", "in the certificate file",
                       "PEM file of the client certificate's private key, without a passphrase.\nEmpty: the key is "
                       "in the certificate file.");
    ServerName = MakeEdit("ServerName", "the target address",
                          "The name the server's certificate must carry, also sent as SNI.\nEmpty: the target "
                          "address of the main window.");
    Verify = new QCheckBox(QStringLiteral("&Verify the server's certificate"));
    Verify->setObjectName(QStringLiteral("Verify"));
    Verify->setToolTip(QStringLiteral(
        "Check the server's certificate against the CA file (or the system's authorities) and its name against the "
        "server name.\nTurn off only to test a server whose certificate cannot be checked."));
    VerifyNote = new QLabel;
    VerifyNote->setObjectName(QStringLiteral("VerifyNote"));
    // Room for the longer of its two texts, so the dialog keeps its size.
    VerifyNote->setMinimumWidth(std::max(VerifyNote->fontMetrics().horizontalAdvance(VerifyOnText),
                                         VerifyNote->fontMetrics().horizontalAdvance(VerifyOffText)) +
                                4);
    VerifyNote->setToolTip(Verify->toolTip());
    MinVersion = new QComboBox;
    MinVersion->setObjectName(QStringLiteral("MinVersion"));
    MinVersion->addItems({QStringLiteral("TLS 1.2"), QStringLiteral("TLS 1.3")});
    MinVersion->setToolTip(QStringLiteral("The oldest TLS version the session accepts."));

    ProblemText = new QLabel;
    ProblemText->setObjectName(QStringLiteral("ProblemText"));
    ProblemText->setWordWrap(true);
    // A long problem wraps instead of widening the dialog.
    ProblemText->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    ProblemText->setMinimumHeight(2 * ProblemText->fontMetrics().lineSpacing());
    ProblemText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    Buttons->setObjectName(QStringLiteral("Buttons"));
    Buttons->button(QDialogButtonBox::Ok)->setToolTip(QStringLiteral("Keep these settings"));
    Buttons->button(QDialogButtonBox::Cancel)->setToolTip(QStringLiteral("Leave the settings as they were"));

    auto *message = new QGroupBox(QStringLiteral("Message"));
    auto *messageForm = new QFormLayout(message);
    messageForm->addRow(LabelFor(FormatList, "F&ormat:"), FormatList);
    messageForm->addRow(LabelFor(HostName, "&HOSTNAME:"), HostName);
    messageForm->addRow(LabelFor(AppName, "&APP-NAME:"), AppName);
    messageForm->addRow(LabelFor(ProcId, "&PROCID:"), ProcId);
    messageForm->addRow(LabelFor(MsgId, "MS&GID:"), MsgId);
    messageForm->addRow(LabelFor(SdTable, "Structured &data:"));
    messageForm->addRow(SdTable);
    auto *rowButtons = new QHBoxLayout;
    rowButtons->addWidget(AddSdRow);
    rowButtons->addWidget(RemoveSdRow);
    rowButtons->addStretch(1);
    messageForm->addRow(rowButtons);
    messageForm->addRow(Bom);

    StreamGroup = new QGroupBox(QStringLiteral("TCP stream"));
    StreamGroup->setObjectName(QStringLiteral("StreamGroup"));
    auto *streamForm = new QFormLayout(StreamGroup);
    streamForm->addRow(LabelFor(FramingList, "&Framing:"), FramingList);

    TlsGroup = new QGroupBox(QStringLiteral("TLS"));
    TlsGroup->setObjectName(QStringLiteral("TlsGroup"));
    auto *tlsForm = new QFormLayout(TlsGroup);
    tlsForm->addRow(UseTls);
    const auto fileRow = [this, tlsForm](QLineEdit *edit, QPushButton *&browse, const char *label, const char *name,
                                         const QString &title) {
        browse = new QPushButton(QStringLiteral("..."));
        browse->setObjectName(QString::fromUtf8(name));
        browse->setToolTip(title);
        QFont bold = browse->font();
        bold.setBold(true);
        browse->setFont(bold);
        browse->setFixedWidth(browse->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 16);
        auto *row = new QHBoxLayout;
        edit->setMinimumWidth(edit->fontMetrics().averageCharWidth() * 32);
        row->addWidget(edit, 1);
        row->addWidget(browse);
        tlsForm->addRow(LabelFor(edit, label), row);
        connect(browse, &QPushButton::clicked, this, [this, edit, title] { ChooseFile(edit, title); });
    };
    fileRow(CaFile, BrowseCaFile, "CA f&ile:", "BrowseCaFile", QStringLiteral("Choose the CA file"));
    fileRow(CertFile, BrowseCertFile, "Client c&ertificate:", "BrowseCertFile",
            QStringLiteral("Choose the client certificate"));
    fileRow(KeyFile, BrowseKeyFile, "Client &key:", "BrowseKeyFile", QStringLiteral("Choose the client key"));
    tlsForm->addRow(LabelFor(ServerName, "&Server name:"), ServerName);
    tlsForm->addRow(Verify);
    tlsForm->addRow(VerifyNote);
    tlsForm->addRow(LabelFor(MinVersion, "&Minimum version:"), MinVersion);

    auto *right = new QVBoxLayout;
    right->addWidget(StreamGroup);
    right->addWidget(TlsGroup);
    right->addStretch(1);
    auto *columns = new QHBoxLayout;
    columns->addWidget(message, 1);
    columns->addLayout(right, 1);
    auto *top = new QVBoxLayout(this);
    top->addLayout(columns);
    top->addWidget(ProblemText);
    top->addWidget(Buttons);
    top->setSizeConstraint(QLayout::SetFixedSize);

    QWidget *const ok = Buttons->button(QDialogButtonBox::Ok);
    QWidget *const cancel = Buttons->button(QDialogButtonBox::Cancel);
    QWidget *const tabOrder[] = {FormatList,     HostName, AppName,       ProcId,     MsgId,  SdTable,      AddSdRow,
                                 RemoveSdRow,    Bom,      FramingList,   UseTls,     CaFile, BrowseCaFile, CertFile,
                                 BrowseCertFile, KeyFile,  BrowseKeyFile, ServerName, Verify, MinVersion,   ok,
                                 cancel};
    for (std::size_t i = 0; i + 1 < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i], tabOrder[i + 1]);

    connect(Buttons, &QDialogButtonBox::accepted, this, &MessageFormatDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &MessageFormatDialog::reject);
    connect(AddSdRow, &QPushButton::clicked, this, [this] {
        SdTable->insertRow(SdTable->rowCount());
        SdTable->setCurrentCell(SdTable->rowCount() - 1, 0);
        SdTable->setFocus();
        Refresh();
    });
    connect(RemoveSdRow, &QPushButton::clicked, this, [this] {
        if (SdTable->currentRow() >= 0)
            SdTable->removeRow(SdTable->currentRow());
        Refresh();
    });
    connect(UseTls, &QCheckBox::toggled, this, &MessageFormatDialog::OnTlsToggled);
    connect(SdTable, &QTableWidget::cellChanged, this, &MessageFormatDialog::Refresh);
    connect(SdTable, &QTableWidget::currentCellChanged, this, &MessageFormatDialog::Refresh);
    for (QComboBox *list : {FormatList, FramingList, MinVersion})
        connect(list, &QComboBox::currentIndexChanged, this, &MessageFormatDialog::Refresh);
    for (QLineEdit *edit : {HostName, AppName, ProcId, MsgId, CaFile, CertFile, KeyFile, ServerName})
        connect(edit, &QLineEdit::textChanged, this, &MessageFormatDialog::Refresh);
    connect(Verify, &QCheckBox::toggled, this, &MessageFormatDialog::Refresh);
}

void MessageFormatDialog::ShowSettings()
{
    FormatList->setCurrentIndex(static_cast<int>(m_format.format));
    HostName->setText(FromBytes(m_format.hostName));
    AppName->setText(FromBytes(m_format.appName));
    ProcId->setText(FromBytes(m_format.procId));
    MsgId->setText(FromBytes(m_format.msgId));
    std::vector<SdRow> rows = SdRowsFromElements(m_format.sdElements);
    // An empty row to type into.
    if (rows.empty())
        rows.emplace_back();
    SdTable->setRowCount(static_cast<int>(rows.size()));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::string *const cells[SdColumns] = {&rows[i].id, &rows[i].name, &rows[i].value};
        for (int column = 0; column < SdColumns; ++column)
            SdTable->setItem(static_cast<int>(i), column, new QTableWidgetItem(FromBytes(*cells[column])));
    }
    Bom->setChecked(m_format.utf8Bom);
    FramingList->setCurrentIndex(static_cast<int>(m_format.framing));

    {
        // Opening the dialog with TLS on changes no framing.
        const QSignalBlocker blocker(UseTls);
        UseTls->setChecked(m_tls.enabled);
    }
    CaFile->setText(FromBytes(m_tls.caFile));
    CertFile->setText(FromBytes(m_tls.certFile));
    KeyFile->setText(FromBytes(m_tls.keyFile));
    ServerName->setText(FromBytes(m_tls.serverName));
    Verify->setChecked(m_tls.verify);
    MinVersion->setCurrentIndex(m_tls.minVersion == TlsVersion::Tls13 ? 1 : 0);
}

void MessageFormatDialog::OnTlsToggled(bool on)
{
    // TLS receivers expect octet counting; a framing the user chose stays.
    if (on && FramingList->currentIndex() == static_cast<int>(Framing::None))
        FramingList->setCurrentIndex(static_cast<int>(Framing::OctetCount));
    Refresh();
}

void MessageFormatDialog::Refresh()
{
    const bool rfc5424 = FormatList->currentIndex() == static_cast<int>(MessageFormat::Rfc5424);
    for (QWidget *field : std::initializer_list<QWidget *>{HostName, AppName, ProcId, MsgId, SdTable, AddSdRow, Bom})
        field->setEnabled(rfc5424);
    RemoveSdRow->setEnabled(rfc5424 && SdTable->currentRow() >= 0);
    const bool tls = UseTls->isChecked();
    for (QWidget *field : std::initializer_list<QWidget *>{CaFile, BrowseCaFile, CertFile, BrowseCertFile, KeyFile,
                                                           BrowseKeyFile, ServerName, Verify, VerifyNote, MinVersion})
        field->setEnabled(tls);
    VerifyNote->setText(Verify->isChecked() ? QString::fromUtf8(VerifyOnText) : QString::fromUtf8(VerifyOffText));
    Warn(VerifyNote, !Verify->isChecked());
    for (QGroupBox *group : {StreamGroup, TlsGroup})
        EnableWithReason(group, !m_udp, QString::fromUtf8(UdpChosenText));

    const QString problem = Problem();
    ProblemText->setText(WithLongWordsShortened(problem));
    ProblemText->setToolTip(problem);
    Warn(ProblemText, true);
    Buttons->button(QDialogButtonBox::Ok)->setEnabled(problem.isEmpty());
}

std::string MessageFormatDialog::ReadFormat(MessageFormatSettings &s) const
{
    s.format = static_cast<MessageFormat>(FormatList->currentIndex());
    s.hostName = ToBytes(HostName->text());
    s.appName = ToBytes(AppName->text());
    s.procId = ToBytes(ProcId->text());
    s.msgId = ToBytes(MsgId->text());
    s.utf8Bom = Bom->isChecked();
    s.framing = static_cast<Framing>(FramingList->currentIndex());
    std::vector<SdRow> rows(static_cast<std::size_t>(SdTable->rowCount()));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::string *const cells[SdColumns] = {&rows[i].id, &rows[i].name, &rows[i].value};
        for (int column = 0; column < SdColumns; ++column)
            if (const QTableWidgetItem *item = SdTable->item(static_cast<int>(i), column))
                *cells[column] = ToBytes(item->text());
    }
    // The fields are named top down: the header's before the table's rows.
    const std::string rowsProblem = SdElementsFromRows(rows, s.sdElements);
    if (std::string problem = CheckMessageFormatSettings(s); !problem.empty())
        return problem;
    return rowsProblem.empty() ? std::string() : "Structured data, " + rowsProblem;
}

std::string MessageFormatDialog::ReadTls(TlsSettings &s) const
{
    s.enabled = UseTls->isChecked();
    s.caFile = ToBytes(CaFile->text().trimmed());
    s.certFile = ToBytes(CertFile->text().trimmed());
    s.keyFile = ToBytes(KeyFile->text().trimmed());
    s.serverName = ToBytes(ServerName->text().trimmed());
    s.verify = Verify->isChecked();
    s.minVersion = MinVersion->currentIndex() == 1 ? TlsVersion::Tls13 : TlsVersion::Tls12;
    return CheckTlsSettings(s);
}

QString MessageFormatDialog::Problem() const
{
    MessageFormatSettings format;
    std::string problem;
    if (FormatList->currentIndex() == static_cast<int>(MessageFormat::Rfc5424))
        problem = ReadFormat(format);
    // TLS out of use over UDP, and out of reach to mend, holds nothing up.
    TlsSettings tls;
    if (problem.empty() && UseTls->isChecked() && !m_udp)
        problem = ReadTls(tls);
    return Capitalised(problem);
}

void MessageFormatDialog::SetUdpChosen(bool udp)
{
    m_udp = udp;
    Refresh();
}

MessageFormatSettings MessageFormatDialog::Format() const
{
    MessageFormatSettings typed;
    if (!ReadFormat(typed).empty()) {
        const MessageFormatSettings kept = typed;
        typed = m_format;
        typed.format = kept.format;
        typed.utf8Bom = kept.utf8Bom;
        typed.framing = kept.framing;
    }
    return typed;
}

TlsSettings MessageFormatDialog::Tls() const
{
    TlsSettings typed;
    if (!ReadTls(typed).empty()) {
        const bool enabled = typed.enabled;
        typed = m_tls;
        typed.enabled = enabled;
    }
    return typed;
}

void MessageFormatDialog::accept()
{
    // Enter reaches here even while OK is disabled.
    if (!Problem().isEmpty())
        return;
    QDialog::accept();
}

void MessageFormatDialog::ChooseFile(QLineEdit *field, const QString &title)
{
    FileChooserRequest request;
    request.title = title;
    const QFileInfo current(field->text().trimmed());
    request.initialDirectory = field->text().trimmed().isEmpty() ? QDir::homePath() : current.absolutePath();
    request.nameFilters = {QStringLiteral("PEM files (*.pem *.crt *.cer *.key)"), QStringLiteral("All files (*)")};
    request.fileMustExist = true;
    if (const std::optional<QString> path = m_chooser.ChooseOpenFile(this, request))
        field->setText(QDir::toNativeSeparators(*path));
    field->setFocus();
}

#pragma once

#include "engine/MessageFormat.h"
#include "transport/TlsSettings.h"

#include <QDialog>

class FileChooser;
class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

// "Message format and framing": the RFC 5424 header and structured data, the
// framing of TCP streams and TLS on the TCP session. OK is refused while a
// field in use breaks its rules; the reason shows in the dialog. While the
// main window sends over UDP, the framing and TLS are kept but out of use.
class MessageFormatDialog : public QDialog {
    Q_OBJECT
public:
    MessageFormatDialog(const MessageFormatSettings &format, const TlsSettings &tls, FileChooser &chooser,
                        QWidget *owner);

    // The settings the fields hold. Fields not in use (the RFC 5424 ones
    // under RFC 3164, the TLS ones with TLS off) that break their rules keep
    // the values the dialog opened with, so the store never holds them.
    MessageFormatSettings Format() const;
    TlsSettings Tls() const;
    // Why OK is refused, in the user's words; empty when it is not.
    QString Problem() const;
    // "Syslog UDP" is chosen in the main window: the framing and TLS groups
    // are disabled, their tool tips saying why.
    void SetUdpChosen(bool udp);

    void accept() override;

    QComboBox *FormatList = nullptr;
    QLineEdit *HostName = nullptr;
    QLineEdit *AppName = nullptr;
    QLineEdit *ProcId = nullptr;
    QLineEdit *MsgId = nullptr;
    QTableWidget *SdTable = nullptr;
    QPushButton *AddSdRow = nullptr;
    QPushButton *RemoveSdRow = nullptr;
    QCheckBox *Bom = nullptr;
    QGroupBox *StreamGroup = nullptr;
    QComboBox *FramingList = nullptr;
    QGroupBox *TlsGroup = nullptr;
    QCheckBox *UseTls = nullptr;
    QLineEdit *CaFile = nullptr;
    QPushButton *BrowseCaFile = nullptr;
    QLineEdit *CertFile = nullptr;
    QPushButton *BrowseCertFile = nullptr;
    QLineEdit *KeyFile = nullptr;
    QPushButton *BrowseKeyFile = nullptr;
    QLineEdit *ServerName = nullptr;
    QCheckBox *Verify = nullptr;
    QLabel *VerifyNote = nullptr;
    QComboBox *MinVersion = nullptr;
    QLabel *ProblemText = nullptr;
    QDialogButtonBox *Buttons = nullptr;

private:
    void BuildControls();
    void ShowSettings();
    // Enabling, the verification note and the problem, after any change.
    void Refresh();
    void ChooseFile(QLineEdit *field, const QString &title);
    void OnTlsToggled(bool on);
    std::string ReadFormat(MessageFormatSettings &settings) const;
    std::string ReadTls(TlsSettings &settings) const;

    MessageFormatSettings m_format;
    TlsSettings m_tls;
    bool m_udp = false;
    FileChooser &m_chooser;
};

#pragma once
#include "internetcontrol.h"

// The SMTP client control (interface ISmtpControl).
class TSMTP : public TInternetControl {
    Q_OBJECT
public:
    explicit TSMTP(QWidget *parent = nullptr);
    ~TSMTP() override;

    void Connect(const OleVariant &remoteHost, const OleVariant &remotePort) override;
    void Quit() override;
    // Checks a comma-separated recipient list; OnVerify only when all pass.
    void Verify(const OleVariant &recipients);
    // One outgoing document: headers from the collection, body from the data
    // text (argument 3) or from the file named by argument 4.
    void SendDoc(const OleVariant &url, const OleVariant &headers, const OleVariant &inputData,
                 const OleVariant &inputFile, const OleVariant &outputFile);
    TDocInput *DocInput() const { return m_docInput; }

signals:
    void OnVerify();
    void OnDocInput(TDocInput *DocInput);

private:
    TDocInput *m_docInput;
};

using ISmtpControl = TSMTP;

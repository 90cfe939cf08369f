#include "ineterrors.h"

QString toString(InetError error)
{
    switch (error) {
    case InetError::ConnectFailed: return QStringLiteral("ConnectFailed");
    case InetError::ConnectionLost: return QStringLiteral("ConnectionLost");
    case InetError::Timeout: return QStringLiteral("Timeout");
    case InetError::ProtocolError: return QStringLiteral("ProtocolError");
    case InetError::TransferAborted: return QStringLiteral("TransferAborted");
    case InetError::GreetingRefused: return QStringLiteral("GreetingRefused");
    case InetError::HelloRefused: return QStringLiteral("HelloRefused");
    case InetError::SenderRefused: return QStringLiteral("SenderRefused");
    case InetError::RecipientRefused: return QStringLiteral("RecipientRefused");
    case InetError::DataRefused: return QStringLiteral("DataRefused");
    case InetError::MessageRefused: return QStringLiteral("MessageRefused");
    case InetError::BadHeader: return QStringLiteral("BadHeader");
    case InetError::BadAddress: return QStringLiteral("BadAddress");
    case InetError::FileError: return QStringLiteral("FileError");
    case InetError::AuthFailed: return QStringLiteral("AuthFailed");
    case InetError::StatFailed: return QStringLiteral("StatFailed");
    case InetError::RetrieveFailed: return QStringLiteral("RetrieveFailed");
    case InetError::QuitFailed: return QStringLiteral("QuitFailed");
    case InetError::SignInRequired: return QStringLiteral("SignInRequired");
    case InetError::SignInNotEncrypted: return QStringLiteral("SignInNotEncrypted");
    case InetError::TlsFailed: return QStringLiteral("TlsFailed");
    case InetError::CertificateRejected: return QStringLiteral("CertificateRejected");
    case InetError::EncryptionMissing: return QStringLiteral("EncryptionMissing");
    }
    return QStringLiteral("InetError(%1)").arg(short(error));
}

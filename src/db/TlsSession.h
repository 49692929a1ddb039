#pragma once

#include <QString>

// What an open connection's encryption is, as the server reports it for
// the session: empty when the session is not encrypted.
struct TlsSession
{
    QString version; // "TLSv1.3"
    QString cipher;  // "TLS_AES_256_GCM_SHA384"

    bool encrypted() const { return !cipher.isEmpty(); }
};

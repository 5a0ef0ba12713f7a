// Handing links and mail to the desktop: the user's browser or mail program opens them. The
// windows go through the current shell service, which tests replace to see what would have been
// opened without starting anything.
#pragma once

#include "kxstring.h"

enum class TvMailResult {
    Started,      // the user's mail program has the message for review
    NotAvailable, // no mail service is installed
    Failed,       // it could not be handed over, or the user gave it up
};

class TvShellService {
public:
    virtual ~TvShellService() = default;
    // Opens a web page or a mailto link; false when the desktop could not open it.
    virtual bool OpenLink(const char* sUrl);
    // Opens a message to one recipient in the user's mail program for review before sending.
    virtual TvMailResult ComposeMail(const char* sAddress, const char* sSubject, const char* sBody);
};

// The service in force; SetShellService(nullptr) puts the desktop's back.
TvShellService& TvShell();
void SetShellService(TvShellService* pService);

// Through the current service.
bool TvOpenLink(const char* sUrl);
TvMailResult TvComposeMail(const char* sAddress, const char* sSubject, const char* sBody);
// "mailto:" followed by the address.
KxString TvMailtoLink(const char* sAddress);

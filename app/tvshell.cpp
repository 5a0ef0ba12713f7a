#include "tvshell.h"

#include <string>

#include "kxplatform_process.h"

namespace {

TvShellService g_desktopShell;
TvShellService* g_shell = &g_desktopShell;

std::string Text(const char* s) { return s != nullptr ? std::string(s) : std::string(); }

} // namespace

bool TvShellService::OpenLink(const char* sUrl) {
    if (sUrl == nullptr || *sUrl == '\0') return false;
    return kxplatform::OpenUrl(sUrl);
}

TvMailResult TvShellService::ComposeMail(const char* sAddress, const char* sSubject,
                                         const char* sBody) {
    if (sAddress == nullptr || *sAddress == '\0') return TvMailResult::Failed;
    switch (kxplatform::ComposeMail(Text(sAddress), Text(sSubject), Text(sBody))) {
    case kxplatform::MailResult::Started: return TvMailResult::Started;
    case kxplatform::MailResult::NotAvailable: return TvMailResult::NotAvailable;
    case kxplatform::MailResult::Failed: break;
    }
    return TvMailResult::Failed;
}

TvShellService& TvShell() { return *g_shell; }

void SetShellService(TvShellService* pService) {
    g_shell = pService != nullptr ? pService : &g_desktopShell;
}

bool TvOpenLink(const char* sUrl) { return TvShell().OpenLink(sUrl); }

TvMailResult TvComposeMail(const char* sAddress, const char* sSubject, const char* sBody) {
    return TvShell().ComposeMail(sAddress, sSubject, sBody);
}

KxString TvMailtoLink(const char* sAddress) {
    KxString link("mailto:");
    link += sAddress;
    return link;
}

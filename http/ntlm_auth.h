// The NTLM answer to a 401: the request driver's side of the exchange with the NTLM package
// (net/quillon_sspi.h). Our tokens go out base64 after "Authorization: NTLM ", the server's come
// back in WWW-Authenticate. Every leg runs on the client's pooled connection, because servers
// bind an NTLM login to the TCP connection it happened on.
#pragma once

#include "http/request_builder.h"

namespace quillon {

class DataBuffer;
class HttpClient;
class HttpControl;
class HttpResult;
class LogBase;
class ProgressMonitor;

// Logs in to url with credentials.login ("DOMAIN\user" or "DOMAIN/user") and
// credentials.password. True when the server answered the last leg with 200; out then holds
// its body and result its head. False with the reason logged (result keeps the
// last answer, a 401 for refused credentials). ntlmAuthorization is empty afterwards.
bool NtlmAuthenticate(HttpClient& client, const char* url, const BasicCredentials& credentials,
                      HttpControl& settings, DataBuffer& out, HttpResult& result, LogBase& log,
                      ProgressMonitor* progress);

}  // namespace quillon

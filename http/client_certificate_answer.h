// The page nginx answers with when it asked for a client certificate and got none, or got one
// it does not accept: its own codes 496 and 495 go out as "400 Bad Request" with the reason in
// the body only. Servers that refuse in a TLS alert are named by the channel instead.
#pragma once

#include <string_view>

namespace quillon {

class HttpControl;
class HttpResult;

// A 400 answer whose body says "No required SSL certificate was sent" or "The SSL
// certificate error" names the refusal as the fetch's failure (kClientCertificateRefused:
// none sent, or expired when every certificate settings offer is out of its validity period,
// else refused) and returns true. Any other answer, or a failure named already, is left alone.
bool NoteClientCertificateAnswer(const HttpControl& settings, std::string_view body,
                                 HttpResult& result);

}  // namespace quillon

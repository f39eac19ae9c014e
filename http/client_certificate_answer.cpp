#include "http/client_certificate_answer.h"

#include "http/http_control.h"
#include "http/http_result.h"

namespace quillon {
namespace {

// nginx's texts for its codes 496 and 495.
constexpr std::string_view kNoCertificatePage = "No required SSL certificate was sent";
constexpr std::string_view kCertificateErrorPage = "The SSL certificate error";

bool EveryCertificateOutsideValidity(const ClientCredentialSet& credentials) {
  if (credentials.isEmpty()) return false;
  for (int i = 0; i < credentials.count(); ++i) {
    if (!credentials.at(i).outsideValidity()) return false;
  }
  return true;
}

}  // namespace

bool NoteClientCertificateAnswer(const HttpControl& settings, std::string_view body,
                                 HttpResult& result) {
  if (result.error.failed() || result.header.statusCode != 400) return false;
  ClientCertificateProblem problem;
  if (body.find(kNoCertificatePage) != std::string_view::npos) {
    problem = ClientCertificateProblem::kNotSent;
  } else if (body.find(kCertificateErrorPage) != std::string_view::npos) {
    // nginx does not say what it disliked; a certificate past its dates is the usual cause.
    problem = EveryCertificateOutsideValidity(settings.clientCredential)
                  ? ClientCertificateProblem::kExpired
                  : ClientCertificateProblem::kRefused;
  } else {
    return false;
  }
  result.error.set(FetchErrorKind::kClientCertificateRefused);
  result.error.clientCertificate = problem;
  result.error.status = 400;
  return true;
}

}  // namespace quillon

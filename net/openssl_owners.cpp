#include "net/openssl_owners.h"

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

namespace quillon {

void OpenSslFree::operator()(BIO* bio) const { BIO_free(bio); }
void OpenSslFree::operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
void OpenSslFree::operator()(PKCS12* p12) const { PKCS12_free(p12); }
void OpenSslFree::operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
void OpenSslFree::operator()(SSL* ssl) const { SSL_free(ssl); }
void OpenSslFree::operator()(EXTENDED_KEY_USAGE* usages) const { EXTENDED_KEY_USAGE_free(usages); }
void OpenSslFree::operator()(GENERAL_NAMES* names) const { GENERAL_NAMES_free(names); }
void OpenSslFree::operator()(STACK_OF(SSL_CIPHER)* ciphers) const {
  sk_SSL_CIPHER_free(ciphers);
}
void OpenSslFree::operator()(STACK_OF(X509)* chain) const { sk_X509_pop_free(chain, X509_free); }
void OpenSslFree::operator()(X509* cert) const { X509_free(cert); }
void OpenSslFree::operator()(X509_STORE_CTX* ctx) const { X509_STORE_CTX_free(ctx); }
void OpenSslFree::operator()(X509_STORE* store) const { X509_STORE_free(store); }
void OpenSslFree::operator()(unsigned char* bytes) const { OPENSSL_free(bytes); }

}  // namespace quillon

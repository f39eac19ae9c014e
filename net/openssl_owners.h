// Owners for the OpenSSL objects of the TLS channel, the certificates and the client
// credentials: std::unique_ptr with one deleter that frees each kind by the library's own call.
// Only the structure names are declared here, so headers can hold owners without OpenSSL's.
#pragma once

#include <memory>

struct bio_st;
struct evp_pkey_st;
struct PKCS12_st;
struct ssl_ctx_st;
struct ssl_st;
struct stack_st_ASN1_OBJECT;
struct stack_st_GENERAL_NAME;
struct stack_st_SSL_CIPHER;
struct stack_st_X509;
struct x509_st;
struct x509_store_ctx_st;
struct x509_store_st;

namespace quillon {

struct OpenSslFree {
  void operator()(bio_st* bio) const;
  void operator()(evp_pkey_st* key) const;
  void operator()(PKCS12_st* p12) const;
  void operator()(ssl_ctx_st* ctx) const;
  void operator()(ssl_st* ssl) const;
  // An EXTENDED_KEY_USAGE, with its objects.
  void operator()(stack_st_ASN1_OBJECT* usages) const;
  // GENERAL_NAMES, with the names.
  void operator()(stack_st_GENERAL_NAME* names) const;
  // The list alone: the ciphers belong to the library.
  void operator()(stack_st_SSL_CIPHER* ciphers) const;
  // The list and a reference to each certificate in it.
  void operator()(stack_st_X509* chain) const;
  void operator()(x509_st* cert) const;
  void operator()(x509_store_ctx_st* ctx) const;
  void operator()(x509_store_st* store) const;
  // Bytes the library allocated for the caller (OPENSSL_free).
  void operator()(unsigned char* bytes) const;
};

using BioPtr = std::unique_ptr<bio_st, OpenSslFree>;
using EvpPkeyPtr = std::unique_ptr<evp_pkey_st, OpenSslFree>;
using Pkcs12Ptr = std::unique_ptr<PKCS12_st, OpenSslFree>;
using SslCtxPtr = std::unique_ptr<ssl_ctx_st, OpenSslFree>;
using SslPtr = std::unique_ptr<ssl_st, OpenSslFree>;
using ExtendedKeyUsagePtr = std::unique_ptr<stack_st_ASN1_OBJECT, OpenSslFree>;
using GeneralNamesPtr = std::unique_ptr<stack_st_GENERAL_NAME, OpenSslFree>;
using CipherListPtr = std::unique_ptr<stack_st_SSL_CIPHER, OpenSslFree>;
using X509ChainPtr = std::unique_ptr<stack_st_X509, OpenSslFree>;
using X509Ptr = std::unique_ptr<x509_st, OpenSslFree>;
using X509StoreCtxPtr = std::unique_ptr<x509_store_ctx_st, OpenSslFree>;
using X509StorePtr = std::unique_ptr<x509_store_st, OpenSslFree>;
using OpenSslBytes = std::unique_ptr<unsigned char, OpenSslFree>;

}  // namespace quillon

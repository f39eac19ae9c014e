// The TLS channel against a loopback TLS server that decides which encrypted bytes go out in
// which send: records joined and split, close-notify, session tickets, renegotiation, stalls,
// garbage instead of a ServerHello; and the protocol names and status names.
#include "net/schannel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/logger.h"
#include "net/certificate.h"
#include "net/client_credential.h"
#include "tests/net/loopback_peer.h"
#include "tests/support/test_support.h"
#include "tests/support/tls_loopback_server.h"
#include "tests/support/tls_test_pki.h"

namespace quillon::testing {
namespace {

struct TestCerts {
  std::string caFile;
  IssuedCert server;      // the test CA's, for 127.0.0.1
  IssuedCert selfSigned;  // the same names, signed by itself
  IssuedCert otherHost;   // the test CA's, for another name
  IssuedCert client;      // a client certificate from the test CA
};

const TestCerts& Certs() {
  static TestCerts* certs = [] {
    TestPki pki(FreshDir("schannel-pki"));
    auto* made = new TestCerts;
    made->caFile = pki.caFile();
    CertOptions options;
    options.subject = {{"CN", "127.0.0.1"}};
    options.ips = {"127.0.0.1"};
    made->server = pki.Issue("server", options);
    options.selfSigned = true;
    made->selfSigned = pki.Issue("self", options);
    CertOptions other;
    other.subject = {{"CN", "other.example"}};
    other.dnsNames = {"other.example"};
    made->otherHost = pki.Issue("other", other);
    CertOptions client;
    client.subject = {{"CN", "crawler"}};
    client.serverAuth = false;
    made->client = pki.Issue("client", client);
    return made;
  }();
  return *certs;
}

const IssuedCert& ServerCert() { return Certs().server; }

// A channel connected to the server, with a short idle time-out.
struct Client {
  explicit Client(int port, uint32_t idleMs = 2000) {
    channel.SetHost("127.0.0.1");
    channel.SetPort(port);
    channel.Socket().SetConnectTimeoutMs(2000);
    channel.Socket().SetIdleTimeoutMs(idleMs);
  }
  bool establish(const ClientCredentialSet* credentials = nullptr) {
    bool dnsFailed = false;
    return channel.EstablishChannel(log, dnsFailed, 0, nullptr, credentials);
  }
  bool receive(std::string& text) {
    DataBuffer out;
    SocketFlags flags;
    bool ok = channel.ReceiveBytes(out, 0, log, nullptr, flags);
    timedOut = flags.timedOut;
    endOfSession = flags.endOfSession;
    closed = flags.closedByPeer;
    text.assign(out.view());
    return ok;
  }
  SChannel channel;
  Logger log;
  bool timedOut = false;
  bool endOfSession = false;
  bool closed = false;
};

TEST(SChannelRecordTest, TwoRecordsInOneReadArriveInOneReceive) {
  TlsLoopbackServer server(ServerCert().certFile, ServerCert().keyFile, [](TlsServerSession& s) {
    s.Encrypt("first record, ");
    s.Encrypt("second record");
    s.SendPending();
    s.WaitForClientClose();
  });
  Client client(server.port());
  ASSERT_TRUE(client.establish()) << LogText(client.log);
  std::string text;
  ASSERT_TRUE(client.receive(text)) << LogText(client.log);
  EXPECT_EQ(text, "first record, second record");
}

TEST(SChannelRecordTest, RecordSplitOverTwoReadsIsDecryptedAfterTheSecond) {
  const std::string message(3000, 'z');
  TlsLoopbackServer server(ServerCert().certFile, ServerCert().keyFile,
                           [&message](TlsServerSession& s) {
                             s.Encrypt(message);
                             std::string record = s.TakePending();
                             s.SendRaw(record.substr(0, 100));
                             TlsServerSession::Pause(100);
                             s.SendRaw(record.substr(100));
                             s.WaitForClientClose();
                           });
  Client client(server.port());
  ASSERT_TRUE(client.establish());
  std::string text;
  ASSERT_TRUE(client.receive(text)) << LogText(client.log);
  EXPECT_EQ(text, message);
}

TEST(SChannelRecordTest, CloseNotifyEndsTheSessionWithNoDataAndClosesTheSocket) {
  TlsLoopbackServer server(ServerCert().certFile, ServerCert().keyFile, [](TlsServerSession& s) {
    s.EncryptCloseNotify();
    s.SendPending();
    s.WaitForClientClose();
  });
  Client client(server.port());
  ASSERT_TRUE(client.establish());
  std::string text;
  ASSERT_TRUE(client.receive(text)) << LogText(client.log);
  EXPECT_TRUE(text.empty());
  EXPECT_TRUE(client.endOfSession);
  EXPECT_FALSE(client.channel.Socket().IsConnected());
  EXPECT_FALSE(client.channel.IsConnected());
  EXPECT_NE(LogText(client.log).find("End of session has been signalled."), std::string::npos);
}

TEST(SChannelRecordTest, DataBeforeCloseNotifyComesFirstThenTheEnd) {
  TlsLoopbackServer server(ServerCert().certFile, ServerCert().keyFile, [](TlsServerSession& s) {
    s.Encrypt("last words");
    s.EncryptCloseNotify();
    s.SendPending();
    s.WaitForClientClose();
  });
  Client client(server.port());
  ASSERT_TRUE(client.establish());
  std::string text;
  ASSERT_TRUE(client.receive(text));
  EXPECT_EQ(text, "last words");
  EXPECT_FALSE(client.endOfSession);
  ASSERT_TRUE(client.receive(text));
  EXPECT_TRUE(text.empty());
  EXPECT_TRUE(client.endOfSession);
}

TEST(SChannelRecordTest, SessionTicketIsReadPastNotTakenAsAnEmptyAnswer) {
  TlsLoopbackServer server(ServerCert().certFile, ServerCert().keyFile, [](TlsServerSession& s) {
    // A further ticket alone in its own send, the data a moment later.
    SSL_new_session_ticket(s.ssl());
    SSL_do_handshake(s.ssl());
    s.SendPending();
    TlsServerSession::Pause(100);
    s.Send("after the ticket");
    s.WaitForClientClose();
  });
  Client client(server.port());
  ASSERT_TRUE(client.establish());
  EXPECT_EQ(std::string(client.channel.ProtocolName().view()), "TLSv1.3");
  std::string text;
  ASSERT_TRUE(client.receive(text)) << LogText(client.log);
  EXPECT_EQ(text, "after the ticket");
}

TEST(SChannelRecordTest, ServerRequestedRenegotiationIsAnsweredAndDataFollows) {
  TlsLoopbackServer server(
      ServerCert().certFile, ServerCert().keyFile,
      [](TlsServerSession& s) {
        SSL_renegotiate(s.ssl());
        if (!s.Handshake()) return;
        s.Send("renegotiated");
        s.WaitForClientClose();
      },
      true, TLS1_2_VERSION);
  Client client(server.port());
  ASSERT_TRUE(client.establish());
  std::string text;
  ASSERT_TRUE(client.receive(text)) << LogText(client.log);
  EXPECT_EQ(text, "renegotiated");
  EXPECT_NE(LogText(client.log).find("Server requested renegotiate."), std::string::npos);
}

TEST(SChannelRecordTest, FortyThousandBytesGoOutAsThreeMessages) {
  std::vector<size_t> sizes;
  std::string received;
  TlsLoopbackServer server(ServerCert().certFile, ServerCert().keyFile,
                           [&](TlsServerSession& s) {
                             while (received.size() < 40000) {
                               std::string record = s.ReadRecord();
                               if (record.empty()) return;
                               sizes.push_back(record.size());
                               received += record;
                             }
                           });
  Client client(server.port());
  ASSERT_TRUE(client.establish());
  std::string sent;
  for (int i = 0; i < 40000; ++i) sent += static_cast<char>('a' + i % 26);
  ASSERT_TRUE(client.channel.SendBytes(reinterpret_cast<const uint8_t*>(sent.data()), 40000, 0,
                                       client.log, nullptr));
  server.Join();
  EXPECT_EQ(sizes, (std::vector<size_t>{16000, 16000, 8000}));
  EXPECT_TRUE(received == sent);
}

TEST(SChannelRecordTest, ZeroLengthSendSucceedsWithoutSending) {
  SChannel channel;
  Logger log;
  EXPECT_TRUE(channel.SendBytes(nullptr, 0, 0, log, nullptr));
}

TEST(SChannelRecordTest, ServerStallingMidRecordTimesOut) {
  TlsLoopbackServer server(ServerCert().certFile, ServerCert().keyFile, [](TlsServerSession& s) {
    s.Encrypt(std::string(2000, 'q'));
    std::string record = s.TakePending();
    s.SendRaw(record.substr(0, record.size() / 2));
    s.WaitForClientClose();
  });
  Client client(server.port(), 300);
  ASSERT_TRUE(client.establish());
  std::string text;
  EXPECT_FALSE(client.receive(text));
  EXPECT_TRUE(client.timedOut);
  EXPECT_TRUE(text.empty());
  EXPECT_NE(LogText(client.log).find("Failed to read SChannel response (3)"), std::string::npos);
}

TEST(SChannelRecordTest, ConnectionClosedWithoutCloseNotifyFailsTheReceive) {
  TlsLoopbackServer server(ServerCert().certFile, ServerCert().keyFile,
                           [](TlsServerSession&) {});
  Client client(server.port());
  ASSERT_TRUE(client.establish());
  server.Join();
  std::string text;
  EXPECT_FALSE(client.receive(text));
  EXPECT_TRUE(client.closed);
  EXPECT_FALSE(client.endOfSession);
}

TEST(SChannelHandshakeTest, GarbageInsteadOfServerHelloFailsWithCode103) {
  TlsLoopbackServer server(
      ServerCert().certFile, ServerCert().keyFile,
      [](TlsServerSession& s) {
        char block[4096];
        if (::recv(s.fd(), block, sizeof block, 0) <= 0) return;
        s.SendRaw("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
        s.WaitForClientClose();
      },
      false);
  Client client(server.port());
  EXPECT_FALSE(client.establish());
  EXPECT_EQ(client.channel.FailureCode(), ChannelFailure::Handshake);
  std::string log = LogText(client.log);
  EXPECT_NE(log.find("Aborting SSL client handshake because of fatal error"), std::string::npos)
      << log;
  EXPECT_NE(log.find("Error performing handshake"), std::string::npos);
  EXPECT_FALSE(client.channel.Socket().IsConnected());
}

TEST(SChannelHandshakeTest, ServerClosingDuringTheHandshakeFailsWithCode103) {
  TlsLoopbackServer server(
      ServerCert().certFile, ServerCert().keyFile,
      [](TlsServerSession& s) {
        char block[4096];
        ::recv(s.fd(), block, sizeof block, 0);
      },
      false);
  Client client(server.port());
  EXPECT_FALSE(client.establish());
  EXPECT_EQ(client.channel.FailureCode(), ChannelFailure::Handshake);
  EXPECT_NE(LogText(client.log).find("Error reading data from server in handshake loop"),
            std::string::npos);
}

TEST(SChannelHandshakeTest, RefusedConnectGivesTheSocketReason) {
  Listener listener;
  int port = listener.port();
  listener.Close();
  Client client(port);
  EXPECT_FALSE(client.establish());
  EXPECT_EQ(client.channel.FailureCode(), ChannelFailure::Connect);
  EXPECT_EQ(client.channel.ConnectFailReason(), ConnectFailure::Connect);
}

TEST(SChannelHandshakeTest, ServerNameIndicationCarriesTheHostName) {
  std::string serverName;
  TlsLoopbackServer server(ServerCert().certFile, ServerCert().keyFile,
                           [&](TlsServerSession& s) {
                             const char* name =
                                 SSL_get_servername(s.ssl(), TLSEXT_NAMETYPE_host_name);
                             serverName = name != nullptr ? name : "";
                           });
  Client client(server.port());
  client.channel.SetHost("localhost");
  ASSERT_TRUE(client.establish()) << LogText(client.log);
  server.Join();
  EXPECT_EQ(serverName, "localhost");
}

// ---- Client certificates

// Trusts the test CA for one test.
struct TrustTestCa {
  TrustTestCa() { SetTrustFile(Certs().caFile.c_str()); }
  ~TrustTestCa() { SetTrustFile(nullptr); }
};

// The server asks for a client certificate and takes any.
void AskForAnyClientCertificate(SSL_CTX* ctx) {
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, [](int, X509_STORE_CTX*) { return 1; });
}

TEST(SChannelClientCertTest, RequiredVerificationKeepsTheCertificateFromImpostors) {
  TrustTestCa trust;
  Logger loadLog;
  ClientCredentialSet credentials;
  ASSERT_TRUE(credentials.Add(ClientCredential::Load(Certs().client.certFile.c_str(),
                                                     Certs().client.keyFile.c_str(), nullptr,
                                                     loadLog)))
      << LogText(loadLog);
  struct Case {
    const char* name;
    const IssuedCert& cert;
    bool requireVerified;
    const ClientCredentialSet* offered;
    bool sent;
  } cases[] = {
      {"verified server", Certs().server, true, &credentials, true},
      {"self-signed impostor", Certs().selfSigned, true, &credentials, false},
      {"certificate for another host", Certs().otherHost, true, &credentials, false},
      {"self-signed, verification not required", Certs().selfSigned, false, &credentials, true},
      {"verified server, none offered", Certs().server, true, nullptr, false},
  };
  for (int version : {TLS1_2_VERSION, TLS1_3_VERSION}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (version == TLS1_2_VERSION ? ", TLS 1.2" : ", TLS 1.3"));
      bool received = false;
      TlsLoopbackServer server(
          c.cert.certFile, c.cert.keyFile,
          [&](TlsServerSession& s) { received = SSL_get0_peer_certificate(s.ssl()) != nullptr; },
          true, version, AskForAnyClientCertificate);
      Client client(server.port());
      client.channel.SetRequireVerified(c.requireVerified);
      const bool impostor = c.requireVerified && &c.cert != &Certs().server;
      EXPECT_EQ(client.establish(c.offered), !impostor) << LogText(client.log);
      server.Join();
      ASSERT_TRUE(server.handshakeDone());
      EXPECT_EQ(received, c.sent);
      std::string log = LogText(client.log);
      EXPECT_EQ(log.find("Not sending the client certificate: the server's certificate is not "
                         "verified.") != std::string::npos,
                impostor)
          << log;
      if (impostor) {
        EXPECT_EQ(client.channel.FailureCode(), ChannelFailure::NotVerified);
        EXPECT_NE(log.find("Failed to verify server certificate"), std::string::npos);
      }
    }
  }
}

TEST(SChannelShutdownTest, ShutdownSendsCloseNotify) {
  bool sawCloseNotify = false;
  TlsLoopbackServer server(ServerCert().certFile, ServerCert().keyFile,
                           [&](TlsServerSession& s) {
                             s.ReadRecord();
                             sawCloseNotify = (SSL_get_shutdown(s.ssl()) &
                                               SSL_RECEIVED_SHUTDOWN) != 0;
                           });
  Client client(server.port());
  ASSERT_TRUE(client.establish());
  EXPECT_TRUE(client.channel.ShutdownChannel(true, client.log));
  server.Join();
  EXPECT_TRUE(sawCloseNotify);
  std::string log = LogText(client.log);
  EXPECT_NE(log.find("Secure Channel Shutdown Complete."), std::string::npos);
}

TEST(SChannelShutdownTest, ShutdownWithoutASessionIsRefusedAndClosesTheSocket) {
  SChannel channel;
  Logger log;
  EXPECT_FALSE(channel.ShutdownChannel(true, log));
  std::string text = LogText(log);
  EXPECT_NE(text.find("Cannot shutdown channel, no context exists"), std::string::npos);
  EXPECT_NE(text.find("Forcibly closing socket."), std::string::npos);
}

TEST(SChannelShutdownTest, ReceiveWithoutASessionIsRefused) {
  SChannel channel;
  Logger log;
  DataBuffer out;
  SocketFlags flags;
  EXPECT_FALSE(channel.ReceiveBytes(out, 0, log, nullptr, flags));
  std::string text = LogText(log);
  EXPECT_TRUE(text.find("(RecvSecure) Cannot send data, not connected.") != std::string::npos ||
              text.find("(RecvSecure) Cannot send data, security library not loaded") !=
                  std::string::npos)
      << text;
}

// ---- Names

TEST(SChannelProtocolTest, ProtocolTextsMapToTheirMasks) {
  struct Case {
    const char* text;
    uint32_t mask;
  } cases[] = {
      {"tls 1.0", kProtocolTls10},   {"  TLS  1.0 ", kProtocolTls10},
      {"Tls\t1.0", kProtocolTls10},  {"ssl 3.0", kProtocolSsl3},
      {"SSL 2.0", kProtocolSsl2},    {"pct 1.0", kProtocolPct1},
      {"tls 1.2", kProtocolTls12},   {"tls 1.3", kProtocolTls13},
      {"tls 1.1", kProtocolTls11},   {"default", 0},
      {"", 0},                       {"tls1.0", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ProtocolMaskOf(c.text), c.mask) << "'" << c.text << "'";
  EXPECT_EQ(ProtocolMaskOf(nullptr), 0u);
}

TEST(SChannelProtocolTest, PinnedTls12IsNegotiated) {
  TlsLoopbackServer server(ServerCert().certFile, ServerCert().keyFile,
                           [](TlsServerSession& s) { s.WaitForClientClose(); });
  Client client(server.port());
  client.channel.SetProtocol("tls 1.2");
  ASSERT_TRUE(client.establish()) << LogText(client.log);
  EXPECT_EQ(std::string(client.channel.ProtocolName().view()), "TLSv1.2");
}

TEST(SChannelProtocolTest, VersionsThisBuildCannotOfferFailWithCode101) {
  for (const char* protocol : {"ssl 3.0", "ssl 2.0", "pct 1.0"}) {
    Client client(1);
    client.channel.SetProtocol(protocol);
    EXPECT_FALSE(client.establish()) << protocol;
    EXPECT_EQ(client.channel.FailureCode(), ChannelFailure::Credentials) << protocol;
    std::string log = LogText(client.log);
    EXPECT_NE(log.find("Error returned by AcquireCredentialsHandle"), std::string::npos);
    EXPECT_NE(log.find("Error creating credentials"), std::string::npos);
  }
}

TEST(SChannelStatusTest, StatusesAreLoggedByNameOrAsHexadecimal) {
  Logger log;
  LogSecurityStatus(log, kSecEIncompleteMessage);
  LogSecurityStatus(log, kSecIContextExpired);
  LogSecurityStatus(log, 0x80090399);
  std::string text = LogText(log);
  EXPECT_NE(text.find("SEC_E_INCOMPLETE_MESSAGE"), std::string::npos);
  EXPECT_NE(text.find("SEC_I_CONTEXT_EXPIRED"), std::string::npos);
  EXPECT_NE(text.find("scRet: 0x80090399"), std::string::npos);
}

}  // namespace
}  // namespace quillon::testing

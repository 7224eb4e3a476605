// Plain Winsock with Schannel on top rather than WinHTTP: WinHTTP keeps its
// connections to itself (none can be opened ahead of a request), and under
// Wine a blocked receive of its own can be neither bounded nor cut short.
#include "service/http/http_connection_win.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>
#define SECURITY_WIN32
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#include <security.h>
#include <schannel.h>
#include <wincrypt.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// A kept connection whose server is gone sends nothing: a server that stopped
// before accepting it (apache defers the accept until the request's first
// bytes), or a phone switched off, leaves it looking open until a request
// is written into it. A keep-alive probe after a second of quiet, then one a
// second, draws the reset that such a server's host answers with, so the
// close is seen before the next click rather than after its request.
static const unsigned long kProbeAfterQuietMs = 1000;
static const unsigned long kProbeSpacingMs = 1000;

// Room for a whole TLS record and then some: a record's payload is at most
// 16 KB, but a handshake may arrive as several records in one read.
static const size_t kTlsBufferSize = 65536;

struct HttpConnection {
  SOCKET socket;
  WSAEVENT activity;
  bool secure;
  bool haveCredentials;
  bool haveContext;
  CredHandle credentials;
  CtxtHandle context;
  SecPkgContext_StreamSizes sizes;
  wchar_t* host;
  char* incoming;  // received, not yet decrypted
  size_t incomingLength;
  char* plain;  // decrypted, not yet handed out
  size_t plainStart;
  size_t plainLength;
  char* outgoing;  // one record being encrypted
};

static const unsigned long kFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                    ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR;

static bool Fail(ConnectionFailure* failure, unsigned long error, const char* reason) {
  failure->error = error;
  failure->reason = reason;
  return false;
}

static const char kTimedOut[] = "the server did not answer within --http-timeout";
static const char kBroken[] = "the connection broke off";
static const char kUnreachable[] = "the server cannot be reached (nothing listens there)";

// Waits until the socket can be written (or read); false on time-out.
static bool AwaitSocket(SOCKET socket, bool write, unsigned long long deadline) {
  for (;;) {
    unsigned long long now = GetTickCount64();
    if (now >= deadline) return false;
    unsigned long long left = deadline - now;
    fd_set ready, broken;
    FD_ZERO(&ready);
    FD_ZERO(&broken);
    FD_SET(socket, &ready);
    FD_SET(socket, &broken);
    timeval timeout = {long(left / 1000), long(left % 1000 * 1000)};
    int count = select(0, write ? nullptr : &ready, write ? &ready : nullptr, &broken, &timeout);
    if (count != 0) return true;  // an error shows in the call that follows
  }
}

static bool RawSend(HttpConnection* connection, const char* data, size_t length, unsigned long long deadline,
                    ConnectionFailure* failure) {
  while (length) {
    int chunk = length > 65536 ? 65536 : int(length);
    int sent = send(connection->socket, data, chunk, 0);
    if (sent > 0) {
      data += sent;
      length -= size_t(sent);
      continue;
    }
    int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return Fail(failure, unsigned(error), kBroken);
    if (!AwaitSocket(connection->socket, true, deadline)) return Fail(failure, WSAETIMEDOUT, kTimedOut);
  }
  return true;
}

static ReceiveResult RawReceive(HttpConnection* connection, char* buffer, size_t size, size_t* got,
                                unsigned long long deadline, ConnectionFailure* failure) {
  for (;;) {
    int received = recv(connection->socket, buffer, size > 65536 ? 65536 : int(size), 0);
    if (received > 0) {
      *got = size_t(received);
      return kReceived;
    }
    if (received == 0) return kReceiveClosed;
    int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) {
      Fail(failure, unsigned(error), kBroken);
      return error == WSAECONNRESET ? kReceiveClosed : kReceiveFailed;
    }
    if (!AwaitSocket(connection->socket, false, deadline)) {
      Fail(failure, WSAETIMEDOUT, kTimedOut);
      return kReceiveTimedOut;
    }
  }
}

// Windows gives no deadline to a name lookup (GetAddrInfoExW takes a time-out
// only from Windows 8 on, in an asynchronous call, which Wine 8 does not
// promise) nor to the URL retrievals of a certificate chain (its
// dwUrlRetrievalTimeout holds for each retrieval), so each runs on a thread of its own,
// which the caller waits for until the deadline and then leaves behind. Of
// the two, whoever lets go last frees the work, so that a late answer lands
// in memory that nobody else uses any more.
struct LateWork {
  volatile LONG holders;  // the caller and the thread
  HANDLE done;
  void (*run)(LateWork* work);
  void (*release)(LateWork* work);  // frees what the work holds, and the work
};

static void LetGo(LateWork* work) {
  if (InterlockedDecrement(&work->holders) != 0) return;
  if (work->done) CloseHandle(work->done);
  work->release(work);
}

static DWORD WINAPI RunLateWork(void* parameter) {
  LateWork* work = static_cast<LateWork*>(parameter);
  work->run(work);
  SetEvent(work->done);
  LetGo(work);
  return 0;
}

// Runs the work and waits for it until the deadline. True when it ended in
// time: the caller reads its result, then lets go. False when it did not, and
// the caller has let go already. Without a thread it runs here, unbounded.
static bool AwaitLateWork(LateWork* work, unsigned long long deadline) {
  work->holders = 2;
  work->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = work->done ? CreateThread(nullptr, 0, RunLateWork, work, 0, nullptr) : nullptr;
  if (!thread) {
    work->holders = 1;
    work->run(work);
    return true;
  }
  CloseHandle(thread);
  unsigned long long now = GetTickCount64();
  DWORD wait = now >= deadline ? 0 : deadline - now > 0x7FFFFFFF ? 0x7FFFFFFF : DWORD(deadline - now);
  if (WaitForSingleObject(work->done, wait) == WAIT_OBJECT_0) return true;
  LetGo(work);
  return false;
}

struct NameLookup {
  LateWork work;  // first, so that the work is the lookup
  wchar_t host[256];
  wchar_t service[8];
  ADDRINFOW* addresses;
  int result;
};

static void LookUpName(LateWork* work) {
  NameLookup* lookup = reinterpret_cast<NameLookup*>(work);
  // The caller's own Windows Sockets may be cleaned up before a late answer.
  WSADATA data;
  bool started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  ADDRINFOW hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  lookup->result = GetAddrInfoW(lookup->host, lookup->service, &hints, &lookup->addresses);
  if (started) WSACleanup();
}

static void ReleaseNameLookup(LateWork* work) {
  NameLookup* lookup = reinterpret_cast<NameLookup*>(work);
  if (lookup->addresses) FreeAddrInfoW(lookup->addresses);
  free(lookup);
}

// The host's addresses by the deadline; an address as such needs no lookup.
static bool Resolve(const wchar_t* host, const wchar_t* service, unsigned long long deadline, ADDRINFOW** addresses,
                    ConnectionFailure* failure) {
  ADDRINFOW hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICHOST;
  if (GetAddrInfoW(host, service, &hints, addresses) == 0) return true;
  NameLookup* lookup = static_cast<NameLookup*>(calloc(1, sizeof(NameLookup)));
  if (!lookup) return Fail(failure, ERROR_OUTOFMEMORY, "out of memory");
  lookup->work.run = LookUpName;
  lookup->work.release = ReleaseNameLookup;
  wcsncpy(lookup->host, host, 255);
  wcsncpy(lookup->service, service, 7);
  if (!AwaitLateWork(&lookup->work, deadline))
    return Fail(failure, WSAETIMEDOUT, "the host name was not resolved within --http-timeout");
  int result = lookup->result;
  *addresses = lookup->addresses;
  lookup->addresses = nullptr;
  LetGo(&lookup->work);
  return result == 0 || Fail(failure, unsigned(result), "the host name is not known");
}

static bool Connect(HttpConnection* connection, const wchar_t* host, uint16_t port, unsigned long long deadline,
                    ConnectionFailure* failure) {
  wchar_t service[8];
  swprintf(service, 8, L"%u", unsigned(port));
  ADDRINFOW* addresses = nullptr;
  if (!Resolve(host, service, deadline, &addresses, failure)) return false;
  Fail(failure, WSAECONNREFUSED, kUnreachable);
  for (ADDRINFOW* address = addresses; address && connection->socket == INVALID_SOCKET; address = address->ai_next) {
    SOCKET candidate = socket(address->ai_family, address->ai_socktype, address->ai_protocol);
    if (candidate == INVALID_SOCKET) continue;
    u_long nonBlocking = 1;
    ioctlsocket(candidate, FIONBIO, &nonBlocking);
    // The request goes out in one piece and at once.
    BOOL noDelay = TRUE;
    setsockopt(candidate, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    int error = 0;
    if (connect(candidate, address->ai_addr, int(address->ai_addrlen)) != 0) {
      error = WSAGetLastError();
      if (error == WSAEWOULDBLOCK) {
        if (!AwaitSocket(candidate, true, deadline)) {
          error = WSAETIMEDOUT;
        } else {
          int length = sizeof error;
          getsockopt(candidate, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
        }
      }
    }
    if (error == 0) {
      connection->socket = candidate;
      break;
    }
    closesocket(candidate);
    if (error == WSAETIMEDOUT)
      Fail(failure, unsigned(error), "the server cannot be reached within --http-timeout");
    else if (error == WSAECONNREFUSED)
      Fail(failure, unsigned(error), kUnreachable);
    else
      Fail(failure, unsigned(error), "the server cannot be reached");
  }
  FreeAddrInfoW(addresses);
  return connection->socket != INVALID_SOCKET;
}

static void SendToken(HttpConnection* connection, SecBuffer* token, unsigned long long deadline, bool* sent,
                      ConnectionFailure* failure) {
  if (token->pvBuffer && token->cbBuffer)
    *sent = RawSend(connection, static_cast<char*>(token->pvBuffer), token->cbBuffer, deadline, failure);
  if (token->pvBuffer) FreeContextBuffer(token->pvBuffer);
  token->pvBuffer = nullptr;
}

// Keeps what Schannel left of the input (the start of the next record).
static void KeepExtra(HttpConnection* connection, const SecBuffer& extra) {
  if (extra.BufferType == SECBUFFER_EXTRA && extra.cbBuffer <= connection->incomingLength) {
    memmove(connection->incoming, connection->incoming + connection->incomingLength - extra.cbBuffer, extra.cbBuffer);
    connection->incomingLength = extra.cbBuffer;
  } else {
    connection->incomingLength = 0;
  }
}

static ReceiveResult ReceiveMore(HttpConnection* connection, unsigned long long deadline, ConnectionFailure* failure) {
  if (connection->incomingLength >= kTlsBufferSize) {
    Fail(failure, 0, "the server's TLS record is too long");
    return kReceiveFailed;
  }
  size_t got = 0;
  ReceiveResult result = RawReceive(connection, connection->incoming + connection->incomingLength,
                                    kTlsBufferSize - connection->incomingLength, &got, deadline, failure);
  if (result == kReceiveClosed) Fail(failure, WSAECONNRESET, kBroken);
  if (result == kReceived) connection->incomingLength += got;
  return result;
}

// The handshake from its first message, or (input given) a message the
// server sent after it.
static SECURITY_STATUS Handshake(HttpConnection* connection, bool started, unsigned long long deadline,
                                 ConnectionFailure* failure) {
  SECURITY_STATUS status = SEC_I_CONTINUE_NEEDED;
  bool read = started && connection->incomingLength == 0;
  for (;;) {
    if (read && ReceiveMore(connection, deadline, failure) != kReceived) return SEC_E_INTERNAL_ERROR;
    read = true;
    SecBuffer input[2] = {{unsigned(connection->incomingLength), SECBUFFER_TOKEN, connection->incoming},
                          {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inputDescription = {SECBUFFER_VERSION, 2, input};
    SecBuffer output[1] = {{0, SECBUFFER_TOKEN, nullptr}};
    SecBufferDesc outputDescription = {SECBUFFER_VERSION, 1, output};
    unsigned long attributes = 0;
    status =
        InitializeSecurityContextW(&connection->credentials, started ? &connection->context : nullptr, connection->host,
                                   kFlags, 0, 0, started ? &inputDescription : nullptr, 0,
                                   started ? nullptr : &connection->context, &outputDescription, &attributes, nullptr);
    if (!started && (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK)) connection->haveContext = true;
    bool sent = true;
    SendToken(connection, &output[0], deadline, &sent, failure);
    if (!sent) return SEC_E_INTERNAL_ERROR;
    if (status == SEC_E_INCOMPLETE_MESSAGE) continue;
    if (status == SEC_I_INCOMPLETE_CREDENTIALS) {
      read = false;  // no client certificate: the same input once more
      continue;
    }
    if (started) KeepExtra(connection, input[1]);
    started = true;
    if (status == SEC_I_CONTINUE_NEEDED) {
      read = connection->incomingLength == 0;
      continue;
    }
    if (status != SEC_E_OK) Fail(failure, unsigned(status), "no secure connection could be agreed with the server");
    return status;
  }
}

struct ChainCheck {
  LateWork work;  // first, so that the work is the check
  PCCERT_CONTEXT certificate;
  wchar_t* host;
  DWORD retrievalMs;  // for the issuers' certificates that the chain may fetch
  unsigned long error;
};

// The certificate checks that Schannel leaves to its caller here: a chain to a
// trusted root, valid now, for a server, with the host's name.
static void CheckChain(LateWork* work) {
  ChainCheck* check = reinterpret_cast<ChainCheck*>(work);
  LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
  CERT_CHAIN_PARA chainParameters = {};
  chainParameters.cbSize = sizeof chainParameters;
  chainParameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  chainParameters.RequestedUsage.Usage.cUsageIdentifier = 1;
  chainParameters.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  chainParameters.dwUrlRetrievalTimeout = check->retrievalMs;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  check->error = unsigned(CERT_E_UNTRUSTEDROOT);
  if (!CertGetCertificateChain(nullptr, check->certificate, nullptr, check->certificate->hCertStore,
                               &chainParameters, 0, nullptr, &chain))
    return;
  HTTPSPolicyCallbackData server = {};
  server.cbStruct = sizeof server;
  server.dwAuthType = AUTHTYPE_SERVER;
  server.pwszServerName = check->host;
  CERT_CHAIN_POLICY_PARA policy = {};
  policy.cbSize = sizeof policy;
  policy.pvExtraPolicyPara = &server;
  CERT_CHAIN_POLICY_STATUS verdict = {};
  verdict.cbSize = sizeof verdict;
  if (CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &verdict)) check->error = verdict.dwError;
  CertFreeCertificateChain(chain);
}

static void ReleaseChainCheck(LateWork* work) {
  ChainCheck* check = reinterpret_cast<ChainCheck*>(work);
  CertFreeCertificateContext(check->certificate);
  free(check->host);
  free(check);
}

static bool CheckCertificate(HttpConnection* connection, unsigned long long deadline, ConnectionFailure* failure) {
  const char* untrusted =
      "the server's certificate is not trusted (--http-insecure accepts a phone's self-signed certificate)";
  PCCERT_CONTEXT certificate = nullptr;
  if (QueryContextAttributesW(&connection->context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) != SEC_E_OK ||
      !certificate)
    return Fail(failure, unsigned(CERT_E_UNTRUSTEDROOT), untrusted);
  ChainCheck* check = static_cast<ChainCheck*>(calloc(1, sizeof(ChainCheck)));
  wchar_t* host = _wcsdup(connection->host);
  unsigned long long now = GetTickCount64();
  if (!check || !host || now >= deadline) {
    free(check);
    free(host);
    CertFreeCertificateContext(certificate);
    return now >= deadline ? Fail(failure, WSAETIMEDOUT, kTimedOut) : Fail(failure, ERROR_OUTOFMEMORY, "out of memory");
  }
  check->work.run = CheckChain;
  check->work.release = ReleaseChainCheck;
  check->certificate = certificate;
  check->host = host;
  check->retrievalMs = deadline - now > 0x7FFFFFFF ? 0x7FFFFFFF : DWORD(deadline - now);
  if (!AwaitLateWork(&check->work, deadline))
    return Fail(failure, WSAETIMEDOUT, "the server's certificate could not be checked within --http-timeout");
  unsigned long error = check->error;
  LetGo(&check->work);
  return error == 0 || Fail(failure, error, untrusted);
}

static bool StartTls(HttpConnection* connection, bool insecure, unsigned long long deadline,
                     ConnectionFailure* failure) {
  SCHANNEL_CRED settings = {};
  settings.dwVersion = SCHANNEL_CRED_VERSION;
  settings.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
  SECURITY_STATUS status =
      AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr, &settings,
                                nullptr, nullptr, &connection->credentials, nullptr);
  if (status != SEC_E_OK) return Fail(failure, unsigned(status), "TLS is not available");
  connection->haveCredentials = true;
  connection->incoming = static_cast<char*>(malloc(kTlsBufferSize));
  connection->plain = static_cast<char*>(malloc(kTlsBufferSize));
  if (!connection->incoming || !connection->plain) return Fail(failure, ERROR_OUTOFMEMORY, "out of memory");
  if (Handshake(connection, false, deadline, failure) != SEC_E_OK) return false;
  if (!insecure && !CheckCertificate(connection, deadline, failure)) return false;
  status = QueryContextAttributesW(&connection->context, SECPKG_ATTR_STREAM_SIZES, &connection->sizes);
  if (status != SEC_E_OK) return Fail(failure, unsigned(status), "TLS is not available");
  connection->outgoing = static_cast<char*>(
      malloc(connection->sizes.cbHeader + connection->sizes.cbMaximumMessage + connection->sizes.cbTrailer));
  return connection->outgoing || Fail(failure, ERROR_OUTOFMEMORY, "out of memory");
}

HttpConnection* OpenHttpConnection(const wchar_t* host, uint16_t port, bool secure, bool insecure,
                                   unsigned long long deadline, ConnectionFailure* failure) {
  HttpConnection* connection = static_cast<HttpConnection*>(calloc(1, sizeof(HttpConnection)));
  if (!connection) {
    Fail(failure, ERROR_OUTOFMEMORY, "out of memory");
    return nullptr;
  }
  connection->socket = INVALID_SOCKET;
  connection->secure = secure;
  connection->host = _wcsdup(host);
  connection->activity = WSACreateEvent();
  bool open = connection->host && connection->activity != WSA_INVALID_EVENT;
  if (!open) Fail(failure, ERROR_OUTOFMEMORY, "out of memory");
  open = open && Connect(connection, host, port, deadline, failure);
  if (open && WSAEventSelect(connection->socket, connection->activity, FD_READ | FD_CLOSE) != 0)
    open = Fail(failure, unsigned(WSAGetLastError()), kBroken);
  if (open) {
    // Without probes the check before each request still sees a close the
    // server sent; nothing else depends on them.
    tcp_keepalive probes = {1, kProbeAfterQuietMs, kProbeSpacingMs};
    DWORD returned = 0;
    WSAIoctl(connection->socket, SIO_KEEPALIVE_VALS, &probes, sizeof probes, nullptr, 0, &returned, nullptr, nullptr);
  }
  if (open && secure) open = StartTls(connection, insecure, deadline, failure);
  if (!open) {
    CloseHttpConnection(connection);
    return nullptr;
  }
  return connection;
}

bool SendOnConnection(HttpConnection* connection, const char* data, size_t length, unsigned long long deadline,
                      ConnectionFailure* failure) {
  if (!connection->secure) return RawSend(connection, data, length, deadline, failure);
  const SecPkgContext_StreamSizes& sizes = connection->sizes;
  while (length) {
    size_t chunk = length < sizes.cbMaximumMessage ? length : sizes.cbMaximumMessage;
    char* record = connection->outgoing;
    memcpy(record + sizes.cbHeader, data, chunk);
    SecBuffer buffers[4] = {{sizes.cbHeader, SECBUFFER_STREAM_HEADER, record},
                            {unsigned(chunk), SECBUFFER_DATA, record + sizes.cbHeader},
                            {sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record + sizes.cbHeader + chunk},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc description = {SECBUFFER_VERSION, 4, buffers};
    SECURITY_STATUS status = EncryptMessage(&connection->context, 0, &description, 0);
    if (status != SEC_E_OK) return Fail(failure, unsigned(status), kBroken);
    if (!RawSend(connection, record, buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer, deadline,
                 failure))
      return false;
    data += chunk;
    length -= chunk;
  }
  return true;
}

// Decrypts what has arrived into plain; kReceived once there is some.
static ReceiveResult Decrypt(HttpConnection* connection, unsigned long long deadline, ConnectionFailure* failure) {
  for (bool first = true;; first = false) {
    // Records without data (empty ones, tickets) could come without end.
    if (!first && GetTickCount64() >= deadline) {
      Fail(failure, WSAETIMEDOUT, kTimedOut);
      return kReceiveTimedOut;
    }
    if (connection->incomingLength == 0) {
      ReceiveResult result = ReceiveMore(connection, deadline, failure);
      if (result != kReceived) return result;
    }
    SecBuffer buffers[4] = {{unsigned(connection->incomingLength), SECBUFFER_DATA, connection->incoming},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc description = {SECBUFFER_VERSION, 4, buffers};
    SECURITY_STATUS status = DecryptMessage(&connection->context, &description, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
      // A connection that ends within a record broke off.
      ReceiveResult result = ReceiveMore(connection, deadline, failure);
      if (result != kReceived) return result == kReceiveClosed ? kReceiveFailed : result;
      continue;
    }
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED) {
      Fail(failure, unsigned(status), kBroken);
      return kReceiveFailed;
    }
    SecBuffer extra = {0, SECBUFFER_EMPTY, nullptr};
    for (int i = 1; i < 4; i++) {
      if (buffers[i].BufferType == SECBUFFER_DATA && buffers[i].cbBuffer) {
        memcpy(connection->plain, buffers[i].pvBuffer, buffers[i].cbBuffer);
        connection->plainStart = 0;
        connection->plainLength = buffers[i].cbBuffer;
      }
      if (buffers[i].BufferType == SECBUFFER_EXTRA) extra = buffers[i];
    }
    KeepExtra(connection, extra);
    if (status == SEC_I_CONTEXT_EXPIRED) return connection->plainLength ? kReceived : kReceiveClosed;
    // A message after the handshake (a TLS 1.3 session ticket on Windows).
    if (status == SEC_I_RENEGOTIATE && Handshake(connection, true, deadline, failure) != SEC_E_OK)
      return kReceiveFailed;
    if (connection->plainLength) return kReceived;
  }
}

ReceiveResult ReceiveOnConnection(HttpConnection* connection, char* buffer, size_t size, size_t* got,
                                  unsigned long long deadline, ConnectionFailure* failure) {
  if (!connection->secure) return RawReceive(connection, buffer, size, got, deadline, failure);
  if (!connection->plainLength) {
    ReceiveResult result = Decrypt(connection, deadline, failure);
    if (result != kReceived) return result;
  }
  size_t take = size < connection->plainLength ? size : connection->plainLength;
  memcpy(buffer, connection->plain + connection->plainStart, take);
  connection->plainStart += take;
  connection->plainLength -= take;
  *got = take;
  return kReceived;
}

bool ConnectionStaysUsable(HttpConnection* connection) {
  // The socket's own record of a close (a FIN, a reset, probes unanswered)
  // counts even where a peek would not show it yet; reading it also resets
  // the event.
  WSANETWORKEVENTS events = {};
  if (WSAEnumNetworkEvents(connection->socket, connection->activity, &events) != 0) return false;
  if (events.lNetworkEvents & FD_CLOSE) return false;
  if (connection->plainLength) return false;
  if (connection->secure) {
    // TLS has messages of its own after the handshake (TLS 1.3 session
    // tickets), which are taken here; only data, an alert or the end count.
    ConnectionFailure failure;
    return Decrypt(connection, GetTickCount64(), &failure) == kReceiveTimedOut && !connection->plainLength;
  }
  char probe;
  int peeked = recv(connection->socket, &probe, 1, MSG_PEEK);
  return peeked < 0 && WSAGetLastError() == WSAEWOULDBLOCK;
}

HANDLE ConnectionActivity(HttpConnection* connection) { return connection->activity; }

void CloseHttpConnection(HttpConnection* connection) {
  if (!connection) return;
  if (connection->socket != INVALID_SOCKET) closesocket(connection->socket);
  if (connection->activity != WSA_INVALID_EVENT && connection->activity) WSACloseEvent(connection->activity);
  if (connection->haveContext) DeleteSecurityContext(&connection->context);
  if (connection->haveCredentials) FreeCredentialsHandle(&connection->credentials);
  free(connection->host);
  free(connection->incoming);
  free(connection->plain);
  free(connection->outgoing);
  free(connection);
}

// TLS through SChannel (SSPI). The handshake itself does not judge the certificate: we ask for
// manual validation and check the chain and the name ourselves afterwards, because SChannel's
// automatic check is not applied reliably everywhere (Wine accepts an untrusted chain with it).

#include "core/win32/windows_api.h"

#define SECURITY_WIN32
#define SCHANNEL_USE_BLACKLISTS  // declares SCH_CREDENTIALS and TLS_PARAMETERS
#include <subauth.h>
#include <schannel.h>
#include <security.h>
#include <sspi.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/tls.h"

namespace korvex {

namespace {

using win32::FromW;
using win32::W;

constexpr unsigned char kAlertRecord = 21;
constexpr DWORD kObsoleteProtocols = SP_PROT_SSL2 | SP_PROT_SSL3 | SP_PROT_TLS1_0 | SP_PROT_TLS1_1;

constexpr DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION;

Text StatusText(SECURITY_STATUS status) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(status), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  Text text;
  if (length && buffer) {
    text = FromW(buffer, length);
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ')) text.pop_back();
  }
  if (buffer) ::LocalFree(buffer);
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
  return text.empty() ? FromAscii(code) : text + u" (" + FromAscii(code) + u")";
}

[[noreturn]] void ThrowTlsFailure(SECURITY_STATUS status) { throw KorError(kTlsHandshakeFailed + StatusText(status)); }

// One client credential for the process, acquired at the first handshake under a process-wide
// lock; a failure is not remembered, so the next handshake tries again.
std::mutex gCredentialLock;
bool gHaveCredential = false;
CredHandle gCredential;

CredHandle& Credential() {
  std::lock_guard lock(gCredentialLock);
  if (gHaveCredential) return gCredential;

  // TLS 1.3 and 1.2 through SCH_CREDENTIALS (recent Windows); older systems refuse that
  // structure, and then get TLS 1.2 through SCHANNEL_CRED.
  TLS_PARAMETERS parameters{};
  parameters.grbitDisabledProtocols = static_cast<DWORD>(
      ~(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT));
  SCH_CREDENTIALS modern{};
  modern.dwVersion = SCH_CREDENTIALS_VERSION;
  modern.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
  modern.cTlsParameters = 1;
  modern.pTlsParameters = &parameters;
  TimeStamp expiry;
  wchar_t package[] = UNISP_NAME_W;
  SECURITY_STATUS status = ::AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &modern,
                                                       nullptr, nullptr, &gCredential, &expiry);
  if (status != SEC_E_OK) {
    SCHANNEL_CRED legacy{};
    legacy.dwVersion = SCHANNEL_CRED_VERSION;
    legacy.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    legacy.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    status = ::AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &legacy, nullptr,
                                         nullptr, &gCredential, &expiry);
  }
  if (status != SEC_E_OK) throw KorError(kTlsLibraryMissing);
  gHaveCredential = true;
  return gCredential;
}

// The chain against the machine's trust store and the name against the certificate, as a
// browser would check them.
bool CertificateAccepted(CtxtHandle& context, const std::string& serverName) {
  PCCERT_CONTEXT certificate = nullptr;
  if (::QueryContextAttributesW(&context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) != SEC_E_OK ||
      !certificate) {
    return false;
  }
  char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
  LPSTR usages[] = {serverAuth};
  CERT_CHAIN_PARA chainPara{};
  chainPara.cbSize = sizeof chainPara;
  chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
  chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  bool accepted = false;
  if (::CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &chainPara, 0, nullptr,
                                &chain)) {
    std::wstring name(W(FromUtf8(serverName)));
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = name.data();
    CERT_CHAIN_POLICY_PARA policyPara{};
    policyPara.cbSize = sizeof policyPara;
    policyPara.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS policyStatus{};
    policyStatus.cbSize = sizeof policyStatus;
    accepted = ::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policyPara, &policyStatus) &&
               policyStatus.dwError == 0;
    ::CertFreeCertificateChain(chain);
  }
  ::CertFreeCertificateContext(certificate);
  return accepted;
}

class SchannelStream final : public Stream {
 public:
  explicit SchannelStream(std::unique_ptr<Socket> socket) : socket_(std::move(socket)) {}
  SchannelStream(const SchannelStream&) = delete;
  SchannelStream& operator=(const SchannelStream&) = delete;

  ~SchannelStream() override {
    if (!haveContext_) return;
    if (established_ && !closed_) SendCloseNotify();
    ::DeleteSecurityContext(&context_);
  }

  void Handshake(const std::string& serverName) {
    CredHandle& credential = Credential();
    target_ = W(FromUtf8(serverName));

    SecBuffer outBuffers[2] = {{0, SECBUFFER_TOKEN, nullptr}, {0, SECBUFFER_ALERT, nullptr}};
    SecBufferDesc out{SECBUFFER_VERSION, 2, outBuffers};
    ULONG attributes = 0;
    SECURITY_STATUS status = ::InitializeSecurityContextW(&credential, nullptr, target_.data(), flags_, 0, 0,
                                                          nullptr, 0, &context_, &out, &attributes, nullptr);
    if (status != SEC_I_CONTINUE_NEEDED && status != SEC_E_OK) ThrowTlsFailure(status);
    haveContext_ = true;
    SendTokens(outBuffers);

    while (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_INCOMPLETE_MESSAGE) {
      if (incoming_.empty() || status == SEC_E_INCOMPLETE_MESSAGE) {
        if (!Receive()) throw KorError(Text(kTlsHandshakeFailed) + kTlsClosedDuringHandshake);
      }
      SecBuffer inBuffers[2] = {{static_cast<ULONG>(incoming_.size()), SECBUFFER_TOKEN, incoming_.data()},
                                {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc in{SECBUFFER_VERSION, 2, inBuffers};
      outBuffers[0] = {0, SECBUFFER_TOKEN, nullptr};
      outBuffers[1] = {0, SECBUFFER_ALERT, nullptr};
      status = ::InitializeSecurityContextW(&credential, &context_, target_.data(), flags_, 0, 0, &in, 0,
                                            nullptr, &out, &attributes, nullptr);
      if (status == SEC_E_INCOMPLETE_MESSAGE) continue;
      SendTokens(outBuffers);  // includes an alert the library wants the server to see
      if (FAILED(status)) ThrowTlsFailure(status);
      if (status == SEC_I_INCOMPLETE_CREDENTIALS) {
        // The server asks for a client certificate, which may be optional: go on without one,
        // as OpenSSL does, with the same input, and let the server decide.
        if (flags_ & ISC_REQ_USE_SUPPLIED_CREDS) ThrowTlsFailure(status);
        flags_ |= ISC_REQ_USE_SUPPLIED_CREDS;
        status = SEC_I_CONTINUE_NEEDED;
        continue;
      }
      KeepExtra(inBuffers[1]);
    }
    if (status != SEC_E_OK) ThrowTlsFailure(status);
    established_ = true;

    // The credential asks for TLS 1.2 at least, but not every SChannel honours that (Wine takes
    // SCH_CREDENTIALS and still negotiates TLS 1.1), so the outcome is checked as well.
    SecPkgContext_ConnectionInfo connection{};
    status = ::QueryContextAttributesW(&context_, SECPKG_ATTR_CONNECTION_INFO, &connection);
    if (status != SEC_E_OK) ThrowTlsFailure(status);
    if (connection.dwProtocol & kObsoleteProtocols) {
      throw KorError(Text(kTlsHandshakeFailed) + kTlsObsoleteProtocol);
    }
    if (!CertificateAccepted(context_, serverName)) throw KorError(kCertificateRejected);
    status = ::QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_);
    if (status != SEC_E_OK) ThrowTlsFailure(status);
  }

  void Write(std::string_view bytes) override {
    std::vector<char> record;
    while (!bytes.empty()) {
      const std::size_t chunk = std::min<std::size_t>(bytes.size(), sizes_.cbMaximumMessage);
      record.assign(sizes_.cbHeader + chunk + sizes_.cbTrailer, 0);
      std::memcpy(record.data() + sizes_.cbHeader, bytes.data(), chunk);
      SecBuffer buffers[4] = {
          {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
          {static_cast<ULONG>(chunk), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
          {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + chunk},
          {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc message{SECBUFFER_VERSION, 4, buffers};
      const SECURITY_STATUS status = ::EncryptMessage(&context_, 0, &message, 0);
      if (status != SEC_E_OK) ThrowTlsFailure(status);
      socket_->Write(std::string_view(record.data(), buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer));
      bytes.remove_prefix(chunk);
    }
  }

  std::size_t Read(char* buffer, std::size_t size) override {
    for (;;) {
      if (!plain_.empty()) {
        const std::size_t count = std::min(size, plain_.size());
        std::memcpy(buffer, plain_.data(), count);
        plain_.erase(0, count);
        return count;
      }
      if (closed_) return 0;
      if (Decrypt() == Step::kNeedMore && !Receive()) {
        closed_ = true;  // the TCP stream ended, with or without close_notify
        return 0;
      }
    }
  }

  bool Stale() override {
    if (!plain_.empty() || closed_) return true;
    // Bytes on an idle connection: data or an alert make it stale, while a post-handshake
    // message (a TLS 1.3 session ticket) does not. Look at what has arrived without waiting for
    // more.
    while (Readable()) {
      if (!Receive()) return true;
      if (Decrypt() != Step::kNeedMore) return true;
    }
    return false;
  }

  void SetDeadline(Deadline deadline) override { socket_->SetDeadline(deadline); }

 private:
  enum class Step { kData, kClosed, kNeedMore };

  // Decrypts the records waiting in incoming_ into plain_.
  Step Decrypt() {
    while (!incoming_.empty()) {
      // Wine's SChannel decrypts the peer's close_notify to an empty record with SEC_E_OK instead
      // of SEC_I_CONTEXT_EXPIRED. Up to TLS 1.2 an alert shows in the record header (content
      // type 21), and after the handshake an alert ends the connection either way.
      const bool alert = static_cast<unsigned char>(incoming_[0]) == kAlertRecord;
      SecBuffer buffers[4] = {{static_cast<ULONG>(incoming_.size()), SECBUFFER_DATA, incoming_.data()},
                              {0, SECBUFFER_EMPTY, nullptr},
                              {0, SECBUFFER_EMPTY, nullptr},
                              {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc message{SECBUFFER_VERSION, 4, buffers};
      const SECURITY_STATUS status = ::DecryptMessage(&context_, &message, 0, nullptr);
      if (status == SEC_E_INCOMPLETE_MESSAGE) return Step::kNeedMore;
      if (status == SEC_I_CONTEXT_EXPIRED) {
        closed_ = true;
        return Step::kClosed;
      }
      if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE) ThrowTlsFailure(status);
      std::string extra;
      for (const SecBuffer& b : buffers) {
        if (b.BufferType == SECBUFFER_DATA) plain_.append(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
        if (b.BufferType == SECBUFFER_EXTRA) extra.assign(incoming_.end() - b.cbBuffer, incoming_.end());
      }
      incoming_.swap(extra);
      if (status == SEC_I_RENEGOTIATE) Renegotiate();
      if (!plain_.empty()) return Step::kData;
      if (alert) {
        closed_ = true;
        return Step::kClosed;
      }
    }
    return Step::kNeedMore;
  }

  // A post-handshake message (a TLS 1.3 session ticket or key update) goes back through the
  // handshake function, with the records that followed it.
  void Renegotiate() {
    SECURITY_STATUS status;
    do {
      SecBuffer inBuffers[2] = {{static_cast<ULONG>(incoming_.size()), SECBUFFER_TOKEN, incoming_.data()},
                                {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc in{SECBUFFER_VERSION, 2, inBuffers};
      SecBuffer outBuffers[2] = {{0, SECBUFFER_TOKEN, nullptr}, {0, SECBUFFER_ALERT, nullptr}};
      SecBufferDesc out{SECBUFFER_VERSION, 2, outBuffers};
      ULONG attributes = 0;
      status = ::InitializeSecurityContextW(&Credential(), &context_, target_.data(), flags_, 0, 0, &in, 0,
                                            nullptr, &out, &attributes, nullptr);
      if (status == SEC_E_INCOMPLETE_MESSAGE) {
        if (!Receive()) ThrowTlsFailure(status);
        continue;
      }
      SendTokens(outBuffers);
      if (FAILED(status)) ThrowTlsFailure(status);
      std::string extra;
      if (inBuffers[1].BufferType == SECBUFFER_EXTRA) extra.assign(incoming_.end() - inBuffers[1].cbBuffer, incoming_.end());
      incoming_.swap(extra);
    } while (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_INCOMPLETE_MESSAGE);
  }

  bool Receive() {
    char buffer[16384];
    const std::size_t received = socket_->Read(buffer, sizeof buffer);
    incoming_.append(buffer, received);
    return received != 0;
  }

  bool Readable() const {
    const auto handle = static_cast<SOCKET>(socket_->NativeHandle());
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(handle, &readable);
    timeval now{0, 0};
    return ::select(0, &readable, nullptr, nullptr, &now) > 0;
  }

  void KeepExtra(const SecBuffer& buffer) {
    if (buffer.BufferType == SECBUFFER_EXTRA) {
      incoming_.erase(0, incoming_.size() - buffer.cbBuffer);
    } else {
      incoming_.clear();
    }
  }

  void SendTokens(SecBuffer (&buffers)[2]) {
    std::string bytes;
    for (SecBuffer& b : buffers) {
      if (b.pvBuffer && b.cbBuffer) bytes.append(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
      if (b.pvBuffer) ::FreeContextBuffer(b.pvBuffer);
      b.pvBuffer = nullptr;
      b.cbBuffer = 0;
    }
    if (!bytes.empty()) socket_->Write(bytes);
  }

  void SendCloseNotify() {
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
    SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
    if (::ApplyControlToken(&context_, &controlDesc) != SEC_E_OK) return;
    SecBuffer outBuffers[2] = {{0, SECBUFFER_TOKEN, nullptr}, {0, SECBUFFER_ALERT, nullptr}};
    SecBufferDesc out{SECBUFFER_VERSION, 2, outBuffers};
    ULONG attributes = 0;
    ::InitializeSecurityContextW(&Credential(), &context_, target_.data(), flags_, 0, 0, nullptr, 0, nullptr,
                                 &out, &attributes, nullptr);
    try {
      SendTokens(outBuffers);
    } catch (const KorError&) {
      // The peer is gone already; nothing to tell it.
    }
  }

  std::unique_ptr<Socket> socket_;
  std::wstring target_;
  DWORD flags_ = kContextFlags;
  CtxtHandle context_{};
  bool haveContext_ = false;
  bool established_ = false;
  bool closed_ = false;
  SecPkgContext_StreamSizes sizes_{};
  std::string incoming_;  // received records not yet decrypted
  std::string plain_;     // decrypted bytes not yet read
};

class SchannelHandler final : public TlsHandler {
 public:
  std::unique_ptr<Stream> Handshake(std::unique_ptr<Socket> socket, const std::string& serverName) override {
    auto stream = std::make_unique<SchannelStream>(std::move(socket));
    stream->Handshake(serverName);
    return stream;
  }
};

}  // namespace

std::unique_ptr<TlsHandler> MakeTlsHandler(const TlsOptions&) { return std::make_unique<SchannelHandler>(); }

}  // namespace korvex

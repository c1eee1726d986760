// TLS over OpenSSL 3, loaded with dlopen at the first handshake, so that a machine without the
// library still sends plain HTTP. The TLS records travel through our own Socket (a custom BIO),
// which keeps one error mapping, the time-outs and the SIGPIPE protection in one place.

#include <arpa/inet.h>
#include <dlfcn.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>

#include <algorithm>
#include <exception>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "core/error.h"
#include "core/tls.h"

namespace korvex {

namespace {

constexpr char kDefaultLibrary[] = "libssl.so.3";

// The entry points we use, resolved from the loaded library (libcrypto's through libssl's
// dependencies). The headers serve for the types only; nothing here links against OpenSSL.
struct OpenSsl {
#define KORVEX_OPENSSL_FUNCTIONS(X)                                                             \
  X(TLS_client_method) X(SSL_CTX_new) X(SSL_CTX_free) X(SSL_CTX_ctrl) X(SSL_CTX_set_options)     \
  X(SSL_CTX_set_verify) X(SSL_CTX_set_default_verify_paths) X(SSL_CTX_load_verify_locations)     \
  X(SSL_new) X(SSL_free) X(SSL_ctrl) X(SSL_set_bio) X(SSL_set1_host) X(SSL_connect) X(SSL_read)  \
  X(SSL_peek) X(SSL_write) X(SSL_pending) X(SSL_shutdown) X(SSL_get_error)                       \
  X(SSL_get_verify_result) X(ERR_get_error) X(ERR_clear_error) X(ERR_error_string_n)            \
  X(X509_verify_cert_error_string) X(BIO_get_new_index) X(BIO_meth_new) X(BIO_meth_set_write)    \
  X(BIO_meth_set_read) X(BIO_meth_set_ctrl) X(BIO_new) X(BIO_free) X(BIO_set_init)               \
  X(BIO_set_flags) X(BIO_clear_flags)
#define KORVEX_DECLARE(name) decltype(&::name) name = nullptr;
  KORVEX_OPENSSL_FUNCTIONS(KORVEX_DECLARE)
#undef KORVEX_DECLARE

  BIO_METHOD* socketMethod = nullptr;
  std::map<std::string, SSL_CTX*> contexts;  // by extra CA file; shared by all handlers
};

class OpenSslStream;

// The stream whose SSL call is running on this thread; the BIO callbacks work for it.
thread_local OpenSslStream* tActive = nullptr;

std::mutex gLoadLock;
std::map<std::string, OpenSsl>& Loaded() {
  // Loaded libraries and their contexts stay for the life of the process, never torn down.
  static auto* loaded = new std::map<std::string, OpenSsl>;
  return *loaded;
}

Text LibraryErrorText(const OpenSsl& ssl) {
  Text text;
  while (const unsigned long code = ssl.ERR_get_error()) {
    char buffer[256];
    ssl.ERR_error_string_n(code, buffer, sizeof buffer);
    if (!text.empty()) text += u"\r\n";
    text += FromUtf8(buffer);
  }
  return text;
}

// The library's own text; without one, ours with the step that failed.
[[noreturn]] void ThrowHandshakeFailed(const OpenSsl& ssl, const char* step, const char16_t* fallback = kTlsSetupFailed) {
  Text detail = LibraryErrorText(ssl);
  if (detail.empty()) detail = Text(fallback) + u" (" + FromUtf8(step) + u")";
  throw KorError(kTlsHandshakeFailed + detail);
}

int BioWrite(BIO* bio, const char* data, int size);
int BioRead(BIO* bio, char* buffer, int size);
long BioCtrl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

// Loads the named libssl once per process; a failure is not remembered, so the next handshake
// tries again.
OpenSsl& Load(const std::string& requested) {
  const std::string name = requested.empty() ? kDefaultLibrary : requested;
  std::lock_guard lock(gLoadLock);
  auto found = Loaded().find(name);
  if (found != Loaded().end()) return found->second;

  void* library = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) throw KorError(kTlsLibraryMissing);
  OpenSsl ssl;
  bool complete = true;
#define KORVEX_RESOLVE(name)                                                   \
  ssl.name = reinterpret_cast<decltype(ssl.name)>(::dlsym(library, #name)); \
  complete = complete && ssl.name;
  KORVEX_OPENSSL_FUNCTIONS(KORVEX_RESOLVE)
#undef KORVEX_RESOLVE
  if (complete) {
    ssl.socketMethod = ssl.BIO_meth_new(ssl.BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "korvex socket");
    complete = ssl.socketMethod && ssl.BIO_meth_set_write(ssl.socketMethod, BioWrite) == 1 &&
               ssl.BIO_meth_set_read(ssl.socketMethod, BioRead) == 1 &&
               ssl.BIO_meth_set_ctrl(ssl.socketMethod, BioCtrl) == 1;
  }
  if (!complete) {
    ::dlclose(library);
    throw KorError(kTlsLibraryMissing);
  }
  return Loaded().emplace(name, std::move(ssl)).first->second;
}

// One client context per trust configuration: TLS 1.2 at least, 1.3 where offered, the peer's
// chain verified against the system store and the optional extra CA.
SSL_CTX* Context(OpenSsl& ssl, const std::string& extraCaFile) {
  std::lock_guard lock(gLoadLock);
  auto found = ssl.contexts.find(extraCaFile);
  if (found != ssl.contexts.end()) return found->second;

  ssl.ERR_clear_error();
  SSL_CTX* context = ssl.SSL_CTX_new(ssl.TLS_client_method());
  if (!context) ThrowHandshakeFailed(ssl, "SSL_CTX_new");
  bool ready = ssl.SSL_CTX_ctrl(context, SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, nullptr) == 1 &&
               ssl.SSL_CTX_set_default_verify_paths(context) == 1 &&
               (extraCaFile.empty() ||
                ssl.SSL_CTX_load_verify_locations(context, extraCaFile.c_str(), nullptr) == 1);
  if (!ready) {
    ssl.SSL_CTX_free(context);
    ThrowHandshakeFailed(ssl, "SSL_CTX");
  }
  // A server that drops the connection without close_notify ends the body like a plain close.
  ssl.SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF);
  ssl.SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  ssl.contexts.emplace(extraCaFile, context);
  return context;
}

bool IsIpv4Literal(const std::string& host) {
  in_addr address;
  return ::inet_pton(AF_INET, host.c_str(), &address) == 1;
}

bool Readable(std::intptr_t fd) {
  pollfd entry{static_cast<int>(fd), POLLIN, 0};
  return ::poll(&entry, 1, 0) > 0;
}

class OpenSslStream final : public Stream {
 public:
  OpenSslStream(const OpenSsl& ssl, std::unique_ptr<Socket> socket) : ssl_(ssl), socket_(std::move(socket)) {}
  OpenSslStream(const OpenSslStream&) = delete;
  OpenSslStream& operator=(const OpenSslStream&) = delete;

  ~OpenSslStream() override {
    if (!handle_) return;
    if (connected_ && !failed_) {
      Active active(this);
      ssl_.SSL_shutdown(handle_);  // close_notify; a peer already gone is no concern here
    }
    ssl_.SSL_free(handle_);
  }

  void Connect(SSL_CTX* context, const std::string& serverName) {
    ssl_.ERR_clear_error();
    handle_ = ssl_.SSL_new(context);
    if (!handle_) ThrowHandshakeFailed(ssl_, "SSL_new");
    BIO* bio = ssl_.BIO_new(ssl_.socketMethod);
    if (!bio) ThrowHandshakeFailed(ssl_, "BIO_new");
    ssl_.BIO_set_init(bio, 1);
    ssl_.SSL_set_bio(handle_, bio, bio);

    // No SNI for an address literal (RFC 6066); the name check then matches the address.
    if (!IsIpv4Literal(serverName) &&
        ssl_.SSL_ctrl(handle_, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                      const_cast<char*>(serverName.c_str())) != 1) {
      ThrowHandshakeFailed(ssl_, "SNI");
    }
    if (ssl_.SSL_set1_host(handle_, serverName.c_str()) != 1) ThrowHandshakeFailed(ssl_, "SSL_set1_host");

    Active active(this);
    const int result = ssl_.SSL_connect(handle_);
    if (result == 1) {
      connected_ = true;
      return;
    }
    failed_ = true;
    RethrowSocketFailure();
    if (ssl_.SSL_get_verify_result(handle_) != X509_V_OK) {
      ssl_.ERR_clear_error();
      throw KorError(kCertificateRejected);
    }
    ThrowHandshakeFailed(ssl_, "SSL_connect", kTlsHandshakeAborted);
  }

  void Write(std::string_view bytes) override {
    Active active(this);
    while (!bytes.empty()) {
      const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 30));
      const int written = ssl_.SSL_write(handle_, bytes.data(), chunk);
      if (written <= 0) Fail(written);
      bytes.remove_prefix(static_cast<std::size_t>(written));
    }
  }

  std::size_t Read(char* buffer, std::size_t size) override {
    Active active(this);
    const int chunk = static_cast<int>(std::min<std::size_t>(size, 1 << 30));
    const int read = ssl_.SSL_read(handle_, buffer, chunk);
    if (read > 0) return static_cast<std::size_t>(read);
    const int error = ssl_.SSL_get_error(handle_, read);
    if (error == SSL_ERROR_ZERO_RETURN) return 0;
    if (error == SSL_ERROR_SYSCALL && !pending_) {
      ssl_.ERR_clear_error();
      return 0;  // end of the TCP stream
    }
    Fail(read);
  }

  bool Stale() override {
    if (failed_) return true;
    if (ssl_.SSL_pending(handle_) > 0) return true;
    if (!Readable(socket_->NativeHandle())) return false;
    // Bytes on an idle connection: data or an alert make it stale, while a post-handshake
    // message (a TLS 1.3 session ticket) does not. Look at them without waiting for more than
    // what has arrived.
    Active active(this);
    probing_ = true;
    char byte;
    const int peeked = ssl_.SSL_peek(handle_, &byte, 1);
    probing_ = false;
    if (peeked > 0) return true;
    const int error = ssl_.SSL_get_error(handle_, peeked);
    pending_ = nullptr;
    ssl_.ERR_clear_error();
    return error != SSL_ERROR_WANT_READ;
  }

  void SetDeadline(Deadline deadline) override { socket_->SetDeadline(deadline); }

  // BIO callbacks, on behalf of the SSL call running now.
  int SendToSocket(const char* data, int size) {
    try {
      socket_->Write(std::string_view(data, static_cast<std::size_t>(size)));
      return size;
    } catch (...) {
      pending_ = std::current_exception();
      return -1;
    }
  }

  int ReceiveFromSocket(BIO* bio, char* buffer, int size) {
    ssl_.BIO_clear_flags(bio, BIO_FLAGS_RWS | BIO_FLAGS_SHOULD_RETRY);
    if (probing_ && !Readable(socket_->NativeHandle())) {
      ssl_.BIO_set_flags(bio, BIO_FLAGS_READ | BIO_FLAGS_SHOULD_RETRY);
      return -1;
    }
    try {
      return static_cast<int>(socket_->Read(buffer, static_cast<std::size_t>(size)));
    } catch (...) {
      pending_ = std::current_exception();
      return -1;
    }
  }

 private:
  class Active {
   public:
    explicit Active(OpenSslStream* stream) : previous_(std::exchange(tActive, stream)) {}
    Active(const Active&) = delete;
    Active& operator=(const Active&) = delete;
    ~Active() { tActive = previous_; }

   private:
    OpenSslStream* previous_;
  };

  void RethrowSocketFailure() {
    if (pending_) {
      ssl_.ERR_clear_error();
      std::rethrow_exception(std::exchange(pending_, nullptr));
    }
  }

  [[noreturn]] void Fail(int result) {
    failed_ = true;
    RethrowSocketFailure();
    const int error = ssl_.SSL_get_error(handle_, result);
    if (error == SSL_ERROR_ZERO_RETURN || error == SSL_ERROR_SYSCALL) {
      ssl_.ERR_clear_error();
      throw KorError(Text(kTlsHandshakeFailed) + kTlsConnectionClosed);
    }
    ThrowHandshakeFailed(ssl_, "SSL", kTlsTransferFailed);
  }

  const OpenSsl& ssl_;
  std::unique_ptr<Socket> socket_;
  SSL* handle_ = nullptr;
  bool connected_ = false;
  bool failed_ = false;
  bool probing_ = false;
  std::exception_ptr pending_;
};

int BioWrite(BIO*, const char* data, int size) { return tActive ? tActive->SendToSocket(data, size) : -1; }
int BioRead(BIO* bio, char* buffer, int size) {
  return tActive ? tActive->ReceiveFromSocket(bio, buffer, size) : -1;
}

class OpenSslHandler final : public TlsHandler {
 public:
  explicit OpenSslHandler(TlsOptions options) : options_(std::move(options)) {}

  std::unique_ptr<Stream> Handshake(std::unique_ptr<Socket> socket, const std::string& serverName) override {
    OpenSsl& ssl = Load(options_.libraryName);
    SSL_CTX* context = Context(ssl, options_.extraCaFile);
    auto stream = std::make_unique<OpenSslStream>(ssl, std::move(socket));
    stream->Connect(context, serverName);
    return stream;
  }

 private:
  TlsOptions options_;
};

}  // namespace

std::unique_ptr<TlsHandler> MakeTlsHandler(const TlsOptions& options) {
  return std::make_unique<OpenSslHandler>(options);
}

}  // namespace korvex

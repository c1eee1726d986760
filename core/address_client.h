#pragma once
// The address client as its callers (the exchange, the setup dialog) see it.

#include <memory>

#include "core/text.h"
#include "core/tls.h"

namespace korvex {

inline constexpr char16_t kAcceptText[] = u"text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
inline constexpr char16_t kClientUserAgent[] = u"Mozilla/3.0 (compatible; Korvex Client)";
inline constexpr char16_t kLibraryUserAgent[] = u"Mozilla/3.0 (compatible; Indy Library)";

class AddressClient {
 public:
  virtual ~AddressClient() = default;
  // One GET; returns the body as text. Throws KorError for every transport failure and every
  // final status outside 200..299.
  virtual Text Get(const Text& url) = 0;
  // Replaces the TLS handler at once; the open connection is not reused afterwards.
  virtual void AttachTls(std::shared_ptr<TlsHandler> handler) = 0;
  virtual bool HasTls() const = 0;
};

}  // namespace korvex

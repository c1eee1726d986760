#include "core/http_response.h"

#include <algorithm>

#include "core/ascii.h"
#include "core/error.h"

namespace korvex {
namespace {

// Chunk-size lines and trailers are short; a longer one is a broken or hostile answer.
constexpr std::size_t kMaxChunkLineBytes = 4096;

// True when the comma-separated header value lists `token`.
bool HasToken(std::string_view value, std::string_view token) {
  while (!value.empty()) {
    const auto comma = value.find(',');
    if (EqualsNoCase(Trim(value.substr(0, comma)), token)) return true;
    if (comma == std::string_view::npos) break;
    value.remove_prefix(comma + 1);
  }
  return false;
}

// The last transfer coding of a Transfer-Encoding value.
std::string_view LastCoding(std::string_view value) {
  const auto comma = value.rfind(',');
  if (comma != std::string_view::npos) value.remove_prefix(comma + 1);
  return Trim(value.substr(0, value.find(';')));
}

[[noreturn]] void Invalid() { throw KorError(kInvalidResponse); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// RFC 9110 tchar: the characters of a token, such as a field name.
bool IsTokenChar(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

// Parses a run of decimal digits without overflow; false for anything else.
bool ParseDecimal(std::string_view text, std::size_t& out) {
  if (text.empty()) return false;
  std::size_t value = 0;
  for (char c : text) {
    if (!IsDigit(c)) return false;
    if (value > (SIZE_MAX - 9) / 10) return false;
    value = value * 10 + static_cast<std::size_t>(c - '0');
  }
  out = value;
  return true;
}

}  // namespace

const std::string* HttpResponse::Header(std::string_view name) const {
  for (const HttpHeader& header : headers) {
    if (EqualsNoCase(header.name, name)) return &header.value;
  }
  return nullptr;
}

std::vector<std::string> HttpResponse::Values(std::string_view name) const {
  std::vector<std::string> out;
  for (const HttpHeader& header : headers) {
    if (EqualsNoCase(header.name, name)) out.push_back(header.value);
  }
  return out;
}

bool ResponseReader::TakeLine(std::string_view bytes, std::size_t& pos, std::size_t& budget,
                              const char16_t* overdrawn) {
  const auto lf = bytes.find('\n', pos);
  const std::size_t end = lf == std::string_view::npos ? bytes.size() : lf + 1;
  // Each byte is counted once, when it is taken, so the limit holds however the bytes are split.
  if (end - pos > budget) throw KorError(overdrawn);
  budget -= end - pos;
  line_.append(bytes.substr(pos, end - pos));
  pos = end;
  if (lf == std::string_view::npos) return false;
  line_.pop_back();
  if (!line_.empty() && line_.back() == '\r') line_.pop_back();
  // A CR anywhere else would let one line be read as two by one parser and as one by another.
  for (char c : line_) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\t') || byte == 0x7F) Invalid();
  }
  return true;
}

std::size_t ResponseReader::Feed(std::string_view bytes) {
  std::size_t pos = 0;
  while (pos < bytes.size() && state_ != State::kDone) {
    switch (state_) {
      case State::kStatusLine:
      case State::kInterimHeaders:
      case State::kHeaders: {
        if (!TakeLine(bytes, pos, headLeft_, kResponseTooLarge)) break;
        if (state_ == State::kStatusLine) {
          OnStatusLine();
        } else if (!line_.empty()) {
          if (state_ == State::kHeaders) {
            OnHeaderLine();
          } else {
            CheckFieldLine();  // dropped, but held to the same rules
          }
        } else if (state_ == State::kInterimHeaders) {
          state_ = State::kStatusLine;
        } else {
          OnHeadEnd();
        }
        line_.clear();
        break;
      }
      case State::kChunkSize:
        if (TakeLine(bytes, pos, chunkLineLeft_, kInvalidResponse)) {
          OnChunkSize();
          line_.clear();
        }
        break;
      case State::kChunkData: {
        const std::size_t n = std::min(remaining_, bytes.size() - pos);
        AppendBody(bytes.substr(pos, n));
        pos += n;
        remaining_ -= n;
        if (remaining_ == 0) {
          state_ = State::kChunkDataEnd;
          chunkLineLeft_ = kMaxChunkLineBytes;
        }
        break;
      }
      case State::kChunkDataEnd:
        if (TakeLine(bytes, pos, chunkLineLeft_, kInvalidResponse)) {
          if (!line_.empty()) Invalid();
          state_ = State::kChunkSize;
          chunkLineLeft_ = kMaxChunkLineBytes;
        }
        break;
      case State::kTrailers:
        // Trailer fields carry nothing this client uses, but count against the head's limit so
        // that a server cannot send them forever.
        if (TakeLine(bytes, pos, headLeft_, kResponseTooLarge)) {
          if (line_.empty()) {
            Finish();
          } else {
            CheckFieldLine();
          }
          line_.clear();
        }
        break;
      case State::kFixedBody: {
        const std::size_t n = std::min(remaining_, bytes.size() - pos);
        AppendBody(bytes.substr(pos, n));
        pos += n;
        remaining_ -= n;
        if (remaining_ == 0) Finish();
        break;
      }
      case State::kBodyUntilClose:
        AppendBody(bytes.substr(pos));
        pos = bytes.size();
        break;
      case State::kDone:
        break;
    }
  }
  return pos;
}

void ResponseReader::FeedClose() {
  switch (state_) {
    case State::kStatusLine:
    case State::kInterimHeaders:
    case State::kHeaders:
      throw KorError(kConnectionClosedGracefully);
    case State::kDone:
      break;
    default:
      // A body cut short by the server ends where it stopped.
      state_ = State::kDone;
      break;
  }
  response_.keepAlive = false;
}

void ResponseReader::OnStatusLine() {
  // Blank lines before a status line are tolerated, as many servers send one after a body.
  if (line_.empty()) return;
  std::string_view line = line_;
  if (line.substr(0, 5) != "HTTP/") Invalid();
  line.remove_prefix(5);
  const auto dot = line.find('.');
  const auto space = line.find(' ');
  std::size_t major = 0;
  std::size_t minor = 0;
  if (dot == std::string_view::npos || space == std::string_view::npos || dot > space ||
      !ParseDecimal(line.substr(0, dot), major) || !ParseDecimal(line.substr(dot + 1, space - dot - 1), minor) ||
      major > 9 || minor > 9) {
    Invalid();
  }
  line.remove_prefix(space);
  while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
  std::size_t status = 0;
  if (line.size() < 3 || !ParseDecimal(line.substr(0, 3), status) || status < 100 ||
      (line.size() > 3 && line[3] != ' ')) {
    Invalid();
  }

  response_.statusLine = line_;
  response_.status = static_cast<int>(status);
  response_.versionMajor = static_cast<int>(major);
  response_.versionMinor = static_cast<int>(minor);
  response_.headers.clear();
  if (status == 101) {
    // Switching protocols ends the request: the connection now speaks something else.
    response_.keepAlive = false;
    state_ = State::kDone;
  } else if (status < 200) {
    state_ = State::kInterimHeaders;
  } else {
    state_ = State::kHeaders;
  }
}

bool ResponseReader::CheckFieldLine() const {
  // An obsolete folded continuation line.
  if (line_.front() == ' ' || line_.front() == '\t') return false;
  // The name is a token directly followed by the colon: "Transfer-Encoding : chunked" is not the
  // field some other parser on the way may take it for, and a line without a name is no field.
  const auto colon = line_.find(':');
  if (colon == std::string::npos || colon == 0) Invalid();
  for (std::size_t i = 0; i < colon; ++i) {
    if (!IsTokenChar(line_[i])) Invalid();
  }
  return true;
}

void ResponseReader::OnHeaderLine() {
  if (!CheckFieldLine()) {
    if (!response_.headers.empty()) {
      std::string& value = response_.headers.back().value;
      const std::string_view more = Trim(line_);
      if (!more.empty()) value.append(value.empty() ? "" : " ").append(more);
    }
    return;
  }
  const auto colon = line_.find(':');
  response_.headers.push_back(
      {line_.substr(0, colon), std::string(Trim(std::string_view(line_).substr(colon + 1)))});
}

void ResponseReader::OnHeadEnd() {
  const std::string* connection = response_.Header("Connection");
  const bool http10 = response_.versionMajor == 1 && response_.versionMinor == 0;
  if (response_.versionMajor == 0 || http10) {
    response_.keepAlive = connection && HasToken(*connection, "keep-alive");
  } else {
    response_.keepAlive = !(connection && HasToken(*connection, "close"));
  }

  if (response_.status == 204 || response_.status == 304) {
    Finish();  // these never carry a body, whatever the headers say
    return;
  }
  if (const std::vector<std::string> codings = response_.Values("Transfer-Encoding"); !codings.empty()) {
    // Several fields form one list, in order; only a last coding "chunked" frames the body.
    std::string joined;
    for (const std::string& coding : codings) joined.append(joined.empty() ? "" : ",").append(coding);
    // Transfer-Encoding beside Content-Length, or in an HTTP/1.0 answer, may be framed
    // differently by something on the way: the connection is not used again.
    if (http10 || response_.Header("Content-Length")) response_.keepAlive = false;
    if (EqualsNoCase(LastCoding(joined), "chunked")) {
      state_ = State::kChunkSize;
      chunkLineLeft_ = kMaxChunkLineBytes;
    } else {
      state_ = State::kBodyUntilClose;
      response_.keepAlive = false;
    }
    return;
  }
  const std::vector<std::string> lengths = response_.Values("Content-Length");
  if (!lengths.empty()) {
    std::size_t length = 0;
    bool first = true;
    for (const std::string& value : lengths) {
      // A list of equal values ("5, 5") is one length; differing ones leave the framing unknown.
      std::string_view rest = value;
      while (true) {
        const auto comma = rest.find(',');
        std::size_t one = 0;
        if (!ParseDecimal(Trim(rest.substr(0, comma)), one) || (!first && one != length)) Invalid();
        length = one;
        first = false;
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
      }
    }
    if (length > kMaxBodyBytes) throw KorError(kResponseTooLarge);
    remaining_ = length;
    if (length == 0) {
      Finish();
    } else {
      state_ = State::kFixedBody;
    }
    return;
  }
  state_ = State::kBodyUntilClose;
  response_.keepAlive = false;
}

void ResponseReader::OnChunkSize() {
  std::string_view size = Trim(std::string_view(line_).substr(0, line_.find(';')));
  if (size.empty()) Invalid();
  // Leading zeros add nothing; more than eight digits after them overflow 32 bits.
  while (size.size() > 1 && size.front() == '0') size.remove_prefix(1);
  if (size.size() > 8) Invalid();
  std::size_t value = 0;
  for (char c : size) {
    const char lower = LowerAscii(c);
    std::size_t digit = 0;
    if (IsDigit(lower)) {
      digit = static_cast<std::size_t>(lower - '0');
    } else if (lower >= 'a' && lower <= 'f') {
      digit = static_cast<std::size_t>(lower - 'a' + 10);
    } else {
      Invalid();
    }
    value = value * 16 + digit;
  }
  if (value == 0) {
    state_ = State::kTrailers;
    return;
  }
  if (value > kMaxBodyBytes - response_.body.size()) throw KorError(kResponseTooLarge);
  remaining_ = value;
  state_ = State::kChunkData;
}

void ResponseReader::AppendBody(std::string_view bytes) {
  if (bytes.size() > kMaxBodyBytes - response_.body.size()) throw KorError(kResponseTooLarge);
  response_.body.append(bytes);
}

void ResponseReader::Finish() { state_ = State::kDone; }

}  // namespace korvex

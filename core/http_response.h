#pragma once
// Reads one HTTP/1.x answer from the bytes it is fed, with no socket of its own, so that it can be
// driven byte by byte by tests and the fuzzer.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/text.h"

namespace korvex {

// A LocalSystem service must not let a server fill its memory.
inline constexpr std::size_t kMaxBodyBytes = 1024 * 1024;
// Every byte of the head (blank lines before the status line, interim answers, status line,
// header lines, line ends included) and of the trailers, counted together; the same protection
// for the head.
inline constexpr std::size_t kMaxHeadBytes = 64 * 1024;

inline constexpr char16_t kResponseTooLarge[] = u"Die Antwort des Servers ist zu groß.";
inline constexpr char16_t kConnectionClosedGracefully[] = u"Die Verbindung wurde erfolgreich geschlossen.";
inline constexpr char16_t kInvalidResponse[] = u"Die Antwort des Servers ist ungültig.";

struct HttpHeader {
  std::string name;
  std::string value;  // without surrounding blanks
};

struct HttpResponse {
  std::string statusLine;  // exactly as received, without its line end
  int status = 0;
  int versionMajor = 0;
  int versionMinor = 0;
  std::vector<HttpHeader> headers;  // of the final answer; interim answers are dropped
  std::string body;
  // True when the connection may carry the next request: the server did not ask to close it,
  // the body was framed by length or chunks, the framing was not suspect (Transfer-Encoding
  // beside Content-Length, or in an HTTP/1.0 answer), and it did not close early.
  bool keepAlive = false;

  // The first value of a header, compared case-insensitively; nullptr when absent.
  const std::string* Header(std::string_view name) const;
  std::vector<std::string> Values(std::string_view name) const;
};

class ResponseReader {
 public:
  // Takes the next received bytes and returns how many of them belong to this answer; the rest
  // arrived after its end. Throws KorError (kInvalidResponse, kResponseTooLarge).
  std::size_t Feed(std::string_view bytes);
  // The peer closed the connection. Ends a body read until close, or cut short, without failure;
  // throws KorError(kConnectionClosedGracefully) when the head had not arrived yet.
  void FeedClose();

  bool Done() const { return state_ == State::kDone; }
  const HttpResponse& Response() const { return response_; }
  HttpResponse& Response() { return response_; }

 private:
  enum class State {
    kStatusLine, kInterimHeaders, kHeaders,
    kChunkSize, kChunkData, kChunkDataEnd, kTrailers,
    kFixedBody, kBodyUntilClose, kDone,
  };

  // Collects one line from `bytes` starting at `pos`; true with `line_` complete (line end
  // removed), false when more bytes are needed. Every byte taken, its LF included, comes off
  // `budget`; a line that would overdraw it throws `overdrawn`. A bare CR or another control
  // character than HTAB in the line makes the answer invalid.
  bool TakeLine(std::string_view bytes, std::size_t& pos, std::size_t& budget, const char16_t* overdrawn);
  void OnStatusLine();
  // A field line of the head or the trailers; false for a folded continuation line.
  bool CheckFieldLine() const;
  void OnHeaderLine();
  void OnHeadEnd();
  void OnChunkSize();
  void AppendBody(std::string_view bytes);
  void Finish();

  State state_ = State::kStatusLine;
  std::string line_;
  std::size_t headLeft_ = kMaxHeadBytes;  // shared by the head and the trailers
  std::size_t chunkLineLeft_ = 0;
  std::size_t remaining_ = 0;
  HttpResponse response_;
};

}  // namespace korvex

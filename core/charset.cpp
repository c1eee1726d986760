#include "core/charset.h"

#include <algorithm>

#include "core/ascii.h"

namespace korvex {
namespace {

bool IsSpace(char c) { return kMarkupSpace.find(c) != std::string_view::npos; }

std::string_view Trim(std::string_view s) { return korvex::Trim(s, kMarkupSpace); }

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

std::string_view Unquote(std::string_view s) {
  s = Trim(s);
  if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front()) {
    s = s.substr(1, s.size() - 2);
  }
  return Trim(s);
}

struct MediaType {
  std::string type;     // "text/html", lower case
  std::string charset;  // as written
};

MediaType ParseContentType(std::string_view value) {
  MediaType out;
  const auto semicolon = value.find(';');
  out.type = LowerAscii(Trim(value.substr(0, semicolon)));
  std::string_view params = semicolon == std::string_view::npos ? "" : value.substr(semicolon + 1);
  while (!params.empty()) {
    const auto next = params.find(';');
    const std::string_view param = params.substr(0, next);
    params = next == std::string_view::npos ? "" : params.substr(next + 1);
    const auto eq = param.find('=');
    if (eq != std::string_view::npos && LowerAscii(Trim(param.substr(0, eq))) == "charset") {
      out.charset = std::string(Unquote(param.substr(eq + 1)));
      break;
    }
  }
  return out;
}

// The value of the "charset=" inside a meta element's content attribute.
std::string CharsetFromContent(std::string_view content) {
  const std::string lower = LowerAscii(content);
  const auto at = lower.find("charset");
  if (at == std::string::npos) return {};
  std::string_view rest = Trim(content.substr(at + 7));
  if (rest.empty() || rest.front() != '=') return {};
  rest = Trim(rest.substr(1));
  if (!rest.empty() && (rest.front() == '"' || rest.front() == '\'')) {
    const auto close = rest.find(rest.front(), 1);
    return close == std::string_view::npos ? std::string() : std::string(rest.substr(1, close - 1));
  }
  const auto end = std::find_if(rest.begin(), rest.end(), [](char c) { return IsSpace(c) || c == ';'; });
  return std::string(rest.substr(0, static_cast<std::size_t>(end - rest.begin())));
}

// The first <meta charset="..."> or <meta http-equiv="Content-Type" content="...; charset=...">.
std::string MetaCharset(std::string_view body) {
  const std::string lower = LowerAscii(body);
  std::size_t pos = 0;
  while ((pos = lower.find("<meta", pos)) != std::string::npos) {
    pos += 5;
    if (pos < lower.size() && !IsSpace(lower[pos]) && lower[pos] != '/') continue;
    std::string charset;
    std::string content;
    bool contentTypePragma = false;
    // Attributes up to the end of the tag.
    while (pos < lower.size() && lower[pos] != '>') {
      while (pos < lower.size() && (IsSpace(lower[pos]) || lower[pos] == '/')) ++pos;
      const std::size_t nameStart = pos;
      while (pos < lower.size() && !IsSpace(lower[pos]) && lower[pos] != '=' && lower[pos] != '>' &&
             lower[pos] != '/') {
        ++pos;
      }
      const std::string name = lower.substr(nameStart, pos - nameStart);
      while (pos < lower.size() && IsSpace(lower[pos])) ++pos;
      std::string_view value;
      if (pos < lower.size() && lower[pos] == '=') {
        ++pos;
        while (pos < lower.size() && IsSpace(lower[pos])) ++pos;
        if (pos < lower.size() && (lower[pos] == '"' || lower[pos] == '\'')) {
          const auto close = lower.find(lower[pos], pos + 1);
          if (close == std::string::npos) return {};
          value = body.substr(pos + 1, close - pos - 1);
          pos = close + 1;
        } else {
          const std::size_t start = pos;
          while (pos < lower.size() && !IsSpace(lower[pos]) && lower[pos] != '>') ++pos;
          value = body.substr(start, pos - start);
        }
      }
      if (name.empty()) {
        if (pos < lower.size() && lower[pos] != '>') ++pos;
        continue;
      }
      if (name == "charset" && charset.empty()) charset = std::string(Trim(value));
      if (name == "content" && content.empty()) content = std::string(value);
      if (name == "http-equiv" && LowerAscii(Trim(value)) == "content-type") contentTypePragma = true;
    }
    if (!charset.empty()) return charset;
    if (contentTypePragma) {
      if (std::string fromContent = CharsetFromContent(content); !fromContent.empty()) return fromContent;
    }
  }
  return {};
}

// The encoding of an XML declaration at the very start (after a UTF-8 byte-order mark).
std::string XmlDeclarationEncoding(std::string_view body) {
  if (body.substr(0, 3) == "\xEF\xBB\xBF") body.remove_prefix(3);
  if (body.substr(0, 5) != "<?xml" || body.size() < 6 || !IsSpace(body[5])) return {};
  const std::string_view declaration = body.substr(0, body.find("?>"));
  const auto at = declaration.find("encoding");
  if (at == std::string_view::npos) return {};
  std::string_view rest = Trim(declaration.substr(at + 8));
  if (rest.empty() || rest.front() != '=') return {};
  rest = Trim(rest.substr(1));
  if (rest.empty() || (rest.front() != '"' && rest.front() != '\'')) return {};
  const auto close = rest.find(rest.front(), 1);
  return close == std::string_view::npos ? std::string() : std::string(rest.substr(1, close - 1));
}

std::string ByteOrderMarkCharset(std::string_view body) {
  if (body.substr(0, 3) == "\xEF\xBB\xBF") return "UTF-8";
  if (body.substr(0, 2) == "\xFF\xFE") return "UTF-16LE";
  if (body.substr(0, 2) == "\xFE\xFF") return "UTF-16BE";
  return {};
}

bool IsXmlSubtype(std::string_view subtype) {
  return subtype == "xml" || subtype == "xml-external-parsed-entity" || EndsWith(subtype, "+xml");
}

}  // namespace

std::string ChooseCharset(std::string_view contentType, std::string_view body) {
  const MediaType media = ParseContentType(contentType);
  const auto slash = media.type.find('/');
  const std::string_view topType = std::string_view(media.type).substr(0, slash);
  const std::string_view subtype =
      slash == std::string::npos ? std::string_view() : std::string_view(media.type).substr(slash + 1);

  if (media.type == "text/html" || media.type == "text/html-sandboxed" || media.type == "application/xhtml+xml") {
    if (std::string meta = MetaCharset(body); !meta.empty()) return meta;
  }
  if (topType != "text" && (IsXmlSubtype(subtype) || media.type == "application/xml-dtd")) {
    if (std::string declared = XmlDeclarationEncoding(body); !declared.empty()) return declared;
    if (std::string marked = ByteOrderMarkCharset(body); !marked.empty()) return marked;
    return "UTF-8";
  }
  if (!media.charset.empty()) return media.charset;
  if (topType == "text") return IsXmlSubtype(subtype) ? "us-ascii" : "ISO-8859-1";
  return {};
}

bool IsCharsetName(std::string_view name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                    c == '_' || c == '.' || c == ':' || c == '+';
    if (!ok) return false;
  }
  return true;
}

Text BytesAsCharacters(std::string_view bytes) {
  Text out;
  out.reserve(bytes.size());
  for (char byte : bytes) out += static_cast<char16_t>(static_cast<unsigned char>(byte));
  return out;
}

Text DecodeBody(std::string_view body, std::string_view contentType) {
  const std::string charset = ChooseCharset(contentType, body);
  if (!charset.empty()) {
    if (std::optional<Text> text = DecodeCharset(body, charset)) return *std::move(text);
  }
  return BytesAsCharacters(body);
}

}  // namespace korvex

#include "report/mailto.h"

namespace tessaly::report {
namespace {

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

// Line breaks as CR LF, whatever they were.
std::string WithCrLf(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') continue;
    if (text[i] == '\n') out += '\r';
    out += text[i];
  }
  return out;
}

std::size_t EncodedLength(unsigned char c) { return IsUnreserved(c) ? 1 : 3; }

}  // namespace

std::string PercentEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (unsigned char c : text) {
    if (IsUnreserved(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

std::string MailtoUrl(const std::string& address, const std::string& subject,
                      const std::string& body, std::size_t max_length) {
  std::string to = PercentEncode(address);
  for (std::size_t at = to.find("%40"); at != std::string::npos; at = to.find("%40", at + 1))
    to.replace(at, 3, "@");  // the address's own "@" stays as it is
  const std::string prefix = "mailto:" + to + "?subject=" + PercentEncode(subject) + "&body=";
  const std::string text = WithCrLf(body);
  std::string encoded = PercentEncode(text);
  if (prefix.size() + encoded.size() <= max_length) return prefix + encoded;

  const std::string note = PercentEncode(WithCrLf(kBodyCutNote));
  const std::size_t budget =
      max_length > prefix.size() + note.size() ? max_length - prefix.size() - note.size() : 0;
  std::size_t cut = 0;
  for (std::size_t used = 0; cut < text.size(); ++cut) {
    used += EncodedLength(static_cast<unsigned char>(text[cut]));
    if (used > budget) break;
  }
  // Never end inside a UTF-8 sequence or between CR and LF.
  while (cut > 0 && cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
    --cut;
  if (cut > 0 && cut < text.size() && text[cut - 1] == '\r' && text[cut] == '\n') --cut;
  return prefix + PercentEncode(text.substr(0, cut)) + note;
}

}  // namespace tessaly::report

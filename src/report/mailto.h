// The mailto: URL that hands a bug report to the user's mail program.
#pragma once

#include <cstddef>
#include <string>

namespace tessaly::report {

inline constexpr std::size_t kMailtoMaxLength = 32000;
inline constexpr char kBodyCutNote[] =
    "\n[the report is cut here; \"show bug report\" shows it whole]";

// mailto:ADDRESS?subject=...&body=... with every byte outside the unreserved
// set percent-encoded (RFC 6068), so spaces, line breaks and "&" survive;
// line breaks in the body become CR LF, as mail wants them.
// The body is cut so the whole URL stays within `max_length` characters
// (command lines and mail programs limit it); a cut body ends in a note.
std::string MailtoUrl(const std::string& address, const std::string& subject,
                      const std::string& body, std::size_t max_length = kMailtoMaxLength);

// The bytes of `text` in percent-encoding.
std::string PercentEncode(const std::string& text);

}  // namespace tessaly::report

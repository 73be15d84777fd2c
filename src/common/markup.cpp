// Escaping for the markup the component writes (markup.hpp).
#include "common/markup.hpp"

#include <cstdint>

#include "common/text.hpp"

namespace quorvane::markup {

void AppendXmlEscaped(std::string& out, std::string_view text, unsigned escapes) {
  out.reserve(out.size() + text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; continue;
      case '<': out += "&lt;"; continue;
      case '>': out += "&gt;"; continue;
      case '"':
        if (escapes & kQuote) {
          out += "&quot;";
          continue;
        }
        break;
      case '\'':
        if (escapes & kApostrophe) {
          out += "&#39;";
          continue;
        }
        break;
      case '\r':
        if (escapes & kReturn) {
          out += "&#13;";
          continue;
        }
        break;
      case '\t':
      case '\n':
        if (escapes & kTabAndLineFeed) {
          out += c == '\t' ? "&#9;" : "&#10;";
          continue;
        }
        break;
      default:
        if ((escapes & kNoControls) && static_cast<unsigned char>(c) < 0x20) continue;
    }
    out += c;
  }
}

std::string XmlEscaped(std::string_view text, unsigned escapes) {
  std::string out;
  AppendXmlEscaped(out, text, escapes);
  return out;
}

void AppendXmlEscaped(std::string& out, std::u16string_view text, unsigned escapes) {
  AppendXmlEscaped(out, std::string_view(text::ToValidUtf8(text)), escapes);
}

std::string XmlEscaped(std::u16string_view text, unsigned escapes) {
  std::string out;
  AppendXmlEscaped(out, text, escapes);
  return out;
}

void AppendRtfEscaped(std::string& out, std::u16string_view text, RtfControls controls) {
  const bool lines = controls == RtfControls::kAsLineBreaks;
  for (const char16_t c : text) {
    if (c == u'\\' || c == u'{' || c == u'}') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == u'\t') {
      out += "\\tab ";
    } else if (lines && (c == u'\v' || c == u'\r' || c == u'\n')) {
      out += "\\line ";
    } else if (lines && c < 0x20) {
      // no other control character has a meaning in the text
    } else if (c >= 0x20 && (c < 0x7F || (lines && c == 0x7F))) {
      out += static_cast<char>(c);
    } else {
      out += "\\u" + std::to_string(static_cast<std::int16_t>(c)) + '?';
    }
  }
}

std::string RtfEscaped(std::u16string_view text, RtfControls controls) {
  std::string out;
  out.reserve(text.size());
  AppendRtfEscaped(out, text, controls);
  return out;
}

}  // namespace quorvane::markup

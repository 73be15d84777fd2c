#pragma once
// Text inside the markup the component writes: XML and HTML character data and attribute values,
// and RTF. Every writer escapes through here; what differs between formats is a parameter.
#include <string>
#include <string_view>

namespace quorvane::markup {

// --- XML and HTML --------------------------------------------------------------------------------

// What is escaped besides & < > (always as &amp; &lt; &gt;). The flags combine.
enum XmlEscape : unsigned {
  kQuote = 1u << 0,           // " as &quot;
  kApostrophe = 1u << 1,      // ' as &#39;
  kReturn = 1u << 2,          // CR as &#13; (a parser would turn a raw one into LF)
  kTabAndLineFeed = 1u << 3,  // TAB as &#9;, LF as &#10; (in an attribute value a parser makes them spaces)
  kNoControls = 1u << 4,      // the other C0 controls, which XML 1.0 cannot carry, left out
};
// XML character data.
inline constexpr unsigned kXmlText = kReturn;
// An XML attribute value in double quotes: white space other than the space kept by reference.
inline constexpr unsigned kXmlAttribute = kQuote | kReturn | kTabAndLineFeed | kNoControls;
// HTML text and attribute values (either quote).
inline constexpr unsigned kHtml = kQuote | kApostrophe;

// `text` (UTF-8) with the markup characters escaped as `escapes` says; every other byte is kept.
void AppendXmlEscaped(std::string& out, std::string_view text, unsigned escapes);
std::string XmlEscaped(std::string_view text, unsigned escapes);
// UTF-16 text, made valid UTF-8 on the way (text::ToValidUtf8: unpaired surrogates become U+FFFD).
void AppendXmlEscaped(std::string& out, std::u16string_view text, unsigned escapes);
std::string XmlEscaped(std::u16string_view text, unsigned escapes);

// Whether code point `c` is one XML 1.0 can carry.
constexpr bool IsXmlCharacter(char32_t c) {
  return (c >= 0x20 || c == 0x09 || c == 0x0A || c == 0x0D) && !(c >= 0xD800 && c <= 0xDFFF) && c != 0xFFFE &&
         c != 0xFFFF && c <= 0x10FFFF;
}

// --- RTF -------------------------------------------------------------------------------------------

// What becomes of the control characters (and DEL) in RTF text; TAB is "\tab " in both.
enum class RtfControls {
  kAsUnicode,     // written as \uN like every character outside printable ASCII, DEL included
  kAsLineBreaks,  // VT, CR and LF as "\line ", the other C0 controls left out, DEL kept as it is
};

// `text` as RTF: \ { } escaped, TAB as "\tab ", characters above ASCII as \uN followed by "?" for
// readers without Unicode (the document says \uc1), N the signed 16-bit UTF-16 unit.
void AppendRtfEscaped(std::string& out, std::u16string_view text, RtfControls controls);
std::string RtfEscaped(std::u16string_view text, RtfControls controls);

}  // namespace quorvane::markup

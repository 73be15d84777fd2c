// The XML layer: text of text bodies, markup-compatibility branches seen through Children(),
// canonical prefixes, refused documents, encodings, InsertBefore and serialisation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engines/pptx/package.hpp"
#include "engines/pptx/xml.hpp"
#include "support/fixtures.hpp"

namespace quorvane::engines::pptx::xml {
namespace {

const std::string kPml = "http://schemas.openxmlformats.org/presentationml/2006/main";
const std::string kDml = "http://schemas.openxmlformats.org/drawingml/2006/main";
const std::string kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const std::string kMc = "http://schemas.openxmlformats.org/markup-compatibility/2006";
const std::string kP14 = "http://schemas.microsoft.com/office/powerpoint/2010/main";
const std::string kA14 = "http://schemas.microsoft.com/office/drawing/2010/main";
const std::string kVml = "urn:schemas-microsoft-com:vml";
const std::string kStrictPml = "http://purl.oclc.org/ooxml/presentationml/main";
const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";

std::string Ns(const std::string& prefix, const std::string& uri) {
  return " xmlns" + (prefix.empty() ? std::string() : ":" + prefix) + "=\"" + uri + "\"";
}
const std::string kAllNs = Ns("p", kPml) + Ns("a", kDml) + Ns("r", kRel) + Ns("mc", kMc) + Ns("a14", kA14) +
                           Ns("p14", kP14) + Ns("m", "http://schemas.openxmlformats.org/officeDocument/2006/math") +
                           Ns("v", kVml);

// A p:txBody holding `inner`, with every namespace the rows use declared.
std::string Body(const std::string& inner) { return "<p:txBody" + kAllNs + "><a:bodyPr/>" + inner + "</p:txBody>"; }
std::string Alt(const std::string& branches) { return "<mc:AlternateContent>" + branches + "</mc:AlternateContent>"; }
std::string Choice(const std::string& required, const std::string& inner) {
  return "<mc:Choice Requires=\"" + required + "\">" + inner + "</mc:Choice>";
}
std::string Show(std::u16string_view text) { return ::testing::PrintToString(text::ToUtf8(text)); }

// The serialised document without its declaration.
std::string Xml(const Document& document) {
  const std::string all = document.Serialize();
  EXPECT_EQ(all.substr(0, kDeclaration.size()), kDeclaration);
  return all.substr(kDeclaration.size());
}

TEST(PptxXml, PrefixesAreNormalisedToCanonicalOnes) {
  const std::string p = Ns("p", kPml), a = Ns("a", kDml), r = Ns("r", kRel), mc = Ns("mc", kMc), p14 = Ns("p14", kP14);
  const struct { const char* name; std::string input, expected;
  } rows[] = {
      {"odd prefixes on elements and attributes, strict namespaces",
       "<pres:sld" + Ns("pres", kStrictPml) + Ns("draw", "http://purl.oclc.org/ooxml/drawingml/main") +
           Ns("rel", "http://purl.oclc.org/ooxml/officeDocument/relationships") +
           "><draw:blip rel:embed=\"rId2\" draw:x=\"1\" y=\"2\"/></pres:sld>",
       "<p:sld" + p + a + r + "><a:blip r:embed=\"rId2\" a:x=\"1\" y=\"2\"/></p:sld>"},
      {"swapped prefixes", "<a:sld" + Ns("a", kPml) + Ns("p", kDml) + "><p:t/></a:sld>",
       "<p:sld" + p + a + "><a:t/></p:sld>"},
      {"a declaration's scope ends with its element",
       "<p:sld" + p + "><d:p" + Ns("d", kDml) + "><d:r/></d:p><d:q/></p:sld>",
       "<p:sld" + p + "><a:p" + a + "><a:r/></a:p><d:q/></p:sld>"},
      {"two spellings of one namespace on one element",
       "<p:sld" + p + Ns("q", kPml) + Ns("ps", kStrictPml) + "><q:x/><ps:y/></p:sld>",
       "<p:sld" + p + "><p:x/><p:y/></p:sld>"},
      {"inner empty and unknown default namespaces",
       "<sld" + Ns("", kPml) + "><x xmlns=\"\"><y/></x><z xmlns=\"urn:x\"/></sld>",
       "<p:sld" + p + "><x xmlns=\"\"><y/></x><z xmlns=\"urn:x\"/></p:sld>"},
      {"unknown namespace on a canonical prefix is renamed away",
       "<p:sld" + p + "><a:foo" + Ns("a", "urn:other") + " a:k=\"v\"><a:bar/></a:foo></p:sld>",
       "<p:sld" + p + "><a_1:foo" + Ns("a_1", "urn:other") + " a_1:k=\"v\"><a_1:bar/></a_1:foo></p:sld>"},
      {"the renamed prefix avoids prefixes in use",
       "<x" + Ns("p", "urn:other") + Ns("p_1", "urn:third") + Ns("pp", kPml) + "><p:a/><p_1:b/><pp:c/></x>",
       "<x" + Ns("p_2", "urn:other") + Ns("p_1", "urn:third") + p + "><p_2:a/><p_1:b/><p:c/></x>"},
      {"mc:Ignorable and friends name the new prefixes",
       "<x:sld" + Ns("x", kPml) + Ns("compat", kMc) + Ns("ext", kP14) + Ns("vm", kVml) +
           " compat:Ignorable=\"ext  vm\" compat:MustUnderstand=\"ext\" compat:ProcessContent=\"ext:foo vm:*\""
           " compat:PreserveElements=\"ext:a\" compat:PreserveAttributes=\"undeclared:b\"><ext:foo/></x:sld>",
       "<p:sld" + p + mc + p14 + Ns("v", kVml) +
           " mc:Ignorable=\"p14  v\" mc:MustUnderstand=\"p14\" mc:ProcessContent=\"p14:foo v:*\""
           " mc:PreserveElements=\"p14:a\" mc:PreserveAttributes=\"undeclared:b\"><p14:foo/></p:sld>"},
      {"mc:Choice Requires names the new prefixes",
       "<p:spTree" + p + Ns("compat", kMc) + Ns("ext", kP14) +
           "><compat:AlternateContent><compat:Choice Requires=\"ext\"/></compat:AlternateContent></p:spTree>",
       "<p:spTree" + p + mc + p14 +
           "><mc:AlternateContent><mc:Choice Requires=\"p14\"/></mc:AlternateContent></p:spTree>"},
      {"Requires elsewhere is left alone; prefix lists resolve in the element's own scope",
       "<p:sld" + p + Ns("e", kA14) + " Requires=\"e\"><x" + Ns("mc", kMc) + Ns("e", kP14) +
           " mc:Ignorable=\"e\"/></p:sld>",
       "<p:sld" + p + Ns("a14", kA14) + " Requires=\"e\"><x" + mc + p14 + " mc:Ignorable=\"p14\"/></p:sld>"},
  };
  for (const auto& row : rows) {
    const auto document = Document::Parse(row.input, "/s.xml");
    EXPECT_EQ(Xml(*document), row.expected) << row.name;
    EXPECT_EQ(Xml(*Document::Parse(document->Serialize(), "/again.xml")), row.expected) << row.name << " (again)";
  }
  EXPECT_EQ(std::string(Document::FromTrusted("<sld" + Ns("", kPml) + "/>", "/t.xml")->root().name()), "p:sld");
}

TEST(PptxXml, RefusedDocumentsNameThePartAndTheCause) {
  const auto nested = [](int depth) {
    std::string open, close;
    for (int i = 0; i < depth; ++i) open += "<e>", close += "</e>";
    return open + close;
  };
  const struct { const char* name; std::string input, cause; Limits limits = {}; } rows[] = {
      {"DOCTYPE with an external entity after a declaration",
       "<?xml version=\"1.0\"?>\n<!DOCTYPE x [<!ENTITY xxe SYSTEM \"file:///etc/passwd\">]><x>&xxe;</x>", "DOCTYPE"},
      {"DOCTYPE inside an element", "<x><!DOCTYPE y><y/></x>", "not well-formed"},
      {"mismatched end tag", "<a><b></a>", "not well-formed"},
      {"empty input", "", "no root element"},
      {"only an XML declaration", "<?xml version=\"1.0\"?>", "no root element"},
      {"text only", "hello", "text outside the root element"},
      {"two root elements", "<a/><b/>", "more than one root element"},
      {"257 nested elements", nested(257), "deeper than the limit of 256"},
      {"a deep second branch", "<e><e><e/></e><e><e><e/></e></e></e>", "deeper", Limits{.maxXmlDepth = 3}},
  };
  for (const auto& row : rows) {
    std::string description;
    EXPECT_EQ(testing::ThrownNumber([&] { Document::Parse(row.input, "/ppt/slides/slide9.xml", row.limits); },
                                    &description),
              failure::kWin32InvalidData)
        << row.name;
    EXPECT_NE(description.find("/ppt/slides/slide9.xml"), std::string::npos) << row.name << ": " << description;
    EXPECT_NE(description.find(row.cause), std::string::npos) << row.name << ": " << description;
  }
  EXPECT_NO_THROW(Document::Parse(nested(256), "/x.xml"));
  EXPECT_NO_THROW(Document::Parse("<e><e><e/></e><e><e/></e></e>", "/x.xml", Limits{.maxXmlDepth = 3}));
}

TEST(PptxXml, EncodingsAreReadAndWrittenAsUtf8) {
  const std::u16string xml = u"<?xml version=\"1.0\" standalone=\"yes\"?>\r\n<p:txBody" + text::FromUtf8(kAllNs) +
                             u"><a:p><a:r><a:t>\u00E9t\u00E9 \U0001D465 </a:t></a:r></a:p></p:txBody>";
  const auto utf16 = [&](bool big) {
    std::string bytes = big ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t c : xml)
      bytes += big ? std::string{char(c >> 8), char(c & 0xFF)} : std::string{char(c & 0xFF), char(c >> 8)};
    return bytes;
  };
  const std::pair<const char*, std::string> rows[] = {{"UTF-8", text::ToUtf8(xml)},
                                                      {"UTF-8 with BOM", "\xEF\xBB\xBF" + text::ToUtf8(xml)},
                                                      {"UTF-16LE", utf16(false)},
                                                      {"UTF-16BE", utf16(true)}};
  for (const auto& [name, bytes] : rows) {
    const auto document = Document::Parse(bytes, "/x.xml");
    EXPECT_EQ(TextOfBody(document->root()), u"\u00E9t\u00E9 \U0001D465 ") << name;
    EXPECT_NE(Xml(*document).find("\xC3\xA9t\xC3\xA9 \xF0\x9D\x91\xA5 </a:t>"), std::string::npos) << name;
  }
  // Line ends written as character references come back as they were; comments and indentation go.
  const auto refs =
      Document::Parse("<?xml version=\"1.0\"?>\n" + Body("\n  <a:p><!-- c --><a:r><a:t>a&#13;b&#10;c&#13;&#10;d"
                                                         "</a:t></a:r></a:p>\n"),
                      "/x.xml");
  EXPECT_EQ(TextOfBody(refs->root()), u"a\rb\vc\r\vd");
  const auto again = Document::Parse(refs->Serialize(), "/x.xml");
  EXPECT_EQ(again->Serialize(), refs->Serialize());
  const std::string start = "<p:txBody" + kAllNs + "><a:bodyPr/><a:p><a:r><a:t>a";
  EXPECT_EQ(Xml(*again).substr(0, start.size()), start);
}

TEST(PptxXml, InsertBeforePutsTextInFrontWithTheFirstRunsFormatting) {
  const std::string pPr = "<a:pPr algn=\"ctr\"/>", rPr = "<a:rPr b=\"1\"/>";
  const std::string formatted = "<a:p>" + pPr + "<a:r>" + rPr + "<a:t>old</a:t></a:r></a:p>";
  const auto run = [&](const std::string& t) { return "<a:r>" + rPr + "<a:t>" + t + "</a:t></a:r>"; };
  const struct {
    const char* name;
    std::string body;
    std::u16string text, expectedText;
    std::string expectedBody;
  } rows[] = {
      {"body without paragraphs gets one", "<a:lstStyle/>", u"Hi", u"Hi",
       "<a:lstStyle/><a:p><a:r><a:t>Hi</a:t></a:r></a:p>"},
      {"empty paragraph takes the end-of-paragraph formatting, whole",
       "<a:p><a:endParaRPr sz=\"9\"><a:solidFill/></a:endParaRPr></a:p>", u"x", u"x",
       "<a:p><a:r><a:rPr sz=\"9\"><a:solidFill/></a:rPr><a:t>x</a:t></a:r><a:endParaRPr sz=\"9\"><a:solidFill/>"
       "</a:endParaRPr></a:p>"},
      {"joins the first run; XML-special characters", formatted, u"<&>\"' ", u"<&>\"' old",
       "<a:p>" + pPr + run("&lt;&amp;&gt;\"' old") + "</a:p>"},
      {"CR LF counts once and starts a paragraph with the first one's properties", formatted, u"A\r\nB", u"A\rBold",
       "<a:p>" + pPr + run("A") + "</a:p><a:p>" + pPr + run("Bold") + "</a:p>"},
      {"LF CR counts twice; the empty paragraph keeps the formatting", formatted, u"A\n\rB", u"A\r\rBold",
       "<a:p>" + pPr + run("A") + "</a:p><a:p>" + pPr + "<a:endParaRPr b=\"1\"/></a:p><a:p>" + pPr + run("Bold") +
           "</a:p>"},
      {"VT becomes a line break with the formatting", formatted, u"A\v", u"A\vold",
       "<a:p>" + pPr + run("A") + "<a:br>" + rPr + "</a:br>" + run("old") + "</a:p>"},
      {"characters XML cannot carry are dropped", formatted,
       std::u16string(u"A\u0000\u0001\uFFFE\uFFFF", 5) + u'\xD800' + u"\tB" + u'\xDC00' + u"\U0001D465",
       u"A\tB\U0001D465old", ""},
      {"run without formatting", "<a:p><a:r><a:t>old</a:t></a:r><a:endParaRPr sz=\"9\"/></a:p>", u"A\rB", u"A\rBold",
       "<a:p><a:r><a:t>A</a:t></a:r></a:p><a:p><a:r><a:t>Bold</a:t></a:r><a:endParaRPr sz=\"9\"/></a:p>"},
      {"first run is a field: a new run in front of it",
       "<a:p><a:fld type=\"slidenum\"><a:rPr sz=\"12\"/><a:t>#</a:t></a:fld></a:p>", u"P ", u"P #",
       "<a:p><a:r><a:rPr sz=\"12\"/><a:t>P </a:t></a:r><a:fld type=\"slidenum\"><a:rPr "
       "sz=\"12\"/><a:t>#</a:t></a:fld></a:p>"},
      {"later paragraphs untouched; first paragraph inside a chosen branch",
       Alt(Choice("a14", formatted)) + "<a:p><a:r><a:t>second</a:t></a:r></a:p>", u"A\rB", u"A\rBold\rsecond", ""},
      {"first run inside an equation's branch",
       "<a:p>" +
           Alt(Choice("a14", "<a14:m><m:r><m:t>x</m:t></m:r></a14:m>") +
               "<mc:Fallback><a:r><a:rPr sz=\"7\"/><a:t>x</a:t></a:r></mc:Fallback>") +
           "</a:p>",
       u"y=", u"y=x", ""},
  };
  for (const auto& row : rows) {
    const auto document = Document::Parse(Body(row.body), "/s.xml");
    InsertBefore(document->root(), row.text);
    EXPECT_EQ(TextOfBody(document->root()), row.expectedText)
        << row.name << ": got " << Show(TextOfBody(document->root()));
    if (!row.expectedBody.empty()) { EXPECT_EQ(Xml(*document), Body(row.expectedBody)) << row.name; }
    EXPECT_EQ(TextOfBody(Document::Parse(document->Serialize(), "/again.xml")->root()), row.expectedText)
        << row.name << " (read back)";
  }
  InsertBefore(Node(), u"nothing happens on an empty node");
}

}  // namespace
}  // namespace quorvane::engines::pptx::xml

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

// The children of a node as a reader sees them: "name/id", comma-separated.
std::string Names(const std::vector<Node>& nodes) {
  std::string out;
  for (const Node node : nodes)
    out += (out.empty() ? "" : ",") + std::string(node.name()) + (node.attribute("id") ? "/" : "") +
           node.attribute("id").value();
  return out;
}

TEST(PptxXml, TextOfBodyRules) {
  const std::string math = "<a14:m><m:oMathPara><m:oMath><m:r><m:t>x</m:t></m:r><m:rad><m:e><m:r><m:t>+1</m:t></m:r>"
                           "</m:e></m:rad></m:oMath></m:oMathPara></a14:m>";
  const std::string picture = "<mc:Fallback><a:r><a:t>[picture]</a:t></a:r></mc:Fallback>";
  const struct { const char* name; std::string body; std::u16string expected; std::int32_t slide = 0;
  } rows[] = {
      {"no paragraphs, or one empty", "<a:p><a:endParaRPr lang=\"en-US\"/></a:p>", u""},
      {"two empty paragraphs give one CR", "<a:p/><a:p/>", u"\r"},
      {"runs concatenate, paragraphs join by CR, a trailing empty one adds a CR",
       "<a:p><a:pPr/><a:r><a:rPr/><a:t>  A </a:t></a:r><a:r><a:t> </a:t></a:r></a:p><a:p><a:r><a:t>B\tC</a:t></a:r>"
       "<a:endParaRPr/></a:p><a:p/>",
       u"  A  \rB\tC\r"},
      {"line break is VT, CR LF in the file is one LF", "<a:p><a:r><a:t>A\r\nB</a:t></a:r><a:br><a:rPr/></a:br></a:p>",
       u"A\vB\v"},
      {"slide number field without a number shows its text",
       "<a:p><a:fld type=\"slidenum\"><a:t>‹#›</a:t></a:fld></a:p>", u"‹#›"},
      {"entities, character references, unknown entity, CDATA, astral",
       "<a:p><a:r><a:t>&lt;&amp;&gt;&quot;&apos;&#65;&#x263A;&xxe;<![CDATA[<y>]]>\xF0\x9D\x91\xA5</a:t></a:r></a:p>",
       u"<&>\"'A\u263A&xxe;<y>\U0001D465"},
      {"equation chosen from its AlternateContent", "<a:p>" + Alt(Choice("a14", math) + picture) + "</a:p>", u"x+1"},
      {"equation fallback when its Choice is not understood", "<a:p>" + Alt(Choice("v", math) + picture) + "</a:p>",
       u"[picture]"},
      {"runs and paragraphs inside a chosen branch",
       "<a:p><a:r><a:t>a</a:t></a:r>" + Alt(Choice("a14", "<a:r><a:t>b</a:t></a:r>")) + "</a:p>" +
           Alt(Choice("a14", "<a:p><a:r><a:t>c</a:t></a:r></a:p>")),
       u"ab\rc"},
      {"unknown elements carry no text",
       "<a:p><x:y xmlns:x=\"urn:x\"><a:t>hidden</a:t></x:y><a:r><a:t>z</a:t></a:r></a:p>", u"z"},
  };
  for (const auto& row : rows) {
    const std::u16string text = TextOfBody(Document::Parse(Body(row.body), "/s.xml")->root(), row.slide);
    EXPECT_EQ(text, row.expected) << row.name << ": got " << Show(text) << ", want " << Show(row.expected);
  }
  EXPECT_EQ(TextOfBody(Node()), u"") << "an empty node";
  const auto limited =
      Document::Parse(Body("<a:p><a:r><a:t>12345</a:t></a:r></a:p><a:p><a:r><a:t>6</a:t></a:r></a:p>"), "/s.xml");
  EXPECT_EQ(TextOfBody(limited->root(), 0, 7), u"12345\r6") << "exactly at the limit";
  for (const std::uint32_t limit : {6u, 5u, 0u}) {
    std::string description;
    EXPECT_EQ(testing::ThrownNumber([&] { TextOfBody(limited->root(), 0, limit); }, &description), failure::kEOutOfMemory) << "limit " << limit;
    EXPECT_NE(description.find(std::to_string(limit)), std::string::npos) << "limit " << limit << ": " << description;
  }
}

TEST(PptxXml, ChildrenSeeTheChosenBranchAndSavingKeepsEveryBranch) {
  const std::string fallback = "<mc:Fallback><p:sp id=\"f\"/></mc:Fallback>", c = "<p:sp id=\"c\"/>";
  std::string deep = "<p:sp id=\"deep\"/>";
  for (int i = 0; i < 100; ++i) deep = Alt(Choice("p14", deep));
  const struct { const char* name; std::string inner, expected; bool renamed = false;
  } rows[] = {
      {"no AlternateContent", "<p:sp id=\"1\"/>text<p:pic id=\"2\"/>", "p:sp/1,p:pic/2"},
      {"understood Choice with two prefixes", Alt(Choice("p14  a14", c) + fallback), "p:sp/c"},
      {"Choice requiring one understood and one not", Alt(Choice("p14 v", c) + fallback), "p:sp/f"},
      {"Choice requiring an undeclared prefix", Alt(Choice("zz", c) + fallback), "p:sp/f"},
      {"first understood Choice wins",
       Alt(Choice("v", "<p:sp id=\"1\"/>") + Choice("a14", "<p:sp id=\"2\"/>") + Choice("p14", "<p:sp id=\"3\"/>") +
           fallback),
       "p:sp/2"},
      {"Choice requiring any Office extension namespace",
       "<mc:AlternateContent xmlns:x99=\"http://schemas.microsoft.com/office/powerpoint/2099/main\">" +
           Choice("x99", c) + fallback + "</mc:AlternateContent>",
       "p:sp/c"},
      {"Choice requiring a strict namespace under another prefix",
       "<mc:AlternateContent xmlns:sp=\"" + kStrictPml + "\">" + Choice("sp", c) + fallback + "</mc:AlternateContent>",
       "p:sp/c", true},
      {"nothing understood and no Fallback", "<p:sp id=\"0\"/>" + Alt(Choice("v", c)) + "<p:sp id=\"9\"/>",
       "p:sp/0,p:sp/9"},
      {"empty Fallback", Alt(Choice("v", c) + "<mc:Fallback/>"), ""},
      {"several children keep their order",
       Alt(Choice("p14", "<p:sp id=\"1\"/><p:pic id=\"2\"/>")) + "<p:sp id=\"3\"/>", "p:sp/1,p:pic/2,p:sp/3"},
      {"nested in a Choice and in a Fallback",
       Alt(Choice("p14", Alt(Choice("v", c) + fallback) + "<p:sp id=\"c2\"/>")) +
           Alt(Choice("v", c) + "<mc:Fallback>" + Alt(Choice("a14", "<p:sp id=\"i\"/>")) + "</mc:Fallback>"),
       "p:sp/f,p:sp/c2,p:sp/i"},
      {"a hundred nested AlternateContents", deep, "p:sp/deep"},
  };
  for (const auto& row : rows) {
    const auto document = Document::Parse("<p:spTree" + kAllNs + ">" + row.inner + "</p:spTree>", "/s.xml");
    EXPECT_EQ(Names(Children(document->root())), row.expected) << row.name;
    if (!row.renamed) { EXPECT_EQ(Xml(*document), "<p:spTree" + kAllNs + ">" + row.inner + "</p:spTree>") << row.name; }
  }
  const auto document = Document::Parse(
      "<p:spTree" + kAllNs + "><p:sp id=\"1\"/>" +
          Alt(Choice("p14", "<p:sp id=\"2\"><p:nvSpPr><p:nvPr><p:ph type=\"body\"/></p:nvPr></p:nvSpPr></p:sp>") +
              "<mc:Fallback><p:pic id=\"f\"/></mc:Fallback>") + "<p:pic id=\"3\"/></p:spTree>", "/s.xml");
  const Node root = document->root();
  EXPECT_EQ(Names(ChildrenNamed(root, "p:sp")), "p:sp/1,p:sp/2");
  EXPECT_EQ(Attr(Child(root, "p:pic"), "id"), "3") << "the Fallback is not seen";
  EXPECT_EQ(Attr(Path(ChildrenNamed(root, "p:sp")[1], "p:nvSpPr/p:nvPr/p:ph"), "type"), "body");
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

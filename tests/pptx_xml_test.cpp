// The XML layer: text of text bodies, markup-compatibility branches seen through Children(),
// canonical prefixes, refused documents, encodings, InsertBefore and serialisation. Documents are
// compact strings built here; a few real parts from the corpus check round trips.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "common/text.hpp"
#include "engines/pptx/package.hpp"
#include "engines/pptx/xml.hpp"
#include "quorvane/automation_error.hpp"

namespace quorvane::engines::pptx::xml {
namespace {

namespace fs = std::filesystem;

const std::string kPml = "http://schemas.openxmlformats.org/presentationml/2006/main";
const std::string kDml = "http://schemas.openxmlformats.org/drawingml/2006/main";
const std::string kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const std::string kMc = "http://schemas.openxmlformats.org/markup-compatibility/2006";
const std::string kMath = "http://schemas.openxmlformats.org/officeDocument/2006/math";
const std::string kP14 = "http://schemas.microsoft.com/office/powerpoint/2010/main";
const std::string kA14 = "http://schemas.microsoft.com/office/drawing/2010/main";
const std::string kVml = "urn:schemas-microsoft-com:vml";
const std::string kStrictPml = "http://purl.oclc.org/ooxml/presentationml/main";
const std::string kStrictDml = "http://purl.oclc.org/ooxml/drawingml/main";
const std::string kStrictRel = "http://purl.oclc.org/ooxml/officeDocument/relationships";
const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";

std::string Ns(const std::string& prefix, const std::string& uri) {
  return " xmlns" + (prefix.empty() ? std::string() : ":" + prefix) + "=\"" + uri + "\"";
}

const std::string kAllNs = Ns("p", kPml) + Ns("a", kDml) + Ns("r", kRel) + Ns("mc", kMc) + Ns("a14", kA14) +
                           Ns("p14", kP14) + Ns("m", kMath) + Ns("v", kVml);

// A p:txBody holding `inner`, with every namespace the rows use declared.
std::string Body(const std::string& inner) { return "<p:txBody" + kAllNs + "><a:bodyPr/>" + inner + "</p:txBody>"; }

// UTF-16 text shown in failure messages, with the control characters the rows use made visible.
std::string Show(std::u16string_view text) {
  std::string out;
  for (const char c : text::ToUtf8(text)) {
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\v')
      out += "\\v";
    else if (c == '\t')
      out += "\\t";
    else
      out += c;
  }
  return out;
}

// The serialised document without its declaration.
std::string Xml(const Document& document) {
  const std::string all = document.Serialize();
  EXPECT_EQ(all.substr(0, kDeclaration.size()), kDeclaration);
  return all.substr(kDeclaration.size());
}

// What the children of the root look like to a reader: "name/id" for each, comma-separated.
std::string Names(const std::vector<Node>& nodes) {
  std::string out;
  for (const Node node : nodes) {
    if (!out.empty()) out += ",";
    out += node.name();
    if (const Attribute id = node.attribute("id")) out += std::string("/") + id.value();
  }
  return out;
}

// --- TextRange.Text rules -------------------------------------------------------------------

struct TextRow {
  const char* name;
  std::string body;  // children of p:txBody after a:bodyPr
  std::u16string expected;
  std::int32_t slideNumber = 0;
};

TEST(PptxXmlText, TextOfBodyRules) {
  const std::string choiceA14 = "<mc:AlternateContent><mc:Choice Requires=\"a14\">";
  const std::string equation =
      "<a14:m><m:oMathPara><m:oMath><m:r><a:rPr i=\"1\"/><m:t>x</m:t></m:r>"
      "<m:rad><m:e><m:r><m:t>+1</m:t></m:r></m:e></m:rad></m:oMath></m:oMathPara></a14:m>";
  const std::vector<TextRow> rows = {
      {"body without paragraphs", "", u""},
      {"one empty paragraph", "<a:p><a:endParaRPr lang=\"en-US\"/></a:p>", u""},
      {"two empty paragraphs give one CR", "<a:p/><a:p/>", u"\r"},
      {"runs concatenate", "<a:p><a:r><a:t>Hello</a:t></a:r><a:r><a:t>, world</a:t></a:r></a:p>", u"Hello, world"},
      {"paragraphs joined by CR, none after the last",
       "<a:p><a:r><a:t>A</a:t></a:r></a:p><a:p><a:r><a:t>B</a:t></a:r></a:p>", u"A\rB"},
      {"trailing empty paragraph adds a CR", "<a:p><a:r><a:t>A</a:t></a:r></a:p><a:p/>", u"A\r"},
      {"a run of one space survives",
       "<a:p><a:r><a:t>a</a:t></a:r><a:r><a:rPr/><a:t> </a:t></a:r><a:r><a:t>b</a:t></a:r></a:p>", u"a b"},
      {"a run of spaces only", "<a:p><a:r><a:t>   </a:t></a:r></a:p>", u"   "},
      {"leading and trailing spaces kept", "<a:p><a:r><a:t>  x  </a:t></a:r></a:p>", u"  x  "},
      {"line break is VT", "<a:p><a:r><a:t>A</a:t></a:r><a:br><a:rPr/></a:br><a:r><a:t>B</a:t></a:r></a:p>", u"A\vB"},
      {"tab character kept", "<a:p><a:r><a:t>A\tB</a:t></a:r></a:p>", u"A\tB"},
      {"field shows its text", "<a:p><a:fld id=\"{1}\" type=\"datetime1\"><a:t>5/6/2024</a:t></a:fld></a:p>",
       u"5/6/2024"},
      {"slide number field shows the number",
       "<a:p><a:r><a:t>Page </a:t></a:r><a:fld type=\"slidenum\"><a:t>‹#›</a:t></a:fld></a:p>", u"Page 12", 12},
      {"slide number field without a number shows its text",
       "<a:p><a:fld type=\"slidenum\"><a:t>‹#›</a:t></a:fld></a:p>", u"‹#›", 0},
      {"other fields ignore the slide number", "<a:p><a:fld type=\"footer\"><a:t>f</a:t></a:fld></a:p>", u"f", 3},
      {"predefined entities and character references",
       "<a:p><a:r><a:t>&lt;&amp;&gt;&quot;&apos;&#65;&#x263A;</a:t></a:r></a:p>", u"<&>\"'A\u263A"},
      {"an unknown entity stays literal", "<a:p><a:r><a:t>&xxe;</a:t></a:r></a:p>", u"&xxe;"},
      {"CDATA is text", "<a:p><a:r><a:t>x<![CDATA[<y>]]></a:t></a:r></a:p>", u"x<y>"},
      {"CR LF in the file is one LF, read as a line break", "<a:p><a:r><a:t>a\r\nb</a:t></a:r></a:p>", u"a\vb"},
      {"astral characters", "<a:p><a:r><a:t>\xF0\x9D\x91\xA5 \xF0\x9F\x98\x80</a:t></a:r></a:p>",
       u"\U0001D465 \U0001F600"},
      {"paragraph and end properties carry no text",
       "<a:p><a:pPr lvl=\"1\"/><a:r><a:rPr lang=\"en-US\"/><a:t>x</a:t></a:r><a:endParaRPr/></a:p>", u"x"},
      {"equation chosen from its AlternateContent",
       "<a:p>" + choiceA14 + equation +
           "</mc:Choice><mc:Fallback><a:r><a:t>[picture]</a:t></a:r></mc:Fallback>"
           "</mc:AlternateContent></a:p>",
       u"x+1"},
      {"equation fallback when its Choice is not understood",
       "<a:p><mc:AlternateContent><mc:Choice Requires=\"v\">" + equation +
           "</mc:Choice><mc:Fallback><a:r><a:t>x+1 (text)</a:t></a:r></mc:Fallback></mc:AlternateContent></a:p>",
       u"x+1 (text)"},
      {"equation directly in the paragraph",
       "<a:p><a:r><a:t>y=</a:t></a:r>" + equation + "<a:r><a:t>!</a:t></a:r></a:p>", u"y=x+1!"},
      {"runs inside a chosen branch",
       "<a:p><a:r><a:t>a</a:t></a:r>" + choiceA14 + "<a:r><a:t>b</a:t></a:r></mc:Choice></mc:AlternateContent></a:p>",
       u"ab"},
      {"paragraphs inside a chosen branch",
       "<a:p/>" + choiceA14 + "<a:p><a:r><a:t>b</a:t></a:r></a:p></mc:Choice></mc:AlternateContent>", u"\rb"},
      {"unknown elements carry no text",
       "<a:p><x:y xmlns:x=\"urn:x\"><a:t>hidden</a:t></x:y><a:r><a:t>z</a:t></a:r></a:p>", u"z"},
  };
  for (const TextRow& row : rows) {
    SCOPED_TRACE(row.name);
    const auto document = Document::Parse(Body(row.body), "/ppt/slides/slide1.xml");
    const std::u16string text = TextOfBody(document->root(), row.slideNumber);
    EXPECT_EQ(text, row.expected) << row.name << ": got \"" << Show(text) << "\", want \"" << Show(row.expected)
                                  << "\"";
  }
  EXPECT_EQ(TextOfBody(Node()), u"") << "an empty node";
}

TEST(PptxXmlText, LengthLimit) {
  const auto document =
      Document::Parse(Body("<a:p><a:r><a:t>12345</a:t></a:r></a:p><a:p><a:r><a:t>6</a:t></a:r></a:p>"), "/s.xml");
  EXPECT_EQ(TextOfBody(document->root(), 0, 7), u"12345\r6") << "exactly at the limit";
  for (const std::uint32_t limit : {6u, 5u, 0u}) {
    try {
      TextOfBody(document->root(), 0, limit);
      ADD_FAILURE() << "limit " << limit << " not enforced";
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), hresult::kOutOfMemory) << "limit " << limit;
      EXPECT_NE(text::ToUtf8(e.description()).find(std::to_string(limit)), std::string::npos) << "limit " << limit;
    }
  }
}

// --- Markup compatibility ----------------------------------------------------------------------

struct BranchRow {
  const char* name;
  std::string inner;  // children of the root p:spTree
  std::string expected;
  bool renamed = false;  // prefixes change, so the document is not written back as it came
};

TEST(PptxXmlMarkupCompatibility, ChildrenSeeTheChosenBranch) {
  const std::string choiceFallback = "<mc:Fallback><p:sp id=\"f\"/></mc:Fallback>";
  auto alternate = [](const std::string& branches) {
    return "<mc:AlternateContent>" + branches + "</mc:AlternateContent>";
  };
  std::string deep = "<p:sp id=\"deep\"/>";
  for (int i = 0; i < 100; ++i) deep = alternate("<mc:Choice Requires=\"p14\">" + deep + "</mc:Choice>");

  const std::vector<BranchRow> rows = {
      {"no AlternateContent", "<p:sp id=\"1\"/>text<p:pic id=\"2\"/>", "p:sp/1,p:pic/2"},
      {"understood Choice", alternate("<mc:Choice Requires=\"p14\"><p:sp id=\"c\"/></mc:Choice>" + choiceFallback),
       "p:sp/c"},
      {"understood Choice with two prefixes",
       alternate("<mc:Choice Requires=\"p14  a14\"><p:sp id=\"c\"/></mc:Choice>" + choiceFallback), "p:sp/c"},
      {"Choice requiring a namespace not understood",
       alternate("<mc:Choice Requires=\"v\"><p:sp id=\"c\"/></mc:Choice>" + choiceFallback), "p:sp/f"},
      {"Choice requiring one understood and one not",
       alternate("<mc:Choice Requires=\"p14 v\"><p:sp id=\"c\"/></mc:Choice>" + choiceFallback), "p:sp/f"},
      {"Choice requiring an undeclared prefix",
       alternate("<mc:Choice Requires=\"zz\"><p:sp id=\"c\"/></mc:Choice>" + choiceFallback), "p:sp/f"},
      {"Choice without Requires", alternate("<mc:Choice><p:sp id=\"c\"/></mc:Choice>" + choiceFallback), "p:sp/f"},
      {"first understood Choice wins",
       alternate("<mc:Choice Requires=\"v\"><p:sp id=\"1\"/></mc:Choice><mc:Choice Requires=\"a14\"><p:sp id=\"2\"/>"
                 "</mc:Choice><mc:Choice Requires=\"p14\"><p:sp id=\"3\"/></mc:Choice>" +
                 choiceFallback),
       "p:sp/2"},
      {"Choice requiring the main namespaces",
       alternate("<mc:Choice Requires=\"p a r\"><p:sp id=\"c\"/></mc:Choice>" + choiceFallback), "p:sp/c"},
      {"Choice requiring any Office extension namespace",
       "<mc:AlternateContent xmlns:x99=\"http://schemas.microsoft.com/office/powerpoint/2099/main\">"
       "<mc:Choice Requires=\"x99\"><p:sp id=\"c\"/></mc:Choice>" +
           choiceFallback + "</mc:AlternateContent>",
       "p:sp/c"},
      {"Choice requiring a strict namespace under another prefix",
       "<mc:AlternateContent xmlns:sp=\"" + kStrictPml + "\"><mc:Choice Requires=\"sp\"><p:sp id=\"c\"/></mc:Choice>" +
           choiceFallback + "</mc:AlternateContent>",
       "p:sp/c", true},
      {"nothing understood and no Fallback",
       "<p:sp id=\"before\"/>" + alternate("<mc:Choice Requires=\"v\"><p:sp id=\"c\"/></mc:Choice>") +
           "<p:sp id=\"after\"/>",
       "p:sp/before,p:sp/after"},
      {"empty Fallback", alternate("<mc:Choice Requires=\"v\"><p:sp id=\"c\"/></mc:Choice><mc:Fallback/>"), ""},
      {"branch with several children keeps their order",
       "<p:sp id=\"0\"/>" + alternate("<mc:Choice Requires=\"p14\"><p:sp id=\"1\"/><p:pic id=\"2\"/></mc:Choice>") +
           "<p:sp id=\"3\"/>",
       "p:sp/0,p:sp/1,p:pic/2,p:sp/3"},
      {"AlternateContent nested in a Choice",
       alternate("<mc:Choice Requires=\"p14\">" +
                 alternate("<mc:Choice Requires=\"v\"><p:sp id=\"inner-c\"/></mc:Choice>"
                           "<mc:Fallback><p:sp id=\"inner-f\"/></mc:Fallback>") +
                 "<p:sp id=\"c2\"/></mc:Choice>" + choiceFallback),
       "p:sp/inner-f,p:sp/c2"},
      {"AlternateContent nested in a Fallback",
       alternate("<mc:Choice Requires=\"v\"><p:sp id=\"c\"/></mc:Choice><mc:Fallback>" +
                 alternate("<mc:Choice Requires=\"a14\"><p:sp id=\"inner\"/></mc:Choice>") + "</mc:Fallback>"),
       "p:sp/inner"},
      {"a hundred nested AlternateContents", deep, "p:sp/deep"},
  };
  for (const BranchRow& row : rows) {
    SCOPED_TRACE(row.name);
    const auto document =
        Document::Parse("<p:spTree" + kAllNs + ">" + row.inner + "</p:spTree>", "/ppt/slides/slide1.xml");
    EXPECT_EQ(Names(Children(document->root())), row.expected) << row.name;
    // The AlternateContent stays in the tree: what is saved keeps every branch.
    if (!row.renamed) {
      EXPECT_EQ(Xml(*document), "<p:spTree" + kAllNs + ">" + row.inner + "</p:spTree>") << row.name;
    }
  }
}

TEST(PptxXmlMarkupCompatibility, ChildPathAndChildrenNamedSeeTheChosenBranch) {
  const auto document = Document::Parse(
      "<p:spTree" + kAllNs +
          "><p:sp id=\"1\"/><mc:AlternateContent><mc:Choice Requires=\"p14\"><p:sp id=\"2\">"
          "<p:nvSpPr><p:nvPr><p:ph type=\"body\"/></p:nvPr></p:nvSpPr></p:sp></mc:Choice><mc:Fallback><p:pic id=\"f\"/>"
          "</mc:Fallback></mc:AlternateContent><p:pic id=\"3\"/></p:spTree>",
      "/s.xml");
  const Node root = document->root();
  EXPECT_EQ(Names(ChildrenNamed(root, "p:sp")), "p:sp/1,p:sp/2");
  EXPECT_EQ(Names(ChildrenNamed(root, "p:pic")), "p:pic/3") << "the Fallback is not seen";
  EXPECT_EQ(Attr(Child(root, "p:pic"), "id"), "3");
  EXPECT_EQ(Attr(Path(root, "p:sp/p:nvSpPr/p:nvPr/p:ph"), "type"), "") << "the first p:sp has no placeholder";
  EXPECT_FALSE(Child(root, "mc:AlternateContent")) << "a reader never sees the AlternateContent";
  EXPECT_FALSE(Path(root, "p:sp/p:nope"));
  EXPECT_FALSE(Child(Node(), "p:sp"));
  EXPECT_EQ(Path(root, ""), root);
  const std::vector<Node> shapes = ChildrenNamed(root, "p:sp");
  ASSERT_EQ(shapes.size(), 2u);
  EXPECT_EQ(Attr(Path(shapes[1], "p:nvSpPr/p:nvPr/p:ph"), "type"), "body");
}

// --- Canonical prefixes ---------------------------------------------------------------------------

struct PrefixRow {
  const char* name;
  std::string input;
  std::string expected;  // serialised, without the declaration
};

TEST(PptxXmlPrefixes, NormalisedToCanonicalPrefixes) {
  const std::string p = Ns("p", kPml), a = Ns("a", kDml), r = Ns("r", kRel), mc = Ns("mc", kMc), p14 = Ns("p14", kP14);
  const std::vector<PrefixRow> rows = {
      {"canonical prefixes stay as they are", "<p:sld" + p + a + "><p:cSld><a:t>x</a:t></p:cSld></p:sld>",
       "<p:sld" + p + a + "><p:cSld><a:t>x</a:t></p:cSld></p:sld>"},
      {"default namespace", "<sld" + Ns("", kPml) + a + "><cSld name=\"n\"><spTree/></cSld></sld>",
       "<p:sld" + p + a + "><p:cSld name=\"n\"><p:spTree/></p:cSld></p:sld>"},
      {"odd prefixes on elements and attributes",
       "<pres:sld" + Ns("pres", kPml) + Ns("draw", kDml) + Ns("rel", kRel) +
           "><draw:blip rel:embed=\"rId2\" draw:x=\"1\" y=\"2\"/></pres:sld>",
       "<p:sld" + p + a + r + "><a:blip r:embed=\"rId2\" a:x=\"1\" y=\"2\"/></p:sld>"},
      {"strict namespaces become transitional",
       "<p:sld" + Ns("p", kStrictPml) + Ns("a", kStrictDml) + Ns("r", kStrictRel) +
           "><a:blip r:embed=\"rId1\"/></p:sld>",
       "<p:sld" + p + a + r + "><a:blip r:embed=\"rId1\"/></p:sld>"},
      {"strict namespace under an odd prefix", "<s:sld" + Ns("s", kStrictPml) + "/>", "<p:sld" + p + "/>"},
      {"swapped prefixes", "<a:sld" + Ns("a", kPml) + Ns("p", kDml) + "><p:t/></a:sld>",
       "<p:sld" + p + a + "><a:t/></p:sld>"},
      {"declaration deep in the tree",
       "<p:sld" + p + "><p:cSld><d:p" + Ns("d", kDml) + "><d:r/></d:p></p:cSld></p:sld>",
       "<p:sld" + p + "><p:cSld><a:p" + a + "><a:r/></a:p></p:cSld></p:sld>"},
      {"a declaration's scope ends with its element", "<p:sld" + p + "><d:p" + Ns("d", kDml) + "/><d:q/></p:sld>",
       "<p:sld" + p + "><a:p" + a + "/><d:q/></p:sld>"},
      {"two spellings of one namespace on one element",
       "<p:sld" + p + Ns("q", kPml) + Ns("ps", kStrictPml) + "><q:x/><ps:y/></p:sld>",
       "<p:sld" + p + "><p:x/><p:y/></p:sld>"},
      {"an inner empty default namespace", "<sld" + Ns("", kPml) + "><x xmlns=\"\"><y/></x><z/></sld>",
       "<p:sld" + p + "><x xmlns=\"\"><y/></x><p:z/></p:sld>"},
      {"an inner unknown default namespace", "<sld" + Ns("", kPml) + "><x xmlns=\"urn:x\"><y/></x></sld>",
       "<p:sld" + p + "><x xmlns=\"urn:x\"><y/></x></p:sld>"},
      {"unknown namespaces keep their prefixes",
       "<P:sld" + Ns("P", kPml) + Ns("foo", "urn:foo") + "><foo:x foo:y=\"1\" xml:space=\"preserve\"/></P:sld>",
       "<p:sld" + p + Ns("foo", "urn:foo") + "><foo:x foo:y=\"1\" xml:space=\"preserve\"/></p:sld>"},
      {"unknown namespace on a canonical prefix is renamed away",
       "<p:sld" + p + "><a:foo" + Ns("a", "urn:other") + " a:k=\"v\"><a:bar/></a:foo></p:sld>",
       "<p:sld" + p + "><a_1:foo" + Ns("a_1", "urn:other") + " a_1:k=\"v\"><a_1:bar/></a_1:foo></p:sld>"},
      {"clash with the canonical namespace under another prefix",
       "<x" + Ns("p", "urn:other") + Ns("pp", kPml) + "><p:a/><pp:b/></x>",
       "<x" + Ns("p_1", "urn:other") + p + "><p_1:a/><p:b/></x>"},
      {"the renamed prefix avoids prefixes in use",
       "<x" + Ns("p", "urn:other") + Ns("p_1", "urn:third") + "><p:a/><p_1:b/></x>",
       "<x" + Ns("p_2", "urn:other") + Ns("p_1", "urn:third") + "><p_2:a/><p_1:b/></x>"},
      {"mc:Ignorable and friends name the new prefixes",
       "<x:sld" + Ns("x", kPml) + Ns("compat", kMc) + Ns("ext", kP14) + Ns("vm", kVml) +
           " compat:Ignorable=\"ext  vm\" compat:MustUnderstand=\"ext\" compat:ProcessContent=\"ext:foo vm:*\""
           " compat:PreserveElements=\"ext:a\" compat:PreserveAttributes=\"undeclared:b\"><ext:foo/></x:sld>",
       "<p:sld" + p + mc + p14 + Ns("v", kVml) +
           " mc:Ignorable=\"p14  v\" mc:MustUnderstand=\"p14\" mc:ProcessContent=\"p14:foo v:*\""
           " mc:PreserveElements=\"p14:a\" mc:PreserveAttributes=\"undeclared:b\"><p14:foo/></p:sld>"},
      {"mc:Choice Requires names the new prefixes",
       "<p:spTree" + p + Ns("compat", kMc) + Ns("ext", kP14) +
           "><compat:AlternateContent><compat:Choice Requires=\"ext\"><p:sp/></compat:Choice><compat:Fallback/>"
           "</compat:AlternateContent></p:spTree>",
       "<p:spTree" + p + mc + p14 +
           "><mc:AlternateContent><mc:Choice Requires=\"p14\"><p:sp/></mc:Choice><mc:Fallback/></mc:AlternateContent>"
           "</p:spTree>"},
      {"Requires outside mc:Choice is left alone", "<x:sld" + Ns("x", kPml) + Ns("ext", kP14) + " Requires=\"ext\"/>",
       "<p:sld" + p + p14 + " Requires=\"ext\"/>"},
      {"prefix lists resolve in the element's own scope",
       "<p:sld" + p + Ns("e", kA14) + " Requires=\"e\"><x" + Ns("mc", kMc) + Ns("e", kP14) +
           " mc:Ignorable=\"e\"/></p:sld>",
       "<p:sld" + p + Ns("a14", kA14) + " Requires=\"e\"><x" + mc + p14 + " mc:Ignorable=\"p14\"/></p:sld>"},
  };
  for (const PrefixRow& row : rows) {
    SCOPED_TRACE(row.name);
    const auto document = Document::Parse(row.input, "/ppt/slides/slide1.xml");
    EXPECT_EQ(Xml(*document), row.expected) << row.name;
    // Normalising is idempotent.
    EXPECT_EQ(Xml(*Document::Parse(document->Serialize(), "/again.xml")), row.expected) << row.name << " (again)";
  }
}

TEST(PptxXmlPrefixes, StrictDocumentReadsLikeATransitionalOne) {
  const auto document =
      Document::Parse("<s:sld" + Ns("s", kStrictPml) + Ns("d", kStrictDml) +
                          "><s:cSld><s:spTree><s:sp><s:txBody><d:bodyPr/><d:p><d:r>"
                          "<d:t>strict</d:t></d:r></d:p></s:txBody></s:sp></s:spTree></s:cSld></s:sld>",
                      "/ppt/slides/slide1.xml");
  EXPECT_EQ(TextOfBody(Path(document->root(), "p:cSld/p:spTree/p:sp/p:txBody")), u"strict");
}

// --- Refusals -------------------------------------------------------------------------------------

struct RefusalRow {
  const char* name;
  std::string input;
  std::string cause;  // part of the description
};

TEST(PptxXmlParse, RefusedDocuments) {
  std::string deep;
  for (int i = 0; i < 10000; ++i) deep += "<a:p>";
  for (int i = 0; i < 10000; ++i) deep += "</a:p>";
  deep.insert(4, Ns("a", kDml));

  const std::vector<RefusalRow> rows = {
      {"DOCTYPE", "<!DOCTYPE p:sld><p:sld" + Ns("p", kPml) + "/>", "DOCTYPE"},
      {"DOCTYPE declaring an external entity", "<!DOCTYPE x [<!ENTITY xxe SYSTEM \"file:///etc/passwd\">]><x>&xxe;</x>",
       "DOCTYPE"},
      {"DOCTYPE after an XML declaration", "<?xml version=\"1.0\"?>\n<!DOCTYPE x><x/>", "DOCTYPE"},
      {"DOCTYPE inside an element", "<x><!DOCTYPE y><y/></x>", "not well-formed"},
      {"mismatched end tag", "<a><b></a>", "not well-formed"},
      {"unclosed element", "<a><b/>", "not well-formed"},
      {"unclosed tag", "<a", "not well-formed"},
      {"bad attribute", "<a x=1/>", "not well-formed"},
      {"bad name", "<1a/>", "not well-formed"},
      {"empty input", "", "no root element"},
      {"only an XML declaration", "<?xml version=\"1.0\"?>", "no root element"},
      {"text only", "hello", "text outside the root element"},
      {"two root elements", "<a/><b/>", "more than one root element"},
      {"text after the root", "<a/>tail", "text outside the root element"},
      {"10000 nested elements", deep, "deeper than the limit of 256"},
  };
  for (const RefusalRow& row : rows) {
    SCOPED_TRACE(row.name);
    try {
      Document::Parse(row.input, "/ppt/slides/slide9.xml");
      ADD_FAILURE() << row.name << ": accepted";
    } catch (const AutomationError& e) {
      const std::string description = text::ToUtf8(e.description());
      EXPECT_EQ(e.number(), hresult::kInvalidData) << row.name;
      EXPECT_NE(description.find("/ppt/slides/slide9.xml"), std::string::npos) << row.name << ": " << description;
      EXPECT_NE(description.find(row.cause), std::string::npos) << row.name << ": " << description;
    }
  }
}

TEST(PptxXmlParse, DepthLimitIsExact) {
  auto nested = [](int depth) {
    std::string xml;
    for (int i = 0; i < depth; ++i) xml += "<e>";
    for (int i = 0; i < depth; ++i) xml += "</e>";
    return xml;
  };
  Limits limits;
  limits.maxXmlDepth = 3;
  EXPECT_NO_THROW(Document::Parse(nested(3), "/x.xml", limits));
  EXPECT_NO_THROW(Document::Parse("<e><e><e/></e><e><e/></e></e>", "/x.xml", limits)) << "siblings do not add depth";
  EXPECT_THROW(Document::Parse(nested(4), "/x.xml", limits), AutomationError);
  EXPECT_THROW(Document::Parse("<e><e><e/></e><e><e><e/></e></e></e>", "/x.xml", limits), AutomationError)
      << "a deep second branch";
  EXPECT_NO_THROW(Document::Parse(nested(256), "/x.xml")) << "the default limit";
  EXPECT_THROW(Document::Parse(nested(257), "/x.xml"), AutomationError);
}

TEST(PptxXmlParse, UnknownEntityStaysInert) {
  const auto document = Document::Parse("<x>&xxe;&amp;</x>", "/x.xml");
  EXPECT_EQ(std::string(document->root().text().get()), "&xxe;&");
  EXPECT_EQ(Xml(*document), "<x>&amp;xxe;&amp;</x>");
}

// Shapes of input that would cost quadratic time with a naive scope lookup, dedup or branch
// choice: each is large enough that such a cost would take minutes, and is read in well under
// the time allowed here.
TEST(PptxXmlParse, HostileShapesCostLinearTime) {
  constexpr int kCount = 20000;
  const auto started = std::chrono::steady_clock::now();

  // Many prefixes for one namespace on the root, each used by one element: all become "p".
  std::string xml = "<x0:sld";
  for (int i = 0; i < kCount; ++i) xml += Ns("x" + std::to_string(i), kPml);
  xml += ">";
  for (int i = 0; i < kCount; ++i) xml += "<x" + std::to_string(i) + ":sp/>";
  xml += "</x0:sld>";
  auto document = Document::Parse(xml, "/many-prefixes.xml");
  const std::string start = "<p:sld" + Ns("p", kPml) + "><p:sp/><p:sp/>";
  EXPECT_EQ(Xml(*document).substr(0, start.size()), start);

  // Many unknown namespaces, each bound to a canonical prefix: each gets its own new prefix.
  xml = "<root>";
  for (int i = 0; i < kCount; ++i) xml += "<p:e" + Ns("p", "urn:" + std::to_string(i)) + "/>";
  xml += "</root>";
  document = Document::Parse(xml, "/many-clashes.xml");
  EXPECT_EQ(std::string(Children(document->root()).back().name()), "p_" + std::to_string(kCount) + ":e");

  // Many declarations in scope and many AlternateContents requiring one of them.
  xml = "<p:spTree" + Ns("p", kPml) + Ns("mc", kMc);
  for (int i = 0; i < kCount; ++i)
    xml += Ns("e" + std::to_string(i), "http://schemas.microsoft.com/office/x/" + std::to_string(i));
  xml += ">";
  for (int i = 0; i < kCount; ++i)
    xml += "<mc:AlternateContent><mc:Choice Requires=\"e" + std::to_string(kCount - 1) +
           "\"><p:sp/></mc:Choice><mc:Fallback><p:pic/></mc:Fallback></mc:AlternateContent>";
  xml += "</p:spTree>";
  document = Document::Parse(xml, "/many-branches.xml");
  EXPECT_EQ(ChildrenNamed(document->root(), "p:sp").size(), static_cast<std::size_t>(kCount));

  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}

// --- Encodings ------------------------------------------------------------------------------------

std::string Utf16Bytes(std::u16string_view text, bool bigEndian) {
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char16_t c : text) {
    const char high = static_cast<char>(c >> 8), low = static_cast<char>(c & 0xFF);
    bytes += bigEndian ? high : low;
    bytes += bigEndian ? low : high;
  }
  return bytes;
}

TEST(PptxXmlParse, Encodings) {
  const std::u16string xml = u"<?xml version=\"1.0\" standalone=\"yes\"?>\r\n<p:txBody" + text::FromUtf8(kAllNs) +
                             u"><a:p><a:r><a:t>\u00E9t\u00E9 \U0001D465 </a:t></a:r></a:p></p:txBody>";
  const std::u16string expected = u"\u00E9t\u00E9 \U0001D465 ";
  const struct {
    const char* name;
    std::string bytes;
  } rows[] = {
      {"UTF-8", text::ToUtf8(xml)},
      {"UTF-8 with BOM", "\xEF\xBB\xBF" + text::ToUtf8(xml)},
      {"UTF-16LE with BOM", Utf16Bytes(xml, false)},
      {"UTF-16BE with BOM", Utf16Bytes(xml, true)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const auto document = Document::Parse(row.bytes, "/x.xml");
    EXPECT_EQ(TextOfBody(document->root()), expected) << row.name;
    const std::string serialized = document->Serialize();
    EXPECT_EQ(serialized.substr(0, kDeclaration.size()), kDeclaration) << row.name << ": written as UTF-8";
    EXPECT_NE(serialized.find("\xC3\xA9t\xC3\xA9 \xF0\x9D\x91\xA5 </a:t>"), std::string::npos) << row.name;
  }
}

// --- InsertBefore -------------------------------------------------------------------------------

struct InsertRow {
  const char* name;
  std::string body;  // children of p:txBody after a:bodyPr
  std::u16string text;
  std::u16string expectedText;
  std::string expectedBody;  // children of p:txBody after a:bodyPr, serialised; empty: not checked
};

TEST(PptxXmlInsertBefore, InsertsInFrontWithTheFirstRunsFormatting) {
  const std::string formatted = "<a:p><a:pPr algn=\"ctr\"/><a:r><a:rPr b=\"1\"/><a:t>old</a:t></a:r></a:p>";
  const std::string pPr = "<a:pPr algn=\"ctr\"/>", rPr = "<a:rPr b=\"1\"/>";
  const std::vector<InsertRow> rows = {
      {"body without paragraphs gets one", "<a:lstStyle/>", u"Hi", u"Hi",
       "<a:lstStyle/><a:p><a:r><a:t>Hi</a:t></a:r></a:p>"},
      {"empty text on a body without paragraphs", "", u"", u"", "<a:p/>"},
      {"empty text changes nothing", formatted, u"", u"old", formatted},
      {"empty paragraph takes the end-of-paragraph formatting", "<a:p><a:endParaRPr lang=\"en-US\" sz=\"2000\"/></a:p>",
       u"Hi", u"Hi",
       "<a:p><a:r><a:rPr lang=\"en-US\" sz=\"2000\"/><a:t>Hi</a:t></a:r><a:endParaRPr lang=\"en-US\" "
       "sz=\"2000\"/></a:p>"},
      {"formatting with child elements is copied whole",
       "<a:p><a:endParaRPr sz=\"9\"><a:solidFill><a:srgbClr val=\"FF0000\"/></a:solidFill></a:endParaRPr></a:p>", u"x",
       u"x",
       "<a:p><a:r><a:rPr sz=\"9\"><a:solidFill><a:srgbClr val=\"FF0000\"/></a:solidFill></a:rPr><a:t>x</a:t></a:r>"
       "<a:endParaRPr sz=\"9\"><a:solidFill><a:srgbClr val=\"FF0000\"/></a:solidFill></a:endParaRPr></a:p>"},
      {"joins the first run", formatted, u"new ", u"new old",
       "<a:p>" + pPr + "<a:r>" + rPr + "<a:t>new old</a:t></a:r></a:p>"},
      {"CR starts a paragraph with the first paragraph's properties", formatted, u"A\rB", u"A\rBold",
       "<a:p>" + pPr + "<a:r>" + rPr + "<a:t>A</a:t></a:r></a:p><a:p>" + pPr + "<a:r>" + rPr +
           "<a:t>Bold</a:t></a:r></a:p>"},
      {"LF starts a paragraph", formatted, u"A\nB", u"A\rBold",
       "<a:p>" + pPr + "<a:r>" + rPr + "<a:t>A</a:t></a:r></a:p><a:p>" + pPr + "<a:r>" + rPr +
           "<a:t>Bold</a:t></a:r></a:p>"},
      {"CR LF counts once", formatted, u"A\r\nB", u"A\rBold", ""},
      {"LF CR counts twice; the empty paragraph keeps the formatting", formatted, u"A\n\rB", u"A\r\rBold",
       "<a:p>" + pPr + "<a:r>" + rPr + "<a:t>A</a:t></a:r></a:p><a:p>" + pPr + "<a:endParaRPr b=\"1\"/></a:p><a:p>" +
           pPr + "<a:r>" + rPr + "<a:t>Bold</a:t></a:r></a:p>"},
      {"trailing CR", formatted, u"A\r", u"A\rold",
       "<a:p>" + pPr + "<a:r>" + rPr + "<a:t>A</a:t></a:r></a:p>" + formatted},
      {"only CRs", formatted, u"\r\r", u"\r\rold", ""},
      {"VT becomes a line break with the formatting", formatted, u"A\vB", u"A\vBold",
       "<a:p>" + pPr + "<a:r>" + rPr + "<a:t>A</a:t></a:r><a:br>" + rPr + "</a:br><a:r>" + rPr +
           "<a:t>Bold</a:t></a:r></a:p>"},
      {"trailing VT", formatted, u"A\v", u"A\vold",
       "<a:p>" + pPr + "<a:r>" + rPr + "<a:t>A</a:t></a:r><a:br>" + rPr + "</a:br><a:r>" + rPr +
           "<a:t>old</a:t></a:r></a:p>"},
      {"XML-special characters", formatted, u"<&>\"'", u"<&>\"'old",
       "<a:p>" + pPr + "<a:r>" + rPr + "<a:t>&lt;&amp;&gt;\"'old</a:t></a:r></a:p>"},
      {"characters XML cannot carry are dropped", formatted,
       std::u16string(u"A\u0000\u0001\u001F\uFFFE\uFFFF", 6) + u'\xD800' + u"B" + u'\xDC00' + u"\u0008C", u"ABCold",
       ""},
      {"tab kept", formatted, u"A\tB", u"A\tBold", ""},
      {"astral characters kept", formatted, u"\U0001D465", u"\U0001D465old", ""},
      {"spaces only", formatted, u"  ", u"  old", ""},
      {"run without formatting", "<a:p><a:r><a:t>old</a:t></a:r><a:endParaRPr sz=\"9\"/></a:p>", u"A\rB", u"A\rBold",
       "<a:p><a:r><a:t>A</a:t></a:r></a:p><a:p><a:r><a:t>Bold</a:t></a:r><a:endParaRPr sz=\"9\"/></a:p>"},
      {"first run is a field: a new run in front of it",
       "<a:p><a:fld id=\"{1}\" type=\"slidenum\"><a:rPr sz=\"1200\"/><a:t>‹#›</a:t></a:fld></a:p>", u"Page ",
       u"Page ‹#›",
       "<a:p><a:r><a:rPr sz=\"1200\"/><a:t>Page </a:t></a:r><a:fld id=\"{1}\" type=\"slidenum\"><a:rPr sz=\"1200\"/>"
       "<a:t>‹#›</a:t></a:fld></a:p>"},
      {"first paragraph starts with a line break", "<a:p><a:br><a:rPr i=\"1\"/></a:br><a:r><a:t>x</a:t></a:r></a:p>",
       u"A", u"A\vx",
       "<a:p><a:r><a:rPr i=\"1\"/><a:t>A</a:t></a:r><a:br><a:rPr i=\"1\"/></a:br><a:r><a:t>x</a:t></a:r></a:p>"},
      {"later paragraphs untouched", formatted + "<a:p><a:r><a:t>second</a:t></a:r></a:p>", u"A\rB", u"A\rBold\rsecond",
       ""},
      {"first paragraph inside a chosen branch",
       "<mc:AlternateContent><mc:Choice Requires=\"a14\">" + formatted + "</mc:Choice></mc:AlternateContent>", u"A\rB",
       u"A\rBold", ""},
      {"first run inside an equation's branch",
       "<a:p><mc:AlternateContent><mc:Choice Requires=\"a14\"><a14:m><m:r><m:t>x</m:t></m:r></a14:m></mc:Choice>"
       "<mc:Fallback><a:r><a:rPr sz=\"7\"/><a:t>x</a:t></a:r></mc:Fallback></mc:AlternateContent></a:p>",
       u"y=", u"y=x", ""},
  };
  for (const InsertRow& row : rows) {
    SCOPED_TRACE(row.name);
    const auto document = Document::Parse(Body(row.body), "/ppt/slides/slide1.xml");
    InsertBefore(document->root(), row.text);
    const std::u16string text = TextOfBody(document->root());
    EXPECT_EQ(text, row.expectedText) << row.name << ": got \"" << Show(text) << "\"";
    if (!row.expectedBody.empty()) {
      EXPECT_EQ(Xml(*document), Body(row.expectedBody)) << row.name;
    }
    // What was written reads back the same.
    const auto again = Document::Parse(document->Serialize(), "/again.xml");
    EXPECT_EQ(TextOfBody(again->root()), row.expectedText) << row.name << " (read back)";
  }
  InsertBefore(Node(), u"nothing happens on an empty node");
}

// --- Attributes ------------------------------------------------------------------------------------

TEST(PptxXmlAttributes, TypedReaders) {
  const auto document = Document::Parse(
      "<x t=\"true\" f=\"false\" one=\"1\" zero=\"0\" spaced=\" 1 \" yes=\"yes\" empty=\"\" n=\"-42\" plus=\"+7\" "
      "big=\"9223372036854775807\" over=\"9223372036854775808\" frac=\"1.5\" pad=\" 12 \" twoplus=\"++1\"/>",
      "/x.xml");
  const Node x = document->root();
  const struct {
    const char* name;
    bool fallback;
    bool expected;
  } bools[] = {{"t", false, true},      {"f", true, false},       {"one", false, true}, {"zero", true, false},
               {"spaced", false, true}, {"yes", false, false},    {"yes", true, true},  {"empty", true, true},
               {"missing", true, true}, {"missing", false, false}};
  for (const auto& row : bools)
    EXPECT_EQ(BoolAttr(x, row.name, row.fallback), row.expected) << row.name << " fallback " << row.fallback;
  const struct {
    const char* name;
    std::int64_t expected;
  } ints[] = {{"n", -42},      {"plus", 7},   {"big", 9223372036854775807},
              {"over", -1},    {"frac", -1},  {"pad", 12},
              {"twoplus", -1}, {"empty", -1}, {"t", -1},
              {"missing", -1}};
  for (const auto& row : ints) EXPECT_EQ(IntAttr(x, row.name, -1), row.expected) << row.name;
  EXPECT_EQ(Attr(x, "n"), "-42");
  EXPECT_EQ(Attr(x, "empty", "fallback"), "") << "present but empty is not absent";
  EXPECT_EQ(Attr(x, "missing", "fallback"), "fallback");
  EXPECT_EQ(Attr(Node(), "n", "fallback"), "fallback");
}

// --- Serialisation ---------------------------------------------------------------------------------

TEST(PptxXmlSerialize, DeclarationAndNoIndentation) {
  const auto document =
      Document::Parse("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<p:sld" + Ns("p", kPml) +
                          ">\n  <p:cSld>\n    <p:x a=\"&quot;&lt;\"/>\n  </p:cSld>\n<!-- note -->\n</p:sld>\n",
                      "/x.xml");
  EXPECT_EQ(document->Serialize(),
            kDeclaration + "<p:sld" + Ns("p", kPml) + "><p:cSld><p:x a=\"&quot;&lt;\"/></p:cSld></p:sld>");
}

TEST(PptxXmlSerialize, CharacterReferencesToLineEndsRoundTrip) {
  const auto document = Document::Parse(Body("<a:p><a:r><a:t>a&#13;b&#10;c&#13;&#10;d\te</a:t></a:r></a:p>"), "/x.xml");
  const std::u16string text = TextOfBody(document->root());
  EXPECT_EQ(text, u"a\rb\vc\r\vd\te") << Show(text);
  const auto again = Document::Parse(document->Serialize(), "/x.xml");
  EXPECT_EQ(TextOfBody(again->root()), text) << "read back";
  EXPECT_EQ(again->Serialize(), document->Serialize());
}

TEST(PptxXmlSerialize, FromTrustedNormalisesToo) {
  const auto document = Document::FromTrusted("<sld" + Ns("", kPml) + "/>", "/template.xml");
  EXPECT_EQ(document->partName(), "/template.xml");
  EXPECT_EQ(std::string(document->root().name()), "p:sld");
}

// Real parts from the corpus: every XML part parses, and what is written reads back to the same
// tree and the same text.
TEST(PptxXmlSerialize, CorpusPartsRoundTrip) {
  const fs::path file = fs::path(QUORVANE_CORPUS_DIR) / "poi" / "stress013.pptx";
  if (!fs::exists(file)) GTEST_SKIP() << file << " is not there";
  const auto package = Package::Open(file.string());
  int parts = 0;
  for (const std::string& name : package->PartNames()) {
    if (!name.ends_with(".xml") && !name.ends_with(".rels")) continue;
    SCOPED_TRACE(name);
    const auto document = Document::Parse(package->ReadPart(name), name);
    const std::string written = document->Serialize();
    EXPECT_EQ(Document::Parse(written, name)->Serialize(), written) << name;
    ++parts;
  }
  EXPECT_GT(parts, 20);

  // Slide 5 holds an equation in a text box whose Fallback is a picture with one space of text.
  const auto slide = Document::Parse(package->ReadPart("/ppt/slides/slide5.xml"), "/ppt/slides/slide5.xml");
  std::vector<std::u16string> texts;
  for (const Node shape : ChildrenNamed(Path(slide->root(), "p:cSld/p:spTree"), "p:sp"))
    if (const Node body = Child(shape, "p:txBody")) texts.push_back(TextOfBody(body));
  EXPECT_NE(std::find(texts.begin(), texts.end(), u"\U0001D465+1\u2212\U0001D465"), texts.end())
      << "the equation's text";
}

}  // namespace
}  // namespace quorvane::engines::pptx::xml

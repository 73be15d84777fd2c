// The package layer: opening (and refusing) files, hostile archives and limits, part names,
// relationships, saving. Test archives are written with the layer's own zip writer; damaged ones
// by cutting or patching their bytes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engines/pptx/package.hpp"
#include "engines/pptx/zip.hpp"
#include "support/fixtures.hpp"

namespace quorvane::engines::pptx {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::WriteFile;
using Entries = std::vector<std::pair<std::string, std::string>>;

constexpr std::string_view kMainType =
    "application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml";
constexpr std::string_view kOfficeDocument =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument";
constexpr std::string_view kSlideType = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/slide";

// A minimal package plus `extra` entries.
Entries Minimal(Entries extra = {}) {
  Entries entries{
      {"[Content_Types].xml",
       "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"><Default Extension=\"rels\" "
       "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/><Default Extension=\"xml\" "
       "ContentType=\"application/xml\"/><Default Extension=\"PNG\" ContentType=\"image/png\"/><Override "
       "PartName=\"/ppt/presentation.xml\" ContentType=\"" +
           std::string(kMainType) +
           "\"/><Override "
           "PartName=\"/ppt/media/a%20b.xml\" ContentType=\"text/x-spaced\"/></Types>"},
      {"_rels/.rels",
       "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
       "<Relationship Id=\"rId1\" Type=\"" +
           std::string(kOfficeDocument) + "\" Target=\"ppt/presentation.xml\"/></Relationships>"},
      {"ppt/presentation.xml", "<p:presentation/>"}};
  entries.insert(entries.end(), extra.begin(), extra.end());
  return entries;
}

fs::path Zip(const fs::path& path, const Entries& entries) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  zip::Writer writer(fd);
  for (const auto& [name, bytes] : entries) writer.Add(name, bytes);
  writer.Finish();
  ::close(fd);
  return path;
}

// Bytes that deflate badly: a zip of them is about as large as they are.
std::string Noise(std::size_t size) {
  std::string noise;
  for (std::uint32_t x = 1; noise.size() < size; x = x * 1103515245u + 12345u) noise.push_back(char(x >> 24));
  return noise;
}

// A file in the single-file XML form holding `parts` (pkg:part elements).
std::string Flat(const std::string& parts) {
  return "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<pkg:package xmlns:pkg=\"http://schemas.microsoft.com/office/2006/"
         "xmlPackage\">" + parts + "</pkg:package>";
}
std::string FlatPart(const std::string& name, const std::string& content, const std::string& type = "application/xml") {
  const bool xml = content.starts_with("<");
  return "<pkg:part pkg:name=\"" + name + "\" pkg:contentType=\"" + type + "\"><pkg:" +
         (xml ? "xmlData>" : "binaryData>") + content + (xml ? "</pkg:xmlData>" : "</pkg:binaryData>") + "</pkg:part>";
}
const std::string kFlatRels = FlatPart("/_rels/.rels", "<Relationships/>");

// What a call threw: its number and description, or 0 when it did not throw.
struct Failure { std::int32_t number = 0; std::string description; };
Failure FailureOf(const std::function<void()>& call) {
  Failure failure;
  failure.number = testing::ThrownNumber(call, &failure.description);
  return failure;
}

std::vector<std::string> Listing(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// --- Hostile files -------------------------------------------------------------------------------

// Each row makes a file, opens it under its limits and reads the parts given; the open or the last
// read fails with the number given, naming the file and the cause.
TEST(PptxPackage, HostileFilesFailCleanlyNamingTheFileAndTheCause) {
  testing::TempFolder dir;
  const std::string zipped = ReadFile(Zip(dir / "good.pptx", Minimal()));
  const auto bytes = [&](std::string content) {
    return [content](const fs::path& path) { return WriteFile(path, content), path; };
  };
  const auto zip = [](Entries entries) { return [entries](const fs::path& path) { return Zip(path, entries); }; };
  // Patches the bytes of a written archive.
  const auto patched = [](Entries entries, std::function<void(std::string&)> patch) {
    return [=](const fs::path& path) {
      std::string data = ReadFile(Zip(path, entries));
      patch(data);
      return WriteFile(path, data), path;
    };
  };
  std::string flipped = zipped;
  flipped[flipped.rfind("PK\x01\x02") + 1] ^= 0x55;  // the signature of the last directory entry
  std::string withDoctype = Flat(kFlatRels);
  withDoctype.insert(withDoctype.find("<pkg:package"), "<!DOCTYPE p [<!ENTITY a \"aaaa\">]>");
  std::string varied;
  for (int i = 0; i < 20000; ++i) varied.push_back(char('a' + (i * 7919 % 26)));
  const struct {
    const char* name;
    std::function<fs::path(const fs::path&)> make;
    std::int32_t number;
    const char* cause;
    Limits limits = kDefaultLimits;
    std::vector<const char*> reads = {};  // the last one fails; none: the open fails
  } rows[] = {
      {"empty file", bytes(""), failure::kWin32InvalidData, "is empty"},
      {"OLE compound file", bytes(std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(504, '\0')),
       failure::kEAccessDenied, "is encrypted or is a legacy binary file"},
      {"directory entry flipped", bytes(flipped), failure::kWin32InvalidData, ""},
      {"no [Content_Types].xml", zip({{"ppt/presentation.xml", "<p/>"}}), failure::kWin32InvalidData, "[Content_Types].xml"},
      {"malformed [Content_Types].xml", zip({{"[Content_Types].xml", "<Types><Default"}}), failure::kWin32InvalidData, ""},
      {"wrong root in [Content_Types].xml", zip({{"[Content_Types].xml", "<Other/>"}}), failure::kWin32InvalidData, "Types"},
      {"missing file", [](const fs::path& p) { return p.parent_path() / "missing.pptx"; }, failure::kWin32FileNotFound, ""},
      {"through a file", [](const fs::path& p) { return p.parent_path() / "good.pptx" / "a.pptx"; },
       failure::kWin32PathNotFound, ""},
      {"a folder", [](const fs::path& p) { return p.parent_path(); }, failure::kEAccessDenied, ""},
      {"too many entries", zip(Minimal({{"a", "1"}, {"b", "2"}})), failure::kEOutOfMemory, "maxParts",
       Limits{.maxParts = 4}},
      {"a part too large", zip(Minimal({{"big.bin", std::string(5000, 'x')}})), failure::kEOutOfMemory, "maxPartSize",
       Limits{.maxPartSize = 4096}, {"/big.bin"}},
      {"a zip bomb", zip(Minimal({{"zeros.bin", std::string(100000, '\0')}})), failure::kEOutOfMemory,
       "maxCompressionRatio", Limits{.maxCompressionRatio = 10, .compressionRatioGrace = 1024}, {"/zeros.bin"}},
      {"all parts read together too large",
       zip(Minimal({{"a.bin", std::string(1000, 'a')}, {"b.bin", std::string(1000, 'b')}})), failure::kEOutOfMemory,
       "maxTotalUncompressed", Limits{.maxTotalUncompressed = 2300}, {"/a.bin", "/b.bin"}},
      {"a damaged entry, alone",
       patched(Minimal({{"ppt/varied.txt", varied}}),
               [](std::string& data) { data[data.find("ppt/varied.txt") + 54] ^= 0x20; }),
       failure::kWin32InvalidData, "/ppt/varied.txt", kDefaultLimits, {"/ppt/presentation.xml", "/ppt/varied.txt"}},
      {"flat: not well-formed", bytes(Flat(kFlatRels).substr(0, 150)), failure::kWin32InvalidData, "not well-formed"},
      {"flat: an entity declared", bytes(withDoctype),
       failure::kWin32InvalidData, "DOCTYPE"},
      {"flat: a part without a name", bytes(Flat(kFlatRels + FlatPart("", "AAAA"))), failure::kWin32InvalidData,
       "part 2 has no name"},
      {"flat: a part named twice", bytes(Flat(kFlatRels + FlatPart("/_RELS/.rels", "<b/>"))),
       failure::kWin32InvalidData, "twice"},
      {"flat: a character outside base64", bytes(Flat(kFlatRels + FlatPart("/a.bin", "AA*A"))),
       failure::kWin32InvalidData, "'*'"},
      {"flat: base64 cut short", bytes(Flat(kFlatRels + FlatPart("/a.bin", "AAAAA"))), failure::kWin32InvalidData,
       "does not decode"},
      {"flat: no main part", bytes(Flat(FlatPart("/ppt/presentation.xml", "<p:presentation/>"))),
       failure::kWin32InvalidData, "no main part"},
      {"flat: too many parts", bytes(Flat(kFlatRels + FlatPart("/a", "AAAA") + FlatPart("/b", "AAAA"))),
       failure::kEOutOfMemory, "maxParts", Limits{.maxParts = 2}},
      {"flat: a part too large", bytes(Flat(kFlatRels + FlatPart("/a", std::string(8000, 'A')))),
       failure::kEOutOfMemory, "maxPartSize", Limits{.maxPartSize = 4096}},
      {"flat: too many elements", bytes(Flat(kFlatRels + FlatPart("/a.xml", "<a><b/><b/><b/><b/></a>"))),
       failure::kEOutOfMemory, "elements", Limits{.maxXmlElements = 4, .maxTotalXmlElements = 8}},
  };
  for (const auto& row : rows) {
    const fs::path path = row.make(dir / "input.pptx");
    std::size_t read = 0;
    const Failure failure = FailureOf([&] {
      const auto package = Package::Open(path.string(), row.limits);
      for (const char* part : row.reads) package->ReadPart(part), ++read;
    });
    EXPECT_EQ(read + 1, std::max<std::size_t>(row.reads.size(), 1)) << row.name << ": only the last read fails";
    EXPECT_EQ(failure.number, row.number) << row.name << ": " << failure.description;
    EXPECT_NE(failure.description.find(path.string()), std::string::npos) << row.name << ": " << failure.description;
    EXPECT_NE(failure.description.find(row.cause), std::string::npos) << row.name << ": " << failure.description;
  }
}

// What the office is handed is held to the limits the engine reads with, counted on the XML as it
// streams by: markup inside quotes, comments and CDATA is no element.
TEST(PptxPackage, CheckForOfficeCountsWhatTheOfficeWouldParse) {
  testing::TempFolder dir;
  const std::string manifest =
      "<!DOCTYPE manifest:manifest PUBLIC \"-//OpenOffice.org//DTD Manifest 1.0//EN\" \"Manifest.dtd\">"
      "<manifest:manifest/>";
  const struct { const char* name; Entries entries; Limits limits; const char* refusal;
  } rows[] = {
      {"markup in quotes, comments, CDATA and instructions",
       {{"x.xml", "<a x=\"/>\" y='<b>'><!-- <c><d> --><![CDATA[<e><f>]]><?pi <g>?><h/></a>"}},
       Limits{.maxXmlDepth = 2, .maxXmlElements = 3}, nullptr},
      {"one element too deep", {{"x.xml", "<a><b><c/></b></a>"}}, Limits{.maxXmlDepth = 2}, "maxXmlDepth"},
      {"elements of all parts", {{"x.xml", "<a><b/></a>"}, {"y.xml", "<a><b/></a>"}}, Limits{.maxTotalXmlElements = 3},
       "maxTotalXmlElements"},
      {"a text too long", {{"x.xml", "<a>" + std::string(20, 'x') + "</a>"}}, Limits{.maxTextLength = 19},
       "maxTextLength"},
      {"a text of the limit in multi-byte characters", {{"x.xml", "<a>\u00e9\u00e9\u00e9</a>"}},
       Limits{.maxTextLength = 3}, nullptr},
      {"a DOCTYPE in an Office Open XML part", Minimal({{"x.xml", manifest}}), Limits{}, "DOCTYPE"},
      {"an external DTD in an OpenDocument manifest", {{"mimetype", "x"}, {"META-INF/manifest.xml", manifest}}, Limits{},
       nullptr},
      {"entities declared in an OpenDocument part",
       {{"mimetype", "x"}, {"content.xml", "<!DOCTYPE x [<!ENTITY a \"aaaa\">]><x>&a;</x>"}}, Limits{}, "DOCTYPE"},
  };
  for (const auto& row : rows) {
    const fs::path path = Zip(dir / "office.zip", row.entries);
    const Failure failure = FailureOf([&] { CheckForOffice(path.string(), row.limits, "shown.pptx"); });
    EXPECT_EQ(failure.number != 0, row.refusal != nullptr) << row.name << ": " << failure.description;
    if (row.refusal == nullptr) continue;
    EXPECT_NE(failure.description.find(row.refusal), std::string::npos) << row.name << ": " << failure.description;
    EXPECT_NE(failure.description.find("shown.pptx"), std::string::npos) << row.name << ": " << failure.description;
  }
}

// --- Part names, content types and relationships -------------------------------------------------

// --- Changing and saving -------------------------------------------------------------------------

TEST(PptxPackage, CreatedAndChangedPackagesSaveAndReopenAsTheyWere) {
  testing::TempFolder dir;
  const auto created = Package::Create();
  const std::string image(3000, '\x89'), odd = "/ppt/media/espa\xC3\xB1ol y m\xC3\xA1s.bin";
  const std::tuple<const char*, std::string, std::string> parts[] = {
      {"/ppt/presentation.xml", "<p:presentation/>", std::string(kMainType)},
      {"/ppt/media/image1.png", image, "image/png"},
      {"/ppt/media/odd.png", "not a png", "image/x-odd"}, {"/docProps/app.xml", "<Properties/>", "application/xml"},
      {odd.c_str(), "non-ASCII name", "application/x-bin"}, {"/ppt/embeddings/noextension", "raw", "application/x-raw"},
      {"/ppt/slides/slide1.xml", "<old/>", "application/x-slide"},
      {"/ppt/slides/slide2.xml", "<two/>", "application/x-slide"}};
  for (const auto& [part, bytes, type] : parts) created->SetPart(part, bytes, type);
  created->SetRelationships("/", {{"rId1", std::string(kOfficeDocument), "", false, "/ppt/presentation.xml"}});
  created->SetRelationships("/ppt/slides/slide1.xml", {{"rId1", "t/image", "", false, odd},
                                                       {"rId2", "t/link", "https://e.com/?a=1&b=<2>", true, ""}});
  created->Save((dir / "created.pptx").string());
  const auto opened = Package::Open((dir / "created.pptx").string());
  for (const auto& [part, bytes, type] : parts) {
    EXPECT_EQ(opened->ReadPart(part), bytes) << part;
    EXPECT_EQ(opened->ContentType(part), type) << part;
  }
  // The single-file XML form holds the same parts, in the same order: XML ones inline (read back
  // with a declaration of their own), the rest base64 in lines of 76, byte for byte.
  created->SaveFlat((dir / "created.xml").string());
  const std::string flatText = ReadFile(dir / "created.xml");
  const auto flat = Package::Open((dir / "created.xml").string());
  EXPECT_EQ(flat->PartNames(), created->PartNames());
  for (const auto& [part, bytes, type] : parts) {
    const std::string read = flat->ReadPart(part);
    EXPECT_TRUE(read == bytes || read.ends_with("?>\r\n" + bytes)) << part << ": " << read;
    EXPECT_EQ(flat->ContentType(part), type) << part;
  }
  EXPECT_EQ(flat->Relationships("/ppt/slides/slide1.xml").size(), 2u);
  std::string line;
  while (line.size() < 76) line += "iYmJ";
  for (const std::string& expected :
       {std::string("standalone=\"yes\"?>\r\n<?mso-application progid=\"PowerPoint.Show\"?>"),
        std::string("<pkg:xmlData><p:presentation/></pkg:xmlData>"),
        std::string("/ppt/media/image1.png\" pkg:contentType=\"image/png\" pkg:compression=\"store\"><pkg:binaryData>"),
        "\r\n" + line + "\r\n", std::string("\"application/x-slide\"><pkg:binaryData>")})
    EXPECT_NE(flatText.find(expected), std::string::npos) << expected;
  flat->Save((dir / "from-flat.pptx").string());
  EXPECT_EQ(Package::Open((dir / "from-flat.pptx").string())->ReadPart("/ppt/media/image1.png"), image);

  const std::vector<Relationship> slide = opened->Relationships("/ppt/slides/slide1.xml");
  ASSERT_EQ(slide.size(), 2u);
  EXPECT_EQ(slide[0].target, "../media/espa%C3%B1ol%20y%20m%C3%A1s.bin");
  EXPECT_EQ(slide[0].partName, odd);
  EXPECT_TRUE(slide[1].external);
  EXPECT_EQ(slide[1].target, "https://e.com/?a=1&b=<2>");

  // Changes on an opened package: unchanged parts are copied, a removed part takes its relationships along.
  opened->SetPart("/ppt/slides/slide2.xml", "<two changed/>", {});
  opened->SetPart("/ppt/slides/slide3.xml", "<three/>", "application/x-three");
  opened->RemovePart("/ppt/slides/SLIDE1.xml");
  opened->SetContentType("/ppt/presentation.xml", "application/x-main");
  opened->SetRelationships("/ppt/presentation.xml",
                           {{"rId7", std::string(kSlideType), "", false, "/ppt/slides/slide3.xml"}});
  EXPECT_EQ(FailureOf([&] { opened->SetContentType("/ppt/none.xml", "x/y"); }).number, failure::kWin32InvalidData);
  opened->Save((dir / "first.pptx").string());
  opened->Save((dir / "second.pptx").string());
  const std::string first = ReadFile(dir / "first.pptx");
  EXPECT_EQ(first, ReadFile(dir / "second.pptx")) << "saving is deterministic";
  const auto saved = Package::Open((dir / "first.pptx").string());
  EXPECT_FALSE(saved->HasPart("/ppt/slides/slide1.xml"));
  EXPECT_FALSE(saved->HasPart("/ppt/slides/_rels/slide1.xml.rels"));
  EXPECT_EQ(saved->ReadPart("/ppt/slides/slide2.xml"), "<two changed/>");
  EXPECT_EQ(saved->ReadPart("/ppt/media/image1.png"), image);
  EXPECT_EQ(saved->ContentType("/ppt/presentation.xml"), "application/x-main");
  ASSERT_EQ(saved->Relationships("/ppt/presentation.xml").size(), 1u);
  EXPECT_EQ(saved->Relationships("/ppt/presentation.xml")[0].target, "slides/slide3.xml");
}

TEST(PptxPackage, SavesOverTheirSourceOrFailLeavingNothingBehind) {
  testing::TempFolder dir;
  const fs::path source =
      Zip(dir / "self.pptx", Minimal({{"ppt/slides/slide1.xml", "<old/>"}, {"big.bin", Noise(100000)}}));
  const auto package = Package::Open(source.string());
  package->SetPart("/ppt/slides/slide1.xml", "<new/>", {});
  package->Save(source.string());
  package->Save(source.string());  // again, from the same (old) source, which the package still reads
  EXPECT_EQ(package->ReadPart("/big.bin"), Noise(100000));
  EXPECT_EQ(Package::Open(source.string())->ReadPart("/ppt/slides/slide1.xml"), "<new/>");
  const std::string before = ReadFile(source);
  fs::create_directory(dir / "folder");
  WriteFile(dir / "readonly.pptx", "protected");
  fs::permissions(dir / "readonly.pptx", fs::perms::owner_read | fs::perms::group_read);
  const auto limited = [&](std::uint64_t size) { return Package::Open(source.string(), Limits{.maxSaveSize = size}); };
  const struct { const char* name; std::string path; std::int32_t number; std::shared_ptr<Package> package;
  } rows[] = {
      {"missing folder", (dir / "missing" / "out.pptx").string(), failure::kWin32PathNotFound, package},
      {"through a file", (source / "out.pptx").string(), failure::kWin32PathNotFound, package},
      {"a folder", (dir / "folder").string(), failure::kEAccessDenied, package},
      {"ends in a slash", dir.path().string() + "/", failure::kWin32PathNotFound, package},
      {"a read-only file", (dir / "readonly.pptx").string(), failure::kEAccessDenied, package},
      {"the parts alone pass the byte limit", (dir / "out.pptx").string(), failure::kEOutOfMemory,
       limited(fs::file_size(source) / 2)},
      {"the parts fit, the archive does not", (dir / "out.pptx").string(), failure::kEOutOfMemory,
       limited(fs::file_size(source) - 200)},
  };
  for (const auto& row : rows) {
    const Failure failure = FailureOf([&] { row.package->Save(row.path); });
    EXPECT_EQ(failure.number, row.number) << row.name << ": " << failure.description;
    EXPECT_NE(failure.description.find(row.number == failure::kEOutOfMemory ? "maxSaveSize" : row.path),
              std::string::npos)
        << row.name << ": " << failure.description;
  }
  EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"folder", "readonly.pptx", "self.pptx"}));
  EXPECT_TRUE(fs::is_empty(dir / "folder"));
  EXPECT_EQ(ReadFile(dir / "readonly.pptx"), "protected");
  EXPECT_EQ(ReadFile(source), before);
}

TEST(PptxPackage, DiskFullFailsTheSaveAndLeavesNothing) {
  testing::TempFolder dir;
  const auto package = Package::Create();
  package->SetPart("/noise.bin", Noise(300000), "application/x-noise");
  // A file size limit makes writes fail as a full disk does (EFBIG instead of ENOSPC).
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 64 * 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const Failure failure = FailureOf([&] { package->Save((dir / "full.pptx").string()); });
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previousHandler);
  EXPECT_EQ(failure.number, failure::kWin32DiskFull) << failure.description;
  EXPECT_NE(failure.description.find("full.pptx"), std::string::npos) << failure.description;
  EXPECT_TRUE(Listing(dir.path()).empty());
}

// --- Real files ----------------------------------------------------------------------------------

// Inputs the fuzzer once found troublesome: each opens or is refused with a package failure, and
// whatever opens reads, lists relationships and saves without crashing.
TEST(PptxPackage, FuzzRegressionsReplay) {
  const fs::path folder = fs::path(QUORVANE_FUZZ_REGRESSIONS_DIR) / "package";
  ASSERT_TRUE(fs::is_directory(folder)) << folder;
  testing::TempFolder dir;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const Failure failure = FailureOf([&] {
      const auto package =
          Package::Open(entry.path().string(), Limits{.maxTotalUncompressed = 64u << 20, .maxPartSize = 16u << 20});
      for (const std::string& name : package->PartNames()) {
        FailureOf([&] { package->ReadPart(name); });
        FailureOf([&] { package->Relationships(name); });
        package->ContentType(name);
      }
      FailureOf([&] { package->Relationships("/"); });
      package->Save((dir / "out.pptx").string());
    });
    const std::int32_t allowed[] = {0, failure::kWin32FileNotFound, failure::kWin32PathNotFound, failure::kEAccessDenied,
                                    failure::kWin32InvalidData, failure::kEOutOfMemory, failure::kWin32DiskFull};
    EXPECT_NE(std::find(std::begin(allowed), std::end(allowed), failure.number), std::end(allowed))
        << entry.path().filename() << ": " << failure.number << " " << failure.description;
  }
}

}  // namespace
}  // namespace quorvane::engines::pptx

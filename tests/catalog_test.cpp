// Both catalogues row by row, the catalogue members of the control, and error reporting.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "control/control.hpp"
#include "quorvane/catalog.hpp"
#include "quorvane/control.hpp"

namespace quorvane {
namespace {

struct FileTypeRow {
  std::int32_t code;
  const char16_t* description;  // long list
  int longPosition, shortPosition;  // 0: not in that list
  const char16_t* extension;
  bool singleFile;
};

// The whole catalogue, as a host reads it.
constexpr std::array<FileTypeRow, 36> kCatalogue{{
    {1, u"PPT-Power Point File", 3, 13, u"ppt", true},
    {2, u"PPT-PowerPoint 95", 29, 15, u"ppt", true},
    {3, u"PPT-PowerPoint v4", 31, 18, u"ppt", true},
    {4, u"PPT-PowerPoint v3", 32, 19, u"ppt", true},
    {5, u"POT-Design Template", 8, 16, u"pot", true},
    {6, u"RTF/DOC-Rich Text Format", 21, 1, u"rtf", true},
    {7, u"PPS-PowerPoint Show", 11, 12, u"pps", true},
    {10, u"PowerPoint Far East", 30, 17, u"ppt", true},
    {12, u"HTM-Single File Web Page", 25, 3, u"htm", true},
    {13, u"HTML v3-Web Page", 26, 4, u"htm", true},
    {14, u"HTML Dual-Web Page", 27, 5, u"htm", true},
    {15, u"WMF-Windows Metafile", 18, 10, u"wmf", false},
    {16, u"GIF-Graphics Interchange Format", 14, 6, u"gif", false},
    {17, u"JPEG-File Interchange Format", 15, 7, u"jpg", false},
    {18, u"PNG-Portable Network Graphics Format", 19, 11, u"png", false},
    {19, u"BMP-Bitmap Format", 16, 8, u"bmp", false},
    {20, u"MHT-Web Archive", 28, 14, u"mht", false},
    {21, u"TIF-Tag Image File Format", 17, 9, u"tif", false},
    {24, u"PPTX-PowerPoint File", 1, 0, u"pptx", true},
    {25, u"PPTM-PowerPoint File macro enabled", 2, 0, u"pptm", true},
    {26, u"POTX-PowerPoint Template", 6, 0, u"potx", true},
    {27, u"POTM-PowerPoint Template Macro", 7, 0, u"potm", true},
    {28, u"PPSX-PowerPoint Show", 9, 0, u"ppsx", true},
    {29, u"PPSM-PowerPoint Show", 10, 0, u"ppsm", true},
    {32, u"PDF-Using PowerPoint", 4, 0, u"pdf", true},
    {33, u"XPS Document", 5, 0, u"xps", true},
    {34, u"XML-PowerPoint Presentation", 12, 0, u"xml", true},
    {35, u"ODP-Open Document Presentation", 23, 0, u"odp", true},
    {36, u"PPTX-PowerPoint Picture Presentation", 22, 0, u"xml", true},
    {37, u"WMV-Windows Media Video", 13, 0, u"wmv", true},
    {100, u"EMF-Enhanced Windows Meta File", 20, 20, u"emf", false},
    {101, u"DOC-Word Doc export", 33, 21, u"doc", true},
    {106, u"RTF-Word export, Rich Text Format", 35, 23, u"rtf", true},
    {107, u"Unicode Text", 36, 24, u"txt", true},
    {108, u"HTML-Word export", 34, 22, u"htm", true},
    {200, u"TXT-Text Format", 24, 2, u"txt", true},
}};

std::string Utf8(std::u16string_view s) { return std::string(s.begin(), s.end()); }  // ASCII texts only

TEST(FileTypeCatalogue, EveryRowAtItsPositionsWithItsExtension) {
  const auto longList = catalog::FileTypeList(true);
  const auto shortList = catalog::FileTypeList(false);
  ASSERT_EQ(longList.size(), 36u);
  ASSERT_EQ(shortList.size(), 24u);
  for (const auto& row : kCatalogue) {
    SCOPED_TRACE("code " + std::to_string(row.code));
    const auto& l = longList[row.longPosition - 1];
    EXPECT_EQ(l.code, row.code);
    EXPECT_EQ(Utf8(l.description), Utf8(row.description));
    if (row.shortPosition > 0) {
      const auto& s = shortList[row.shortPosition - 1];
      EXPECT_EQ(s.code, row.code);
      const std::u16string expected = row.code == 6 ? u"RTF/DOC - Rich Text Format" : row.description;
      EXPECT_EQ(Utf8(s.description), Utf8(expected));
    }
    EXPECT_EQ(Utf8(catalog::Extension(row.code)), Utf8(row.extension));
    EXPECT_EQ(catalog::SupportsSingleFileOutput(row.code), row.singleFile);
  }
}

TEST(FileTypeCatalogue, CodesOutsideTheListsHaveNoExtensionExcept8And11) {
  EXPECT_EQ(catalog::Extension(8), u"ppa");
  EXPECT_EQ(catalog::Extension(11), u"ppt");
  for (std::int32_t code : {9, 22, 23, 30, 31, 38, 99, 102, 105, 109, 199, 201, 9999, 0, -1, INT32_MIN, INT32_MAX})
    EXPECT_EQ(catalog::Extension(code), u"") << code;
}

TEST(FileTypeCatalogue, SingleFileAnswerIsARangeTest) {
  for (std::int32_t code = -3; code <= 250; ++code) {
    const bool expected = !((code >= 15 && code <= 21) || code == 100);
    QuorvaneX x;
    std::int32_t c = code;
    EXPECT_EQ(x.FileTypeSupportsSingleFileOutput(c), expected ? kVariantTrue : kVariantFalse) << code;
    EXPECT_EQ(c, code);
  }
}

TEST(FileTypeCatalogue, LookUpSaveAsExtensionWithAndWithoutWildcard) {
  struct Row {
    std::int32_t code;
    VariantBool wildcard;
    std::u16string expected;
  };
  const Row rows[] = {
      {17, 0, u"jpg"}, {17, -1, u"*.jpg"}, {23, -1, u"*."}, {23, 0, u""}, {107, 0, u"txt"}, {200, 0, u"txt"},
      {106, 0, u"rtf"}, {108, 0, u"htm"}, {36, 0, u"xml"}, {24, 1, u"pptx"}, {24, -2, u"pptx"}, {8, -1, u"*.ppa"},
  };
  QuorvaneX x;
  for (const auto& row : rows) {
    std::int32_t code = row.code;
    VariantBool wildcard = row.wildcard;
    EXPECT_EQ(Utf8(x.LookUpSaveAsExtension(code, wildcard)), Utf8(row.expected)) << row.code << "/" << row.wildcard;
    EXPECT_EQ(code, row.code);
    EXPECT_EQ(wildcard, row.wildcard);
  }
}

TEST(FileTypeCatalogue, GetFileTypeWithoutPowerPointOffersTheLongList) {
  QuorvaneX x;  // no PowerPoint: the version cannot be read, so the long list is offered
  const Variant count = x.get_lNumberOfFileTypes();
  EXPECT_EQ(count.vt(), VT_I2);
  EXPECT_EQ(count.integer(), 36);
  struct Row {
    std::int32_t position;
    bool written;
    std::int32_t code;
    std::u16string description;
  };
  const Row rows[] = {
      {1, true, 24, u"PPTX-PowerPoint File"}, {21, true, 6, u"RTF/DOC-Rich Text Format"},
      {36, true, 107, u"Unicode Text"},       {0, false, 0, u""},
      {37, false, 0, u""},                    {-1, false, 0, u""},
  };
  for (const auto& row : rows) {
    std::u16string description = u"unchanged";
    std::int32_t code = 12345;
    EXPECT_EQ(x.GetFileType(row.position, description, code), kVariantTrue) << row.position;
    EXPECT_EQ(code, row.written ? row.code : 12345) << row.position;
    EXPECT_EQ(Utf8(description), Utf8(row.written ? row.description : u"unchanged")) << row.position;
  }
}

TEST(ErrorCatalogue, MessagesExactlyAndCount17) {
  const std::array<const char16_t*, 18> messages{
      u"Unable to open necessary ZEB DLL",
      u"Input file name not provided.",
      u"Output file name not provided.",
      u"AVAILABLE FOR USAGE IN GETERRRORSTRING()",
      u"Input file not found. Please check the path",
      u"Input and Output Filename are same",
      u"Invalid Extension Number",
      u"Invalid Extension Index",
      u"Please ensure MS-Word and MS-Powerpoint are installed in the system before performing this conversion.",
      u"Conversion Failed. PowerPoint installed?",
      u"Output path not found",
      u"Unable to create PowerPoint application...is it installed?",
      u"Unable to destroy PowerPoint application...",
      u"Unable to Create Word application...is it installed?",
      u"Unable to destroy Word application.",
      u"Unable to convert to file type specified. PowerPoint version may not support it.",
      u"PowerPoint can't export the slide(s) because no installed converter supports this file type.",
      u"Target file is read only.",
  };
  QuorvaneX x;
  EXPECT_EQ(x.GetAllPossibleErrorsCount(), 17);
  for (int i = 0; i < 18; ++i) {
    Variant code(static_cast<std::int32_t>(-1 - i));
    EXPECT_EQ(Utf8(x.GetErrorString(code)), Utf8(messages[i])) << -1 - i;
    EXPECT_EQ(catalog::Errors()[i].code, -1 - i);
  }
}

TEST(ErrorCatalogue, GetErrorStringComparesNumerically) {
  struct Row {
    const char* name;
    Variant value;
    std::u16string expected;
  };
  std::int16_t refI2 = -6;
  Variant inner(static_cast<std::int32_t>(-18));
  const Row rows[] = {
      {"I2", Variant(static_cast<std::int16_t>(-6)), u"Input and Output Filename are same"},
      {"I4", Variant(static_cast<std::int32_t>(-6)), u"Input and Output Filename are same"},
      {"I1", Variant::Integer(VT_I1, -5), u"Input file not found. Please check the path"},
      {"I8", Variant::Integer(VT_I8, -10), u"Conversion Failed. PowerPoint installed?"},
      {"R8 integral", Variant(-2.0), u"Input file name not provided."},
      {"R4 integral", Variant(-3.0f), u"Output file name not provided."},
      {"R8 fraction", Variant(-2.5), u""},
      {"Bool true is -1", Variant::Bool(-1), u"Unable to open necessary ZEB DLL"},
      {"by-ref I2", Variant::ByRef(&refI2), u"Input and Output Filename are same"},
      {"by-ref variant", Variant::ByRef(&inner), u"Target file is read only."},
      {"numeric text", Variant(u"-11"), u"Output path not found"},
      {"other text", Variant(u"minus five"), u""},
      {"zero", Variant(static_cast<std::int32_t>(0)), u""},
      {"one", Variant(static_cast<std::int32_t>(1)), u""},
      {"-19", Variant(static_cast<std::int32_t>(-19)), u""},
      {"UI4 wraps to no code", Variant::Integer(VT_UI4, 0xFFFFFFFFu), u""},
      {"empty", Variant(), u""},
      {"null", Variant::Null(), u""},
  };
  QuorvaneX x;
  x.put_ErrorString(u"kept");
  for (auto row : rows) {
    const Variant before = row.value;
    EXPECT_EQ(Utf8(x.GetErrorString(row.value)), Utf8(row.expected)) << row.name;
    EXPECT_EQ(row.value, before) << row.name << ": argument changed";
  }
  EXPECT_EQ(x.get_ErrorString(), u"kept");
}

TEST(ErrorReporting, RaiseErrorStoresTextThenRaisesOnErrorWithErrorStringItself) {
  struct Row {
    const char* name;
    std::int32_t code;
    std::u16string text;
    std::u16string expected;
  };
  const Row rows[] = {
      {"catalogue text", -5, u"", u"Input file not found. Please check the path"},
      {"own text wins", -10, u"Presentations.Open : file missing", u"Presentations.Open : file missing"},
      {"code outside the table", -99, u"", u""},
  };
  for (const auto& row : rows) {
    QuorvaneX x;
    struct Sink : QuorvaneXEvents {
      void onerror(std::int32_t& n, std::u16string& t) override {
        seen.emplace_back(n, t);
        n = 42;  // changes nothing the component uses
      }
      std::vector<std::pair<std::int32_t, std::u16string>> seen;
    };
    auto sink = std::make_shared<Sink>();
    x.Advise(sink);
    x.internal().RaiseError(row.code, row.text);
    ASSERT_EQ(sink->seen.size(), 1u) << row.name;
    EXPECT_EQ(sink->seen[0].first, row.code) << row.name;
    EXPECT_EQ(sink->seen[0].second, row.expected) << row.name;
    EXPECT_EQ(x.get_ErrorString(), row.expected) << row.name;
  }
}

TEST(ErrorReporting, HandlerAssigningTheTextChangesErrorString) {
  QuorvaneX x;
  struct Rewriter : QuorvaneXEvents {
    void onerror(std::int32_t&, std::u16string& t) override { t = u"host's own words"; }
  };
  x.Advise(std::make_shared<Rewriter>());
  x.internal().RaiseError(-3, {});
  EXPECT_EQ(x.get_ErrorString(), u"host's own words");
}

}  // namespace
}  // namespace quorvane

// The catalogues as the control answers from them: the two file type lists, extensions with and
// without wildcard, the single-file rule, and error texts by any numeric argument. How a report
// reaches the host is tested with the converters and the C interface.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <string_view>

#include "control/control.hpp"
#include "engines/pptx/model_write.hpp"
#include "engines/shared/render_bridge.hpp"
#include "quorvane/catalog.hpp"
#include "quorvane/control.hpp"

#if defined(QUORVANE_ENGINE_LIBREOFFICE)
#include "engines/libreoffice/renderer.hpp"
#endif

namespace quorvane {
namespace {

std::string Utf8(std::u16string_view s) { return std::string(s.begin(), s.end()); }  // ASCII texts only

// The short list is part of the long one; every code has one entry and an extension; codes outside the
// list have none; picture codes (15 to 21 and 100) cannot be written to a single file.
TEST(FileTypeCatalogue, ListsExtensionsAndTheSingleFileRule) {
  std::set<std::int32_t> codes;
  for (const auto& entry : catalog::FileTypeList(true)) {
    EXPECT_TRUE(codes.insert(entry.code).second) << entry.code << " twice";
    EXPECT_NE(catalog::Extension(entry.code), u"") << entry.code;
  }
  for (const auto& entry : catalog::FileTypeList(false)) EXPECT_TRUE(codes.count(entry.code)) << entry.code;
  for (const std::int32_t code : {9, 22, 38, 102, 201, 0, INT32_MIN}) EXPECT_EQ(catalog::Extension(code), u"") << code;
  QuorvaneX x;
  for (std::int32_t code = -3; code <= 250; ++code) {
    std::int32_t c = code;
    const bool single = !((code >= 15 && code <= 21) || code == 100);
    EXPECT_EQ(x.FileTypeSupportsSingleFileOutput(c), single ? kVariantTrue : kVariantFalse) << code;
  }
}

// What the table of formats cannot state by itself: every code a list offers has a row, the
// command's names each name one code and can be typed, a save has a registered writer exactly
// where the table names an engine for it, and picture targets use filters the renderer serves.
TEST(FormatTable, AgreesWithTheListsTheCommandAndTheEngines) {
  using catalog::Engine;
  using catalog::Route;
  engines::render_bridge::RegisterSaveFormats();
  const bool renderer = engines::render_bridge::RendererBuiltIn();
  std::set<std::int32_t> codes;
  std::set<std::string_view> names;
  for (const catalog::Format& format : catalog::Formats()) {
    const std::string row = std::to_string(format.code);
    EXPECT_TRUE(codes.insert(format.code).second) << row << ": two rows";
    const std::string_view name = format.commandName;
    EXPECT_TRUE(name.empty() || names.insert(name).second) << row << ": '" << name << "' names another code too";
    // The command lowers what it is given before it compares.
    EXPECT_TRUE(std::none_of(name.begin(), name.end(), [](char c) { return c >= 'A' && c <= 'Z'; })) << row;
    if (format.route == Route::SaveAs) {
      const bool served = format.engine == Engine::Native ||
                          (renderer && (format.engine == Engine::Renderer || format.engine == Engine::FromPictures));
      EXPECT_EQ(static_cast<bool>(engines::pptx::FindSaveFormat(format.code)), served) << row << ": writer";
    }
    if (format.route == Route::SlidePictures) {
      EXPECT_FALSE(format.singleFile) << row;
#if defined(QUORVANE_ENGINE_LIBREOFFICE)
      EXPECT_NE(engines::libreoffice::FindPictureFilter(Utf8(format.filterName)), nullptr) << row << ": filter";
#endif
    }
  }
  for (const bool longList : {true, false})
    for (const auto& entry : catalog::FileTypeList(longList))
      EXPECT_TRUE(codes.contains(entry.code)) << entry.code << ": offered without a row";
}

TEST(FileTypeCatalogue, LookUpSaveAsExtensionAndGetFileTypeWithoutPowerPoint) {
  const struct {
    std::int32_t code; VariantBool wildcard; std::u16string expected;
  } rows[] = {{17, 0, u"jpg"}, {17, -1, u"*.jpg"}, {23, -1, u"*."}, {23, 0, u""}, {24, 1, u"pptx"}, {24, -2, u"pptx"}};
  QuorvaneX x;
  for (const auto& row : rows) {
    std::int32_t code = row.code;
    VariantBool wildcard = row.wildcard;
    EXPECT_EQ(Utf8(x.LookUpSaveAsExtension(code, wildcard)), Utf8(row.expected)) << row.code << "/" << row.wildcard;
    EXPECT_EQ(code, row.code);
    EXPECT_EQ(wildcard, row.wildcard);
  }
  EXPECT_EQ(x.get_lNumberOfFileTypes().vt(), VT_I2);
  EXPECT_EQ(x.get_lNumberOfFileTypes().integer(), 36);  // no PowerPoint: the long list
  const struct {
    std::int32_t position, code; std::u16string description;
  } positions[] = {{1, 24, u"PPTX-PowerPoint File"}, {36, 107, u"Unicode Text"}, {0, 1, u"unchanged"},
                   {37, 1, u"unchanged"}};
  for (const auto& row : positions) {
    std::u16string description = u"unchanged";
    std::int32_t code = 1;
    EXPECT_EQ(x.GetFileType(row.position, description, code), kVariantTrue) << row.position;
    EXPECT_EQ(code, row.code) << row.position;
    EXPECT_EQ(Utf8(description), Utf8(row.description)) << row.position;
  }
}

TEST(ErrorCatalogue, GetErrorStringComparesNumerically) {
  std::int16_t refI2 = -6;
  Variant inner(static_cast<std::int32_t>(-18));
  const struct {
    const char* name; Variant value; std::u16string expected;
  } rows[] = {
      {"I2", Variant(static_cast<std::int16_t>(-6)), u"Input and Output Filename are same"},
      {"I1", Variant::Integer(VT_I1, -5), u"Input file not found. Please check the path"},
      {"I8", Variant::Integer(VT_I8, -10), u"Conversion Failed. PowerPoint installed?"},
      {"R8 integral", Variant(-2.0), u"Input file name not provided."},
      {"R4 integral", Variant(-3.0f), u"Output file name not provided."}, {"R8 fraction", Variant(-2.5), u""},
      {"Bool true is -1", Variant::Bool(-1), u"Unable to open necessary ZEB DLL"},
      {"by-ref I2", Variant::ByRef(&refI2), u"Input and Output Filename are same"},
      {"by-ref variant", Variant::ByRef(&inner), u"Target file is read only."},
      {"numeric text", Variant(u"-11"), u"Output path not found"}, {"other text", Variant(u"minus five"), u""},
      {"zero", Variant(0), u""}, {"-19", Variant(-19), u""},
      {"UI4 wraps to no code", Variant::Integer(VT_UI4, 0xFFFFFFFFu), u""}, {"null", Variant::Null(), u""},
  };
  QuorvaneX x;
  x.put_ErrorString(u"kept");
  EXPECT_EQ(x.GetAllPossibleErrorsCount(), 17);
  for (auto row : rows) {
    const Variant before = row.value;
    EXPECT_EQ(Utf8(x.GetErrorString(row.value)), Utf8(row.expected)) << row.name;
    EXPECT_EQ(row.value, before) << row.name << ": argument changed";
  }
  EXPECT_EQ(x.get_ErrorString(), u"kept");
}

}  // namespace
}  // namespace quorvane

// The error catalogue, defined once.
#include <array>

#include "quorvane/catalog.hpp"

namespace quorvane::catalog {
namespace {

constexpr std::array<ErrorEntry, 18> kErrors{{
    {kDllNotOpened, u"Unable to open necessary ZEB DLL"},
    {kInputFileNameMissing, u"Input file name not provided."},
    {kOutputFileNameMissing, u"Output file name not provided."},
    {kReserved, u"AVAILABLE FOR USAGE IN GETERRRORSTRING()"},
    {kInputFileNotFound, u"Input file not found. Please check the path"},
    {kInputSameAsOutput, u"Input and Output Filename are same"},
    {kInvalidExtensionNumber, u"Invalid Extension Number"},
    {kInvalidExtensionIndex, u"Invalid Extension Index"},
    {kOfficeNotInstalled,
     u"Please ensure MS-Word and MS-Powerpoint are installed in the system before performing this conversion."},
    {kConversionFailed, u"Conversion Failed. PowerPoint installed?"},
    {kOutputPathNotFound, u"Output path not found"},
    {kPowerPointNotCreated, u"Unable to create PowerPoint application...is it installed?"},
    {kPowerPointNotDestroyed, u"Unable to destroy PowerPoint application..."},
    {kWordNotCreated, u"Unable to Create Word application...is it installed?"},
    {kWordNotDestroyed, u"Unable to destroy Word application."},
    {kFileTypeNotConverted, u"Unable to convert to file type specified. PowerPoint version may not support it."},
    {kNoSlideExportConverter,
     u"PowerPoint can't export the slide(s) because no installed converter supports this file type."},
    {kTargetReadOnly, u"Target file is read only."},
}};
// -1 to -18 in that order: GetErrorString's search and the hosts that list the codes rely on it.
constexpr bool CodesInOrder() {
  for (std::size_t i = 0; i < kErrors.size(); ++i)
    if (kErrors[i].code != -static_cast<std::int32_t>(i + 1)) return false;
  return true;
}
static_assert(kErrors.size() == 18 && CodesInOrder());

}  // namespace

std::span<const ErrorEntry> Errors() { return kErrors; }

std::u16string_view ErrorMessage(std::int64_t code) {
  for (const auto& row : kErrors)
    if (row.code == code) return row.message;
  return {};
}

}  // namespace quorvane::catalog
